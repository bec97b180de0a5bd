// The SDL window system against a real X server (Xvfb): events from xdotool and from SDL's
// own queue become the messages the framework and the application expect; the keyboard
// snapshot, the cursor, timers and display modes work on a real display. Each test runs in
// its own process (ctest), so changing the environment in one does not reach another.

#include "framework/SdlWindowSystem.h"

#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "Common_Code/Cp1250.h"
#include "framework/Framework.h"
#include "framework/Input.h"
#include "gfx/Device.h"

namespace {

using frame::Message;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

bool HasDisplay() { return std::getenv("DISPLAY") != nullptr; }

class SdlWindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HasDisplay()) << "needs an X server: run under tests/with-xvfb.sh";
    std::string reason;
    ASSERT_TRUE(ws.OpenDisplay(reason)) << reason;
    ASSERT_TRUE(ws.RegisterClass("QEM_VIEWER", true, reason));
    frame::WindowStyle style;
    style.minWidth = 320;
    style.minHeight = 240;
    style.depthBits = 16;
    ASSERT_TRUE(ws.CreateWindow("QEM Viewer", style, 400, 300, reason)) << reason;
    // The new window takes the focus; its activation is the first thing to arrive.
    ASSERT_TRUE(WaitFor([](const Message& m) {
      return m.message == frame::WM_ACTIVATE && m.wParam == frame::WA_ACTIVE;
    })) << "the window never got the focus";
    messages.clear();
  }

  void TearDown() override {
    ws.DestroyWindow();
    ws.CloseDisplay();
  }

  // Pumps messages into `messages` until one satisfies done (true) or 3 s pass (false).
  bool WaitFor(const std::function<bool(const Message&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline) {
      Message m;
      if (ws.PeekMessage(m)) {
        messages.push_back(m);
        if (done(m)) return true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    return false;
  }

  bool WaitForMessage(unsigned message) {
    return WaitFor([message](const Message& m) { return m.message == message; });
  }

  void Xdotool(const std::string& arguments) {
    ASSERT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
  }

  frame::Point ScreenOf(int x, int y) { return ws.ClientToScreen(frame::Point{x, y}); }

  std::vector<Message> Only(std::initializer_list<unsigned> kinds) const {
    std::vector<Message> out;
    for (const auto& m : messages) {
      for (unsigned k : kinds) {
        if (m.message == k) out.push_back(m);
      }
    }
    return out;
  }

  void PushWindowEvent(Uint8 kind) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = kind;
    e.window.windowID = WindowId();
    SDL_PushEvent(&e);
  }

  Uint32 WindowId() {
    // The only window of the process.
    SDL_Window* window = SDL_GetKeyboardFocus();
    return window ? SDL_GetWindowID(window) : 0;
  }

  frame::SdlWindowSystem ws;
  std::vector<Message> messages;
};

TEST(SdlWindowSystemNoDisplay, RefusesToRunWithoutADisplay) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("SDL_VIDEODRIVER");
  frame::SdlWindowSystem ws;
  std::string reason;
  EXPECT_FALSE(ws.OpenDisplay(reason));
  EXPECT_FALSE(reason.empty());
  // With the offscreen driver picked silently, the reason says so.
  if (reason.find("offscreen") != std::string::npos) {
    EXPECT_THAT(reason, HasSubstr(std::string("Brak ekranu"_cp)));
    EXPECT_THAT(reason, HasSubstr("DISPLAY"));
  }
  if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
}

