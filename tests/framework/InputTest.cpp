// Input on the scripted window system: keyboard snapshots with acquisition, capture mode
// with the virtual cursor and re-centring, wheel amounts.

#include "framework/Input.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "framework/FakeWindowSystem.h"
#include "framework/Framework.h"

namespace {

using frame::Point;
using ::testing::ElementsAre;

// The fake's window: client area 800 x 600 at screen (100, 50), with a 4-pixel frame and a
// 20-pixel title bar, so the window rectangle is (96, 30)-(904, 654) and its centre is
// screen (500, 342) = client (400, 292).
class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame::test_seam::ResetState();
    GlobalErrorTrace().Clear();
    ws.windowExists = true;
    ws.clientWidth = 800;
    ws.clientHeight = 600;
    frame::test_seam::InstallWindow(&ws);
    frame::test_seam::SetActive(true);
  }
  void TearDown() override {
    frame::test_seam::ResetState();
    GlobalErrorTrace().Clear();
  }

  // The framework's activation and deactivation around the hooks.
  void Deactivate() {
    input::OnDeactivate();
    frame::test_seam::SetActive(false);
  }
  void Activate() {
    input::OnActivate();
    frame::test_seam::SetActive(true);
  }

  frame::FakeWindowSystem ws;
};

TEST_F(InputTest, CaptureReportsMovesFromTheCentreAndPinsTheCursorBack) {
  input::Create();
  ws.cursorScreen = Point{300, 200};  // client (200, 150)
  input::SetCapture(true);
  EXPECT_TRUE(input::IsCaptured());
  EXPECT_THAT(ws.log, ::testing::IsSupersetOf({"SetCursorPos(500,342)", "ShowCursor(0) -> -1"}));
  ws.log.clear();

  bool recentred = false;
  EXPECT_EQ(input::DecodeMove(frame::MakeLParam(405, 289), recentred), (Point{5, -3}));
  EXPECT_TRUE(recentred);
  EXPECT_THAT(ws.log, ElementsAre("SetCursorPos(500,342)"));
  // The synthetic move back to the centre decodes as no movement.
  EXPECT_EQ(input::DecodeMove(frame::MakeLParam(400, 292), recentred), (Point{0, 0}));

  // Position queries see the virtual cursor, where the capture began.
  EXPECT_EQ(input::GetCursor(), (Point{200, 150}));
  EXPECT_EQ(input::DecodeButton(frame::MakeLParam(400, 292)), (Point{200, 150}));
  input::SetCursor(Point{10, 20});
  EXPECT_EQ(input::GetCursor(), (Point{10, 20}));

  ws.log.clear();
  input::SetCapture(false);
  EXPECT_FALSE(input::IsCaptured());
  EXPECT_THAT(ws.log, ElementsAre("SetCursorPos(110,70)", "ShowCursor(1) -> 0"));
  EXPECT_EQ(input::GetCursor(), (Point{10, 20}));
}

TEST_F(InputTest, LeavingCaptureRestoresTheCursorWhereItWasWhenCaptureBegan) {
  input::Create();
  ws.cursorScreen = Point{300, 200};
  input::SetCapture(true);
  bool recentred = false;
  input::DecodeMove(frame::MakeLParam(450, 300), recentred);
  input::SetCapture(false);
  EXPECT_EQ(ws.cursorScreen, (Point{300, 200}));
  EXPECT_EQ(ws.cursorCount, 0);
}

TEST_F(InputTest, CapturedWhileInactiveMovesNothing) {
  input::Create();
  input::SetCapture(true);
  frame::test_seam::SetActive(false);
  ws.log.clear();
  bool recentred = true;
  EXPECT_EQ(input::DecodeMove(frame::MakeLParam(450, 300), recentred), (Point{0, 0}));
  EXPECT_FALSE(recentred);
  EXPECT_TRUE(ws.log.empty());
}

