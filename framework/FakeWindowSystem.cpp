#include "framework/FakeWindowSystem.h"

#include <cstring>

namespace frame {

namespace {

std::string Text(const char* name, int a, int b) {
  return std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) + ")";
}

}  // namespace

FakeWindowSystem& FakeWindowSystem::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  Step step;
  step.kind = Step::Msg;
  step.message = Message{message, wParam, lParam};
  script.push_back(std::move(step));
  return *this;
}

FakeWindowSystem& FakeWindowSystem::Idle(int turns) {
  Step step;
  step.kind = Step::IdleTurns;
  step.turns = turns;
  script.push_back(std::move(step));
  return *this;
}

FakeWindowSystem& FakeWindowSystem::Do(std::function<void()> action) {
  Step step;
  step.kind = Step::Action;
  step.action = std::move(action);
  script.push_back(std::move(step));
  return *this;
}

FakeWindowSystem& FakeWindowSystem::UserResize(int width, int height) {
  Send(WM_ENTERSIZEMOVE);
  Do([this, width, height] {
    clientWidth = width;
    clientHeight = height;
  });
  Send(WM_SIZE, SIZE_RESTORED, MakeLParam(width, height));
  return Send(WM_EXITSIZEMOVE);
}

FakeWindowSystem& FakeWindowSystem::KeyDown(unsigned vk, unsigned char dik) {
  if (dik != 0) Do([this, dik] { keys[dik] = 0x80; });
  return Send(WM_KEYDOWN, vk, 1);
}

FakeWindowSystem& FakeWindowSystem::KeyUp(unsigned vk, unsigned char dik) {
  if (dik != 0) Do([this, dik] { keys[dik] = 0; });
  return Send(WM_KEYUP, vk, static_cast<std::intptr_t>(0xC0000001u));
}

std::vector<std::string> FakeWindowSystem::Requests(std::string_view prefix) const {
  std::vector<std::string> out;
  for (const auto& line : log) {
    if (std::string_view(line).substr(0, prefix.size()) == prefix) out.push_back(line);
  }
  return out;
}

bool FakeWindowSystem::OpenDisplay(std::string& reason) {
  log.push_back("OpenDisplay");
  if (failOpenDisplay) {
    reason = "no display";
    return false;
  }
  displayOpen = true;
  return true;
}

void FakeWindowSystem::CloseDisplay() {
  log.push_back("CloseDisplay");
  displayOpen = false;
}

bool FakeWindowSystem::RegisterClass(std::string_view className, bool closeBox, std::string& reason) {
  log.push_back("RegisterClass(" + std::string(className) + "," + (closeBox ? "1" : "0") + ")");
  if (failRegisterClass) {
    reason = "class refused";
    return false;
  }
  classRegistered = true;
  return true;
}

void FakeWindowSystem::UnregisterClass() {
  log.push_back("UnregisterClass");
  classRegistered = false;
}

bool FakeWindowSystem::CreateWindow(std::string_view title, const WindowStyle& newStyle, int width, int height,
                                    std::string& reason) {
  log.push_back("CreateWindow(" + std::string(title) + "," + std::to_string(width) + "," + std::to_string(height) +
                (newStyle.fullScreen ? ",full" : ",windowed") + ")");
  if (failCreateWindow) {
    reason = "window refused";
    return false;
  }
  windowExists = true;
  style = newStyle;
  clientWidth = width;
  clientHeight = height;
  return true;
}

void FakeWindowSystem::DestroyWindow() {
  log.push_back("DestroyWindow");
  windowExists = false;
  timers.clear();
}

bool FakeWindowSystem::Next(Message& out, bool waiting) {
  for (;;) {
    if (!posted.empty()) {
      out = posted.front();
      posted.pop_front();
      return true;
    }
    if (script.empty()) {
      if (scriptEndPosted) {
        // Nothing more will ever come; a waiting loop would hang, so end it.
        if (waiting) {
          out = Message{WM_QUIT, 0, 0};
          return true;
        }
        return false;
      }
      scriptEndPosted = true;
      log.push_back("ScriptEnded");
      posted.push_back(Message{WM_CLOSE, 0, 0});
      continue;
    }
    Step& step = script.front();
    switch (step.kind) {
      case Step::Msg:
        out = step.message;
        script.pop_front();
        return true;
      case Step::Action: {
        auto action = std::move(step.action);
        script.pop_front();
        action();
        continue;
      }
      case Step::IdleTurns:
        if (step.turns <= 0) {
          script.pop_front();
          continue;
        }
        --step.turns;
        if (!waiting) return false;
        if (!timers.empty()) {
          out = Message{WM_TIMER, timers.begin()->first, 0};
          return true;
        }
        continue;
    }
  }
}