TEST(SdlWindowSystemNoDisplay, RefusesADisplayWithoutOpenGL33) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X server: run under tests/with-xvfb.sh";
  // Mesa's software renderer made to offer OpenGL 3.0 only.
  setenv("MESA_GL_VERSION_OVERRIDE", "3.0", 1);
  frame::SdlWindowSystem ws;
  std::string reason;
  EXPECT_FALSE(ws.OpenDisplay(reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(ws.HasWindow());
  unsetenv("MESA_GL_VERSION_OVERRIDE");
}

TEST_F(SdlWindowSystemTest, KeysGiveKeyDownAndTheControlKeysAlsoAChar) {
  Xdotool("key Return Escape BackSpace Tab a Home grave");
  ASSERT_TRUE(WaitFor([](const Message& m) { return m.message == frame::WM_KEYUP && m.wParam == frame::VK_OEM_3; }));
  std::vector<unsigned> downs;
  for (const auto& m : Only({frame::WM_KEYDOWN})) downs.push_back(static_cast<unsigned>(m.wParam));
  EXPECT_THAT(downs, ElementsAre(frame::VK_RETURN, frame::VK_ESCAPE, frame::VK_BACK, frame::VK_TAB, 'A', frame::VK_HOME,
                                 frame::VK_OEM_3));
  std::vector<unsigned> chars;
  for (const auto& m : Only({frame::WM_CHAR})) chars.push_back(static_cast<unsigned>(m.wParam));
  EXPECT_THAT(chars, ElementsAre(0x0D, 0x1B, 0x08, 0x09, 'a', '`'));
  // A char follows its key-down.
  auto both = Only({frame::WM_KEYDOWN, frame::WM_CHAR});
  ASSERT_GE(both.size(), 2u);
  EXPECT_EQ(both[0].message, frame::WM_KEYDOWN);
  EXPECT_EQ(both[1].message, frame::WM_CHAR);
}

TEST_F(SdlWindowSystemTest, TextInputGivesWindows1250BytesAndDropsTheRest) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  e.text.windowID = WindowId();
  // "ż€中ł": the CJK character has no place in the code page.
  std::strcpy(e.text.text, "\xC5\xBC\xE2\x82\xAC\xE4\xB8\xAD\xC5\x82");
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  ASSERT_TRUE(WaitFor([](const Message& m) { return m.message == frame::WM_CHAR && m.wParam == 0xB3; }));
  std::vector<unsigned> chars;
  for (const auto& m : Only({frame::WM_CHAR})) chars.push_back(static_cast<unsigned>(m.wParam));
  EXPECT_THAT(chars, ElementsAre(0xBF, 0x80, 0xB3));
}

TEST_F(SdlWindowSystemTest, MouseGivesClientPositionsDoubleClicksAndWheelNotches) {
  const frame::Point p = ScreenOf(30, 40);
  Xdotool("mousemove " + std::to_string(p.x) + " " + std::to_string(p.y));
  ASSERT_TRUE(WaitForMessage(frame::WM_MOUSEMOVE));
  EXPECT_EQ(frame::LowWordSigned(messages.back().lParam), 30);
  EXPECT_EQ(frame::HighWordSigned(messages.back().lParam), 40);

  messages.clear();
  Xdotool("click --repeat 2 --delay 80 1");
  Xdotool("click 3");
  Xdotool("click 4");
  Xdotool("click 5");
  ASSERT_TRUE(WaitFor(
      [](const Message& m) { return m.message == frame::WM_MOUSEWHEEL && frame::HighWordSigned(m.wParam) < 0; }));
  std::vector<unsigned> kinds;
  for (const auto& m : messages) {
    if (m.message != frame::WM_MOUSEMOVE) kinds.push_back(m.message);
  }
  EXPECT_THAT(kinds,
              ElementsAre(frame::WM_LBUTTONDOWN, frame::WM_LBUTTONUP, frame::WM_LBUTTONDBLCLK, frame::WM_LBUTTONUP,
                          frame::WM_RBUTTONDOWN, frame::WM_RBUTTONUP, frame::WM_MOUSEWHEEL, frame::WM_MOUSEWHEEL));
  auto wheels = Only({frame::WM_MOUSEWHEEL});
  ASSERT_EQ(wheels.size(), 2u);
  EXPECT_EQ(frame::HighWordSigned(wheels[0].wParam), frame::WHEEL_DELTA);
  EXPECT_EQ(frame::HighWordSigned(wheels[1].wParam), -frame::WHEEL_DELTA);
  EXPECT_EQ(frame::LowWordSigned(wheels[0].lParam), 30);
  auto down = Only({frame::WM_LBUTTONDOWN});
  ASSERT_EQ(down.size(), 1u);
  EXPECT_EQ(frame::HighWordSigned(down[0].lParam), 40);
  EXPECT_TRUE(down[0].wParam & frame::MK_LBUTTON);
}

