#pragma once
// The SDL2 window system: one SDL window with an OpenGL 3.3 core context as the device's
// surface. SDL's events become the framework's window messages, the one set of input the
// framework and the application handle:
//   key press          -> WM_KEYDOWN (VK code); Enter, Escape, Backspace and Tab also WM_CHAR
//   text input         -> one WM_CHAR per Windows-1250 byte (other characters dropped)
//   mouse              -> WM_*BUTTONDOWN/UP, WM_*BUTTONDBLCLK for a second click within
//                         SDL's double-click time, WM_MOUSEMOVE, WM_MOUSEWHEEL (120 a notch)
//   focus gained/lost  -> WM_ACTIVATE active/inactive
//   minimise/maximise/restore -> WM_SIZE with the three size kinds
//   a size change      -> WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE (which ends in the client-size check)
//   close, SIGINT      -> WM_CLOSE
// The keyboard snapshot is SDL_GetKeyboardState mapped to DIK codes; it reads only while the
// window has the keyboard focus (DirectInput's foreground cooperation).
// Main thread only.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/WindowSystem.h"

union SDL_Event;
struct SDL_WindowEvent;
struct SDL_KeyboardEvent;
struct SDL_MouseButtonEvent;
struct SDL_MouseWheelEvent;

namespace frame {

class SdlWindowSystem : public WindowSystem {
 public:
  SdlWindowSystem();
  ~SdlWindowSystem() override;

  bool OpenDisplay(std::string& reason) override;
  void CloseDisplay() override;
  bool RegisterClass(std::string_view className, bool closeBox, std::string& reason) override;
  void UnregisterClass() override;
  bool CreateWindow(std::string_view title, const WindowStyle& style, int clientWidth, int clientHeight,
                    std::string& reason) override;
  void DestroyWindow() override;
  bool HasWindow() const override;
  bool PeekMessage(Message& out) override;
  bool GetMessage(Message& out) override;
  void PostClose() override;
  void PostQuit(int code) override;
  void SetTimer(unsigned id, unsigned periodMs) override;
  void KillTimer(unsigned id) override;
  std::intptr_t DefaultProc(const Message& message) override;
  void GetClientSize(int& width, int& height) override;
  Rect GetWindowRect() override;
  void SetStyle(const WindowStyle& style) override;
  void PlaceTopLeft(int clientWidth, int clientHeight) override;
  int ShowCursor(bool show) override;
  void SetCursorPos(Point screen) override;
  Point GetCursorPos() override;
  Point ScreenToClient(Point screen) override;
  Point ClientToScreen(Point client) override;
  void SetCapture() override;
  void ReleaseCapture() override;
  bool IsControlDown() override;
  bool GetSystemSetting(SystemSetting which, unsigned& value) override;
  bool AcquireKeyboard() override;
  void UnacquireKeyboard() override;
  bool GetKeyboardState(unsigned char keys[256]) override;
  int DisplayModeCount() override;
  bool GetDisplayMode(int index, DisplayMode& out) override;
  gfx::Surface* GetSurface() override;
  void ShowErrorBox(std::string_view title, std::string_view text) override;

  // Why the last GetSurface returned null (SDL's own text), for diagnostics.
  const std::string& SurfaceError() const { return surfaceError; }

 private:
  struct Impl;
  // Moves due timers and SDL's waiting events into the queue; true when it is not empty.
  bool Fill(bool wait);
  // One SDL event of our window as the messages it stands for (none for most).
  void Translate(const SDL_Event& event);
  void TranslateWindow(const SDL_WindowEvent& event);
  void TranslateKey(const SDL_KeyboardEvent& event);
  void TranslateButton(const SDL_MouseButtonEvent& event);
  void TranslateWheel(const SDL_MouseWheelEvent& event);
  void Push(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

  std::unique_ptr<Impl> impl;
  std::deque<Message> queue;
  std::string surfaceError;
};

// The SDL scan code that stands for a DIK code (0 when none does), and the VK code of an SDL
// key (0 when the program has none for it). Exposed for tests of the tables.
int ScancodeForDik(unsigned char dik);
unsigned VkForSdlKey(int sdlKeycode);

}  // namespace frame
