#include "framework/Input.h"

#include <cstring>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "framework/FrameObject.h"

namespace input {

namespace {

struct State {
  bool keyboardCreated = false;
  bool keyboardAcquired = false;
  unsigned char keys[256] = {};

  bool captureMode = false;
  Point virtualCursor;
  Point centre;
  unsigned wheelLines = 3;
};

State& S() {
  static State state;
  return state;
}

// Pins the system cursor to the middle of the window's rectangle (frame included, as the
// window manager reports it) and remembers that point in client coordinates.
void CentreCursor() {
  frame::WindowSystem* window = frame::GetWindow();
  if (!window) return;
  const frame::Rect r = window->GetWindowRect();
  const Point centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  window->SetCursorPos(centre);
  S().centre = window->ScreenToClient(centre);
}

}  // namespace

void Create() {
  State& s = S();
  frame::WindowSystem* window = frame::GetWindow();
  unsigned lines = 0;
  s.wheelLines = window && window->GetSystemSetting(frame::SystemSetting::WheelScrollLines, lines) ? lines : 3;
  if (!window) {
    // The keyboard belongs to the window: without one there is nothing to read.
    ErrorRaiseDirectX(E_FAIL, "Nie można utworzyć klawiatury DirectInput."_cp, "", 0);
  } else {
    s.keyboardAcquired = window->AcquireKeyboard();
    s.keyboardCreated = true;
  }
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Release() {
  State& s = S();
  s.keyboardCreated = false;
  if (s.keyboardAcquired) {
    if (frame::WindowSystem* window = frame::GetWindow()) window->UnacquireKeyboard();
  }
  s.keyboardAcquired = false;
}

void Poll() {
  State& s = S();
  if (!s.keyboardAcquired) return;
  frame::WindowSystem* window = frame::GetWindow();
  if (!window || !window->GetKeyboardState(s.keys)) {
    // Lost with the focus: every key reads as up until the next activation acquires again.
    std::memset(s.keys, 0, sizeof s.keys);
    s.keyboardAcquired = false;
  }
}

int IsKeyDown(unsigned char code) { return (S().keys[code] & 0x80) != 0 ? 1 : 0; }

bool IsCaptured() { return S().captureMode; }

Point GetCursor() {
  State& s = S();
  if (s.captureMode && frame::IsActive()) return s.virtualCursor;
  frame::WindowSystem* window = frame::GetWindow();
  if (!window) return Point{};
  return window->ScreenToClient(window->GetCursorPos());
}

void SetCursor(Point client) {
  State& s = S();
  if (!frame::IsActive()) return;
  if (s.captureMode) {
    s.virtualCursor = client;
  } else if (frame::WindowSystem* window = frame::GetWindow()) {
    window->SetCursorPos(window->ClientToScreen(client));
  }
}

void SetCapture(bool on) {
  State& s = S();
  frame::WindowSystem* window = frame::GetWindow();
  if (on) {
    if (s.captureMode) return;
    s.virtualCursor = GetCursor();
    CentreCursor();
    if (frame::IsActive() && window) window->ShowCursor(false);
    s.captureMode = true;
  } else {
    if (!s.captureMode) return;
    s.captureMode = false;
    // Puts the system cursor back where the virtual one is (when active).
    SetCursor(s.virtualCursor);
    if (window) window->ShowCursor(true);
  }
}

Point DecodeMove(std::intptr_t lParam, bool& recentred) {
  State& s = S();
  const Point position{frame::LowWordSigned(lParam), frame::HighWordSigned(lParam)};
  recentred = false;
  if (s.captureMode) {
    if (!frame::IsActive()) return Point{};
    const Point delta{position.x - s.centre.x, position.y - s.centre.y};
    CentreCursor();
    recentred = true;
    return delta;
  }
  return position;
}

Point DecodeButton(std::intptr_t lParam) {
  State& s = S();
  if (s.captureMode && frame::IsActive()) return s.virtualCursor;
  return Point{frame::LowWordSigned(lParam), frame::HighWordSigned(lParam)};
}

Point DecodeWheel(std::uintptr_t wParam, std::intptr_t lParam, float& amount) {
  const int delta = frame::HighWordSigned(static_cast<std::intptr_t>(wParam));
  amount = static_cast<float>(delta / 120.0 * S().wheelLines);
  return DecodeButton(lParam);
}

unsigned WheelLines() { return S().wheelLines; }

void OnActivate() {
  State& s = S();
  frame::WindowSystem* window = frame::GetWindow();
  if (s.keyboardCreated && !s.keyboardAcquired && window) {
    s.keyboardAcquired = window->AcquireKeyboard();
  }
  if (s.captureMode) {
    s.virtualCursor = GetCursor();
    CentreCursor();
    if (window) window->ShowCursor(false);
  }
}

void OnDeactivate() {
  State& s = S();
  if (s.captureMode) {
    // Still counted active and captured here, so this keeps the virtual position.
    SetCursor(s.virtualCursor);
    if (frame::WindowSystem* window = frame::GetWindow()) window->ShowCursor(true);
  }
}

namespace test_seam {
void ResetState() { S() = State{}; }
}  // namespace test_seam

}  // namespace input