TEST_F(SdlWindowSystemTest, KeyboardSnapshotHoldsHeldKeysByDikCode) {
  ASSERT_TRUE(ws.AcquireKeyboard());
  Xdotool("keydown Left keydown Next");
  ASSERT_TRUE(WaitFor([](const Message& m) { return m.message == frame::WM_KEYDOWN && m.wParam == frame::VK_NEXT; }));
  unsigned char keys[256] = {};
  ASSERT_TRUE(ws.GetKeyboardState(keys));
  EXPECT_EQ(keys[frame::DIK_LEFT], 0x80);
  EXPECT_EQ(keys[frame::DIK_NEXT], 0x80);
  EXPECT_EQ(keys[frame::DIK_HOME], 0);
  Xdotool("keyup Left keyup Next");
  ASSERT_TRUE(WaitFor([](const Message& m) { return m.message == frame::WM_KEYUP && m.wParam == frame::VK_NEXT; }));
  ASSERT_TRUE(ws.GetKeyboardState(keys));
  EXPECT_EQ(keys[frame::DIK_LEFT], 0);
}

TEST_F(SdlWindowSystemTest, WindowEventsBecomeSizeKindsActivationAndSizeMoveBrackets) {
  for (Uint8 kind : {SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_RESTORED, SDL_WINDOWEVENT_MAXIMIZED,
                     SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_FOCUS_GAINED, SDL_WINDOWEVENT_CLOSE}) {
    PushWindowEvent(kind);
  }
  ASSERT_TRUE(WaitForMessage(frame::WM_CLOSE));
  std::vector<std::pair<unsigned, std::uintptr_t>> got;
  for (const auto& m : messages) got.emplace_back(m.message, m.wParam);
  EXPECT_THAT(got, ElementsAre(std::pair{frame::WM_SIZE, std::uintptr_t{frame::SIZE_MINIMIZED}},
                               std::pair{frame::WM_SIZE, std::uintptr_t{frame::SIZE_RESTORED}},
                               std::pair{frame::WM_SIZE, std::uintptr_t{frame::SIZE_MAXIMIZED}},
                               std::pair{frame::WM_ACTIVATE, std::uintptr_t{frame::WA_INACTIVE}},
                               std::pair{frame::WM_ACTIVATE, std::uintptr_t{frame::WA_ACTIVE}},
                               std::pair{frame::WM_CLOSE, std::uintptr_t{0}}));

  // A real size change: the whole move/size loop, and the client size is the new one.
  messages.clear();
  ws.PlaceTopLeft(512, 384);
  ASSERT_TRUE(WaitForMessage(frame::WM_EXITSIZEMOVE));
  EXPECT_EQ(messages[messages.size() - 2].message, frame::WM_ENTERSIZEMOVE);
  int w = 0, h = 0;
  ws.GetClientSize(w, h);
  EXPECT_EQ(w, 512);
  EXPECT_EQ(h, 384);
}