TEST_F(InputTest, DeactivationShowsTheCursorAndActivationHidesAndRecentresIt) {
  input::Create();
  ws.cursorScreen = Point{300, 200};
  input::SetCapture(true);
  EXPECT_EQ(ws.cursorCount, -1);

  Deactivate();
  EXPECT_EQ(ws.cursorCount, 0);
  EXPECT_TRUE(input::IsCaptured());

  ws.cursorScreen = Point{150, 90};  // the user moved the cursor while away
  ws.log.clear();
  Activate();
  EXPECT_EQ(ws.cursorCount, -1);
  EXPECT_THAT(ws.Requests("SetCursorPos"), ElementsAre("SetCursorPos(500,342)"));
  EXPECT_EQ(input::GetCursor(), (Point{50, 40}));
}

TEST_F(InputTest, DecodesUncapturedPositionsAsSignedHalves) {
  input::Create();
  bool recentred = true;
  EXPECT_EQ(input::DecodeMove(frame::MakeLParam(-5, 70), recentred), (Point{-5, 70}));
  EXPECT_FALSE(recentred);
  EXPECT_EQ(input::DecodeButton(frame::MakeLParam(12, -1)), (Point{12, -1}));
}

TEST_F(InputTest, WheelAmountIsNotchesTimesTheSystemsLines) {
  struct Case {
    int delta;
    std::optional<unsigned> lines;
    float amount;
  };
  for (const Case& c :
       {Case{120, std::nullopt, 3.0f}, Case{-120, 5u, -5.0f}, Case{240, std::nullopt, 6.0f}, Case{60, 3u, 1.5f}}) {
    input::test_seam::ResetState();
    ws.wheelScrollLines = c.lines;
    input::Create();
    const auto wParam = static_cast<std::uintptr_t>(
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(c.delta)) << 16) | frame::MK_SHIFT);
    float amount = 0;
    EXPECT_EQ(input::DecodeWheel(wParam, frame::MakeLParam(7, 9), amount), (Point{7, 9}));
    EXPECT_FLOAT_EQ(amount, c.amount) << c.delta;
  }
}

TEST_F(InputTest, KeysReadUpAfterTheFocusIsLostUntilReactivated) {
  input::Create();
  ws.keys[frame::DIK_LEFT] = 0x80;
  input::Poll();
  EXPECT_EQ(input::IsKeyDown(frame::DIK_LEFT), 1);
  EXPECT_EQ(input::IsKeyDown(frame::DIK_HOME), 0);

  ws.focused = false;
  input::Poll();
  EXPECT_EQ(input::IsKeyDown(frame::DIK_LEFT), 0);

  ws.focused = true;  // back in front, but not acquired again yet
  input::Poll();
  EXPECT_EQ(input::IsKeyDown(frame::DIK_LEFT), 0);

  Deactivate();
  Activate();
  input::Poll();
  EXPECT_EQ(input::IsKeyDown(frame::DIK_LEFT), 1);

  input::Release();
  EXPECT_THAT(ws.Requests("UnacquireKeyboard"), ::testing::SizeIs(1));
}

TEST_F(InputTest, KeyboardCreatedInTheBackgroundWaitsForActivation) {
  ws.focused = false;
  input::Create();
  EXPECT_FALSE(ErrorPending());
  ws.keys[frame::DIK_HOME] = 0x80;
  ws.focused = true;
  input::Poll();
  EXPECT_EQ(input::IsKeyDown(frame::DIK_HOME), 0);
  Activate();
  input::Poll();
  EXPECT_EQ(input::IsKeyDown(frame::DIK_HOME), 1);
}

TEST_F(InputTest, CreateWithoutAWindowRecordsTheKeyboardFailure) {
  frame::test_seam::InstallWindow(nullptr);
  input::Create();
  ASSERT_TRUE(ErrorPending());
  const auto& lines = GlobalErrorTrace().Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], ::testing::StartsWith("(DirectX,"));
  EXPECT_EQ(lines[1], std::string("Nie można utworzyć klawiatury DirectInput."_cp));
  EXPECT_THAT(lines[2], ::testing::StartsWith("[Input,"));
  EXPECT_THAT(lines[2], ::testing::HasSubstr("input::Create"));
}

}  // namespace