bool FakeWindowSystem::PeekMessage(Message& out) { return Next(out, false); }

bool FakeWindowSystem::GetMessage(Message& out) {
  Next(out, true);
  return out.message != WM_QUIT;
}

void FakeWindowSystem::PostClose() {
  log.push_back("PostClose");
  posted.push_back(Message{WM_CLOSE, 0, 0});
}

void FakeWindowSystem::PostQuit(int code) {
  log.push_back("PostQuit(" + std::to_string(code) + ")");
  posted.push_back(Message{WM_QUIT, static_cast<std::uintptr_t>(code), 0});
}

void FakeWindowSystem::SetTimer(unsigned id, unsigned periodMs) {
  log.push_back(Text("SetTimer", static_cast<int>(id), static_cast<int>(periodMs)));
  timers[id] = periodMs;
}

void FakeWindowSystem::KillTimer(unsigned id) {
  log.push_back("KillTimer(" + std::to_string(id) + ")");
  timers.erase(id);
}

std::intptr_t FakeWindowSystem::DefaultProc(const Message&) { return 0; }

void FakeWindowSystem::GetClientSize(int& width, int& height) {
  width = clientWidth;
  height = clientHeight;
}

Rect FakeWindowSystem::GetWindowRect() {
  // A window manager's frame: 4 pixels around, a 20-pixel title bar.
  return Rect{windowOrigin.left - 4, windowOrigin.top - 20, windowOrigin.left + clientWidth + 4,
              windowOrigin.top + clientHeight + 4};
}

void FakeWindowSystem::SetStyle(const WindowStyle& newStyle) {
  log.push_back(newStyle.fullScreen ? "SetStyle(full)" : "SetStyle(windowed)");
  style = newStyle;
}

void FakeWindowSystem::PlaceTopLeft(int width, int height) {
  log.push_back(Text("PlaceTopLeft", width, height));
  windowOrigin.left = 0;
  windowOrigin.top = 0;
  clientWidth = width;
  clientHeight = height;
}

int FakeWindowSystem::ShowCursor(bool show) {
  cursorCount += show ? 1 : -1;
  log.push_back(std::string("ShowCursor(") + (show ? "1" : "0") + ") -> " + std::to_string(cursorCount));
  return cursorCount;
}

void FakeWindowSystem::SetCursorPos(Point screen) {
  log.push_back(Text("SetCursorPos", screen.x, screen.y));
  cursorScreen = screen;
}

Point FakeWindowSystem::GetCursorPos() { return cursorScreen; }

Point FakeWindowSystem::ScreenToClient(Point screen) {
  return Point{screen.x - windowOrigin.left, screen.y - windowOrigin.top};
}

Point FakeWindowSystem::ClientToScreen(Point client) {
  return Point{client.x + windowOrigin.left, client.y + windowOrigin.top};
}

void FakeWindowSystem::SetCapture() {
  log.push_back("SetCapture");
  captured = true;
}

void FakeWindowSystem::ReleaseCapture() {
  log.push_back("ReleaseCapture");
  captured = false;
}

bool FakeWindowSystem::IsControlDown() { return controlDown; }

bool FakeWindowSystem::GetSystemSetting(SystemSetting which, unsigned& value) {
  if (which == SystemSetting::WheelScrollLines && wheelScrollLines) {
    value = *wheelScrollLines;
    return true;
  }
  return false;
}

bool FakeWindowSystem::AcquireKeyboard() {
  log.push_back("AcquireKeyboard");
  keyboardAcquired = focused && windowExists;
  return keyboardAcquired;
}

void FakeWindowSystem::UnacquireKeyboard() {
  log.push_back("UnacquireKeyboard");
  keyboardAcquired = false;
}

bool FakeWindowSystem::GetKeyboardState(unsigned char out[256]) {
  if (!keyboardAcquired || !focused) {
    keyboardAcquired = false;
    return false;
  }
  std::memcpy(out, keys, 256);
  return true;
}

int FakeWindowSystem::DisplayModeCount() { return static_cast<int>(modes.size()); }

bool FakeWindowSystem::GetDisplayMode(int index, DisplayMode& out) {
  if (index < 0 || index >= static_cast<int>(modes.size())) return false;
  out = modes[static_cast<std::size_t>(index)];
  return true;
}

void FakeWindowSystem::ShowErrorBox(std::string_view title, std::string_view text) {
  log.push_back("ShowErrorBox(" + std::string(title) + "," + std::string(text) + ")");
}

}  // namespace frame