TEST_F(SdlWindowSystemTest, CursorWarpsCountsAndConvertsCoordinates) {
  const frame::Point target = ScreenOf(100, 80);
  ws.SetCursorPos(target);
  ASSERT_TRUE(WaitForMessage(frame::WM_MOUSEMOVE));  // the warp's own move
  EXPECT_EQ(ws.GetCursorPos(), target);
  EXPECT_EQ(ws.ScreenToClient(ws.GetCursorPos()), (frame::Point{100, 80}));
  const frame::Rect r = ws.GetWindowRect();
  EXPECT_LE(r.left, target.x - 100);
  EXPECT_GE(r.right - r.left, 400);
  EXPECT_EQ(ws.ShowCursor(false), -1);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  EXPECT_EQ(ws.ShowCursor(true), 0);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

// GetMessage waits for ever when nothing comes. A watchdog thread pushes a quit (WM_CLOSE)
// into SDL's queue after 3 s unless the test is done, so a timer that never fires fails
// the test at once instead of hanging it until ctest's timeout.
class Watchdog {
 public:
  Watchdog()
      : thread([this] {
          for (int i = 0; i < 300 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          if (done) return;
          fired = true;
          SDL_Event e{};
          e.type = SDL_QUIT;
          SDL_PushEvent(&e);
        }) {}
  ~Watchdog() {
    done = true;
    thread.join();
  }
  std::atomic<bool> done{false}, fired{false};

 private:
  std::thread thread;
};

TEST_F(SdlWindowSystemTest, TimerAndPostedMessagesReachTheWaitingLoop) {
  Watchdog watchdog;
  ws.SetTimer(1, 30);
  Message m;
  do {
    ASSERT_TRUE(ws.GetMessage(m));
  } while (m.message != frame::WM_TIMER && !watchdog.fired);
  ASSERT_EQ(m.message, frame::WM_TIMER) << "no timer message within 3 s";
  EXPECT_EQ(m.wParam, 1u);
  ws.KillTimer(1);
  ws.PostClose();
  ws.PostQuit(3);
  do {
    ASSERT_TRUE(ws.GetMessage(m));
  } while (m.message != frame::WM_CLOSE);
  EXPECT_FALSE(watchdog.fired);
  EXPECT_FALSE(ws.GetMessage(m));
  EXPECT_EQ(m.message, frame::WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
}

TEST_F(SdlWindowSystemTest, ListsThirtyTwoBitDisplayModesAndMakesAGlSurface) {
  const int count = ws.DisplayModeCount();
  ASSERT_GE(count, 1);
  frame::DisplayMode mode;
  ASSERT_TRUE(ws.GetDisplayMode(0, mode));
  EXPECT_GT(mode.width, 0);
  EXPECT_TRUE(mode.fullScreen);
  EXPECT_FALSE(ws.GetDisplayMode(count, mode));

  gfx::Surface* surface = ws.GetSurface();
  ASSERT_NE(surface, nullptr) << ws.SurfaceError();
  EXPECT_TRUE(surface->MakeCurrent());
  int w = 0, h = 0;
  surface->GetDrawableSize(w, h);
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 300);
  surface->DisableVsync();
  EXPECT_EQ(SDL_GL_GetSwapInterval(), 0);
  int major = 0;
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &major);
  EXPECT_GE(major, 3);
}

TEST_F(SdlWindowSystemTest, CaptureHidesThePinnedCursorAndReportsMovesFromTheCentre) {
  frame::test_seam::ResetState();
  frame::test_seam::InstallWindow(&ws);
  frame::test_seam::SetActive(true);
  input::Create();

  const frame::Point start = ScreenOf(50, 60);
  Xdotool("mousemove " + std::to_string(start.x) + " " + std::to_string(start.y));
  ASSERT_TRUE(WaitForMessage(frame::WM_MOUSEMOVE));

  input::SetCapture(true);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  // No window manager here, so no frame: the centre is the client area's.
  const frame::Point centre = ScreenOf(200, 150);
  EXPECT_EQ(ws.GetCursorPos(), centre);
  EXPECT_EQ(input::GetCursor(), (frame::Point{50, 60}));
  messages.clear();
  // The warp's own move arrives; the application skips it after a re-centring.
  ASSERT_TRUE(WaitForMessage(frame::WM_MOUSEMOVE));

  messages.clear();
  Xdotool("mousemove_relative -- 7 -5");
  ASSERT_TRUE(WaitFor(
      [](const Message& m) { return m.message == frame::WM_MOUSEMOVE && frame::LowWordSigned(m.lParam) == 207; }));
  bool recentred = false;
  EXPECT_EQ(input::DecodeMove(messages.back().lParam, recentred), (frame::Point{7, -5}));
  EXPECT_TRUE(recentred);
  EXPECT_EQ(ws.GetCursorPos(), centre);

  input::SetCapture(false);
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  EXPECT_EQ(ws.GetCursorPos(), start);
  input::Release();
  frame::test_seam::ResetState();
}

}  // namespace
