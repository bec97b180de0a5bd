#pragma once
// Input: the keyboard as a snapshot of 256 key states (DIK codes) taken once per update,
// and the mouse decoded from window messages, with a capture mode in which the system
// cursor is hidden and pinned to the middle of the window while every move is reported as
// a movement from that point (camera dragging). Module-level state on the main thread;
// the window is the framework's (frame::GetWindow), activity is frame::IsActive.

#include <cstdint>

#include "framework/WindowSystem.h"

namespace input {

using Point = frame::Point;

// Creates and acquires the keyboard (frame::Run, after the window exists).
void Create();
// Releases the keyboard (the framework's shutdown).
void Release();
// Takes a keyboard snapshot; a failed one reads every key as up until re-activation.
void Poll();
// 1 when the key (DIK code) was down in the last snapshot, else 0.
int IsKeyDown(unsigned char code);

bool IsCaptured();
void SetCapture(bool on);

// The cursor in client coordinates (the virtual cursor while captured and active).
Point GetCursor();
void SetCursor(Point client);

// WM_MOUSEMOVE's lParam -> the position, or while captured the movement from the centre;
// recentred says that the cursor was pinned back, so the next move is synthetic.
Point DecodeMove(std::intptr_t lParam, bool& recentred);
// A button message's lParam -> its position (the virtual cursor while captured).
Point DecodeButton(std::intptr_t lParam);
// WM_MOUSEWHEEL -> position, and amount in lines (one notch forward: +wheelLines).
Point DecodeWheel(std::uintptr_t wParam, std::intptr_t lParam, float& amount);
// The lines one notch of the wheel scrolls (the system's setting, 3 without one; may be 0).
unsigned WheelLines();

// Activation hooks, called by the framework.
void OnActivate();
void OnDeactivate();

}  // namespace input

namespace input::test_seam {
// Back to the state at program start (no keyboard, capture off, every key up).
void ResetState();
}  // namespace input::test_seam
