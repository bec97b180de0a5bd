#pragma once
// The scripted window system for tests: no display. A script of steps feeds the message
// loop (a message, a number of idle turns, or an action run when the loop reaches it), and
// every request made of the window system is recorded in `log`, one line per request
// ("ShowCursor(0) -> -1", "SetCursorPos(400,300)", "PostClose", ...), besides the state the
// requests changed (cursor position and count, capture, client size, timers).
//
// When the script runs out the fake posts WM_CLOSE itself (logged as "ScriptEnded"), so a
// test whose loop would otherwise spin for ever ends with the normal shutdown.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "framework/WindowSystem.h"

namespace frame {

class FakeWindowSystem : public WindowSystem {
 public:
  // Script building. Idle(n): n turns in which PeekMessage finds nothing (GetMessage, which
  // waits, passes them, delivering WM_TIMER for each turn while a timer is set).
  FakeWindowSystem& Send(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  FakeWindowSystem& Idle(int turns = 1);
  FakeWindowSystem& Do(std::function<void()> action);
  // The window is resized by the user to this client size: the size changes now and the
  // move/size bracket follows, as a drag of the frame gives.
  FakeWindowSystem& UserResize(int width, int height);
  // Key and typing helpers: WM_KEYDOWN (and the held bit in the keyboard snapshot).
  FakeWindowSystem& KeyDown(unsigned vk, unsigned char dik = 0);
  FakeWindowSystem& KeyUp(unsigned vk, unsigned char dik = 0);

  // Failure injection and system state.
  bool failOpenDisplay = false;
  bool failRegisterClass = false;
  bool failCreateWindow = false;
  bool focused = true;  // the keyboard is acquirable while focused
  bool controlDown = false;
  std::optional<unsigned> wheelScrollLines;  // unset: the system cannot tell
  std::vector<DisplayMode> modes;
  Rect windowOrigin{100, 50, 0, 0};  // the client area's top-left on screen (left, top)

  // Recorded state.
  std::vector<std::string> log;
  int cursorCount = 0;
  Point cursorScreen{0, 0};
  bool captured = false;
  bool windowExists = false;
  bool displayOpen = false;
  bool classRegistered = false;
  int clientWidth = 0;
  int clientHeight = 0;
  WindowStyle style;
  std::map<unsigned, unsigned> timers;
  unsigned char keys[256] = {};
  bool keyboardAcquired = false;

  // Lines of log that start with prefix, in order.
  std::vector<std::string> Requests(std::string_view prefix) const;

  bool OpenDisplay(std::string& reason) override;
  void CloseDisplay() override;
  bool RegisterClass(std::string_view className, bool closeBox, std::string& reason) override;
  void UnregisterClass() override;
  bool CreateWindow(std::string_view title, const WindowStyle& style, int clientWidth, int clientHeight,
                    std::string& reason) override;
  void DestroyWindow() override;
  bool HasWindow() const override { return windowExists; }
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
  bool GetKeyboardState(unsigned char out[256]) override;
  int DisplayModeCount() override;
  bool GetDisplayMode(int index, DisplayMode& out) override;
  gfx::Surface* GetSurface() override { return surface; }
  void ShowErrorBox(std::string_view title, std::string_view text) override;

  // What GetSurface hands to the device factory (tests with a recording device need none).
  gfx::Surface* surface = nullptr;

 private:
  struct Step {
    enum Kind { Msg, IdleTurns, Action } kind = Msg;
    Message message;
    int turns = 0;
    std::function<void()> action;
  };
  // Takes the next message; waiting = GetMessage (idle turns pass, timers fire).
  bool Next(Message& out, bool waiting);

  std::deque<Message> posted;
  std::deque<Step> script;
  bool scriptEndPosted = false;
};

}  // namespace frame
