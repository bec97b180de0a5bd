#include "engine/Camera.h"

#include <gmock/gmock.h>

#include <cmath>
#include <cstring>

#include "engine/ClipSection.h"
#include "engine/Engine.h"
#include "engine/Geometry.h"
#include "engine/Scene.h"
#include "framework/FakeWindowSystem.h"
#include "framework/Input.h"
#include "tests/engine/EngineTestUtil.h"
#include "tools/qem-generate/Generate.h"

namespace {

using engine::state;

// Frames at times 0 and 10 (range 10).
class CameraTest : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    frame::test_seam::InstallWindow(&window);
    window.clientWidth = 800;
    window.clientHeight = 600;
    window.windowExists = true;
    input::Create();
  }
  void TearDown() override {
    input::Release();
    EngineTest::TearDown();
  }
  // Holds exactly the given DirectInput keys in the next snapshot.
  void Hold(std::initializer_list<unsigned char> keys) {
    std::fill(std::begin(window.keys), std::end(window.keys), 0);
    for (unsigned char key : keys) window.keys[key] = 0x80;
    input::Poll();
  }
  frame::FakeWindowSystem window;
};

TEST_F(CameraTest, OrthographicViewVolumeFollowsTheAspect) {
  state.orthographic = true;
  const auto m = engine::ComputeSceneMatrices(800, 600);
  EXPECT_FLOAT_EQ(m.projection.m[0][0], 2.0f / 4.0f);
  EXPECT_FLOAT_EQ(m.projection.m[1][1], 2.0f / 3.0f);
  state.orthographic = false;
  const auto p = engine::ComputeSceneMatrices(800, 600);
  EXPECT_FLOAT_EQ(p.projection.m[1][1], 1.0f / std::tan(0.7853982f / 2));
  EXPECT_FLOAT_EQ(p.projection.m[0][0], p.projection.m[1][1] / (800.0f / 600.0f));
  // The camera at (0, 0, -4): the origin lies 4 units ahead.
  EXPECT_FLOAT_EQ(p.view.m[3][2], 4.0f);
}

// The three transforms by value: the mesh turned about y and then about x (row vectors),
// the camera 4 units in front of the origin, and both projections' depth range 0.5 to 50.
TEST_F(CameraTest, MatricesHaveTheirValues) {
  state.rotationX = 0.3f;
  state.rotationY = 0.5f;
  state.orthographic = false;
  const auto m = engine::ComputeSceneMatrices(800, 600);
  const float cx = std::cos(0.3f), sx = std::sin(0.3f), cy = std::cos(0.5f), sy = std::sin(0.5f);
  // RotationY(0.5) x RotationX(0.3).
  const float world[4][4] = {{cy, sy * sx, -sy * cx, 0}, {0, cx, sx, 0}, {sy, -cy * sx, cy * cx, 0}, {0, 0, 0, 1}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.world.m[r][c], world[r][c], 1e-6f) << r << c;
  }
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_FLOAT_EQ(m.view.m[r][c], r == 3 && c == 2 ? 4.0f : r == c ? 1.0f : 0.0f) << r << c;
    }
  }
  const float f = 1.0f / std::tan(0.7853982f / 2);
  const float perspective[4][4] = {
      {f / (800.0f / 600.0f), 0, 0, 0}, {0, f, 0, 0}, {0, 0, 50 / 49.5f, 1}, {0, 0, -0.5f * 50 / 49.5f, 0}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.projection.m[r][c], perspective[r][c], 1e-6f) << r << c;
  }
  state.orthographic = true;
  const auto o = engine::ComputeSceneMatrices(800, 600);
  const float orthographic[4][4] = {
      {0.5f, 0, 0, 0}, {0, 2 / 3.0f, 0, 0}, {0, 0, 1 / 49.5f, 0}, {0, 0, -0.5f / 49.5f, 1}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(o.projection.m[r][c], orthographic[r][c], 1e-6f) << r << c;
  }
}

// A burst of mouse moves within one frame only marks the section; the frame rebuilds it
// once, and the picture is the one a rebuild after every move would have left.
TEST_F(CameraTest, DragRebuildsTheSectionOncePerFrame) {
  Load(qemgen::GenerateQem({4, 4, 4, 2, 1.0f, false, 0.2f}));
  state.clipDistance = 0.1f;
  engine::UpdateClipPlane();
  engine::GenerateEdgeBuffers();
  engine::GenerateClipBuffers();
  engine::Engine engineObject;
  for (const int button : {0, 2}) {
    SCOPED_TRACE(button == 0 ? "rotation" : "plane");
    engine::OnMouseButton({10, 10}, button, 0);
    device.ClearLog();
    for (int i = 0; i < 50; ++i) engine::OnMouseMove(3, -2);
    EXPECT_TRUE(state.sectionDirty);
    EXPECT_EQ(device.Texts("VertexBuffer::Lock").size(), 0u);
    EXPECT_EQ(device.Texts("IndexBuffer::Lock").size(), 0u);
    engineObject.OnDraw();
    EXPECT_EQ(enginetest::TakeTrace(), std::vector<std::string>{});
    EXPECT_FALSE(state.sectionDirty);
    EXPECT_EQ(device.Texts("VertexBuffer::Lock").size(), 1u);  // the section's; the boundary is not touched
    EXPECT_EQ(device.Texts("IndexBuffer::Lock").size(), 2u);
    const auto vertices = enginetest::Vertices(state.clipVertexBuffer.get());
    const auto triangles = enginetest::Indices(state.clipIndexBuffer.get());
    const auto count = state.clipVertexCount;
    // A second frame without moves builds nothing.
    device.ClearLog();
    engineObject.OnDraw();
    EXPECT_TRUE(device.Texts("VertexBuffer::Lock").empty());
    // The same buffers as a build at the final rotation and plane.
    engine::GenerateClipBuffers();
    EXPECT_EQ(state.clipVertexCount, count);
    const auto again = enginetest::Vertices(state.clipVertexBuffer.get());
    EXPECT_EQ(0, std::memcmp(again.data(), vertices.data(), count * sizeof(engine::SceneVertex)));
    EXPECT_EQ(enginetest::Indices(state.clipIndexBuffer.get()), triangles);
    engine::OnMouseButton({10, 10}, button, 1);
  }
}

TEST_F(CameraTest, LeftDragTurnsTheMeshAndFollowsThePointerUpsideDown) {
  Load(enginetest::kCutTetra);
  engine::OnMouseButton({10, 10}, 0, 0);
  EXPECT_TRUE(state.leftDrag);
  EXPECT_TRUE(input::IsCaptured());
  // dy = 100 from -0.3 gives -0.55, wrapped to 2 pi - 0.55 (above 3 pi / 2): rotationY - dx x 0.0025.
  engine::OnMouseMove(40, 100);
  EXPECT_NEAR(state.rotationX, 6.2831855f - 0.55f, 1e-5);
  EXPECT_NEAR(state.rotationY, engine::WrapAngle(-0.7f - 0.1f), 1e-5);
  // Upside down (between pi/2 and 3 pi/2 strictly): a horizontal drag turns the other way.
  struct Case {
    float rotationX;
    float sign;
  };
  for (const Case c : {Case{3.0f, +1}, Case{1.5707964f, -1}, Case{4.712389f, -1}, Case{0.5f, -1}}) {
    state.rotationX = c.rotationX;
    state.rotationY = 1.0f;
    engine::OnMouseMove(40, 0);
    EXPECT_FLOAT_EQ(state.rotationY, 1.0f + c.sign * 0.1f) << c.rotationX;
  }
  // The section follows the rotation, the status is refreshed.
  EXPECT_FALSE(state.statusText.empty());
  engine::OnMouseButton({10, 10}, 0, 1);
  EXPECT_FALSE(state.leftDrag);
  EXPECT_FALSE(input::IsCaptured());
}

TEST_F(CameraTest, ButtonsAreIgnoredUnlessLoadedActiveAndConsoleHidden) {
  engine::OnMouseButton({0, 0}, 0, 0);  // no document yet
  EXPECT_FALSE(state.leftDrag);
  Load(enginetest::kCutTetra);
  console.SetVisible(true);
  engine::OnMouseButton({0, 0}, 2, 0);
  EXPECT_FALSE(state.rightDrag);
  console.SetVisible(false);
  frame::test_seam::SetActive(false);
  engine::OnMouseButton({0, 0}, 2, 0);
  EXPECT_FALSE(state.rightDrag);
  frame::test_seam::SetActive(true);
  engine::OnMouseButton({0, 0}, 1, 0);  // middle
  engine::OnMouseButton({0, 0}, 0, 2);  // double click starts no drag
  EXPECT_FALSE(state.leftDrag);
  engine::OnMouseButton({0, 0}, 2, 0);
  EXPECT_TRUE(state.rightDrag);
  engine::OnMouseMove(100, 50);
  EXPECT_EQ(state.clipDistance, engine::kSqrt3);  // already at the limit
  engine::OnMouseMove(-300, -200);
  EXPECT_FLOAT_EQ(state.clipDistance, engine::kSqrt3 - 0.5f);
  // Moves without capture do nothing.
  engine::OnMouseButton({0, 0}, 2, 1);
  const float before = state.clipDistance;
  engine::OnMouseMove(-300, -200);
  EXPECT_EQ(state.clipDistance, before);
}

TEST_F(CameraTest, TypedKeysActOnlyOnceLoadedAndOnlyLowerCase) {
  engine::OnChar(13);
  engine::OnChar('l');
  EXPECT_FALSE(state.playing);
  EXPECT_TRUE(state.lightingOn);
  Load(enginetest::kCutTetra);
  engine::OnChar(13);
  EXPECT_TRUE(state.playing);
  engine::OnChar(27);
  EXPECT_FALSE(state.playing);
  engine::OnChar('l');
  engine::OnChar('o');
  engine::OnChar('w');
  EXPECT_FALSE(state.lightingOn);
  EXPECT_TRUE(state.orthographic);
  EXPECT_FALSE(state.wireOverlayOn);
  engine::OnChar('L');
  engine::OnChar('W');
  EXPECT_FALSE(state.lightingOn);
  EXPECT_FALSE(state.wireOverlayOn);
}

TEST_F(CameraTest, TimeKeysAndPlayback) {
  struct Case {
    const char* name;
    float start;
    std::initializer_list<unsigned char> keys;
    bool playing;
    float elapsed;
    float expected;
  };
  const Case cases[] = {
      {"page down at 20 fps", 0, {0xD1}, false, 0.05f, 0.125f},
      {"page up stops at the start", 0.1f, {0xC9}, false, 0.05f, 0},
      {"right arrow", 5, {0xCD}, false, 0.5f, 5.5f},
      {"left arrow", 5, {0xCB}, false, 0.5f, 4.5f},
      {"end", 3, {0xCF}, false, 0.05f, 10},
      {"home and page down combine", 7, {0xC7, 0xD1}, false, 0.05f, 0.125f},
      {"page down stops exactly at the end", 9.99f, {0xD1}, false, 0.05f, 10},
      {"playback", 2, {}, true, 0.05f, 2.05f},
      {"playback stops at the end", 9.99f, {}, true, 0.5f, 10},
  };
  Load(enginetest::kCutTetra);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state.displayTime = c.start;
    state.playing = c.playing;
    Hold(c.keys);
    engine::StepTimeBy(c.elapsed);
    EXPECT_FLOAT_EQ(state.displayTime, c.expected);
  }
  Hold({});
}

// Keys held and playback while the console takes the keys or another window has the
// focus move no time; the same step moves it once both are back.
TEST_F(CameraTest, TimeStandsWhileTheConsoleIsOpenOrTheWindowInactive) {
  Load(enginetest::kCutTetra);
  struct Case {
    const char* name;
    bool consoleOpen, active;
    float expected;
  };
  for (const Case& c : {Case{"console open", true, true, 5}, Case{"inactive", false, false, 5},
                        Case{"both", true, false, 5}, Case{"neither", false, true, 5.5f}}) {
    SCOPED_TRACE(c.name);
    console.SetVisible(c.consoleOpen);
    frame::test_seam::SetActive(c.active);
    for (const bool playing : {false, true}) {
      state.displayTime = 5;
      state.playing = playing;
      Hold(playing ? std::initializer_list<unsigned char>{} : std::initializer_list<unsigned char>{0xCD});
      engine::StepTimeBy(0.5f);
      EXPECT_FLOAT_EQ(state.displayTime, c.expected) << (playing ? "playing" : "right arrow");
    }
  }
  console.SetVisible(false);
  frame::test_seam::SetActive(true);
  Hold({});
}

// A drag under way stops turning the mesh or moving the plane once the console opens or the
// window loses the focus.
TEST_F(CameraTest, DragsStopWhileTheConsoleIsOpenOrTheWindowInactive) {
  Load(enginetest::kCutTetra);
  for (const int button : {0, 2}) {
    SCOPED_TRACE(button == 0 ? "left drag" : "right drag");
    engine::OnMouseButton({10, 10}, button, 0);
    ASSERT_TRUE(input::IsCaptured());
    state.clipDistance = 0;
    const float rotationX = state.rotationX, rotationY = state.rotationY;
    console.SetVisible(true);
    engine::OnMouseMove(40, 100);
    console.SetVisible(false);
    frame::test_seam::SetActive(false);
    engine::OnMouseMove(40, 100);
    frame::test_seam::SetActive(true);
    EXPECT_EQ(state.rotationX, rotationX);
    EXPECT_EQ(state.rotationY, rotationY);
    EXPECT_EQ(state.clipDistance, 0.0f);
    engine::OnMouseMove(40, 100);  // the same move, now taken
    EXPECT_TRUE(state.rotationX != rotationX || state.clipDistance != 0.0f);
    engine::OnMouseButton({10, 10}, button, 1);
  }
}

TEST_F(CameraTest, PlaybackEndsOneStepAfterReachingTheEnd) {
  Load(enginetest::kCutTetra);
  engine::GenerateEdgeBuffers();
  state.displayTime = 10;
  state.playing = true;
  device.ClearLog();
  engine::StepTimeBy(0.05f);
  EXPECT_FALSE(state.playing);
  EXPECT_EQ(state.displayTime, 10.0f);
  EXPECT_TRUE(device.Log().empty());  // no change of time, no re-colouring
}

TEST_F(CameraTest, TimeChangeRecoloursAndRefreshesTheStatus) {
  Load(enginetest::kCutTetra);
  engine::GenerateEdgeBuffers();
  state.clipDistance = 0;
  engine::UpdateClipPlane();
  engine::GenerateClipBuffers();
  device.ClearLog();
  Hold({0xCF});
  engine::StepTimeBy(0.05f);
  Hold({});
  EXPECT_THAT(device.Texts(), ::testing::ElementsAre("VertexBuffer::Lock(#1, 0, 0, 0x0)", "VertexBuffer::Unlock(#1)",
                                                     "VertexBuffer::Lock(#2, 0, 0, 0x0)", "VertexBuffer::Unlock(#2)"));
  EXPECT_THAT(state.statusText, ::testing::EndsWith("Czas: 10 (0-10) - 100%"));
}

TEST_F(CameraTest, SingleFrameDocumentIgnoresTimeKeys) {
  Load(
      "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\nELEMENTS 1\n0 2 1  0 1 3  1 2 3  0 3 2\n"
      "FRAMES 1\n4  1 2 3 4\n");
  engine::OnChar(13);
  Hold({0xCF, 0xD1});
  engine::StepTimeBy(1);
  EXPECT_EQ(state.displayTime, 4.0f);
  EXPECT_TRUE(state.playing);  // set, but it never moves anything
  Hold({});
}

TEST_F(CameraTest, WheelZoomsByNotchesBetweenTheLimits) {
  Load(enginetest::kCutTetra);
  const float lines = static_cast<float>(input::WheelLines());
  ASSERT_EQ(lines, 3.0f);
  engine::OnMouseWheel({1, 1}, lines);
  EXPECT_FLOAT_EQ(state.zoom, 1.1f);
  engine::OnMouseWheel({1, 1}, -2 * lines);
  EXPECT_FLOAT_EQ(state.zoom, 1.0f / 1.1f);
  for (int i = 0; i < 100; ++i) engine::OnMouseWheel({1, 1}, lines);
  EXPECT_FLOAT_EQ(state.zoom, 100.0f);
  for (int i = 0; i < 200; ++i) engine::OnMouseWheel({1, 1}, -lines);
  EXPECT_FLOAT_EQ(state.zoom, 0.1f);
  // Nothing is drawn or rebuilt for it: only the next frame's projection changes.
  EXPECT_TRUE(device.Log().empty());
}

TEST_F(CameraTest, WheelIsIgnoredWhileTheConsoleIsShownOrNothingIsLoaded) {
  engine::OnMouseWheel({1, 1}, 3);
  EXPECT_EQ(state.zoom, 1.0f);  // no document yet
  Load(enginetest::kCutTetra);
  console.SetVisible(true);
  engine::OnMouseWheel({1, 1}, 3);
  EXPECT_EQ(state.zoom, 1.0f);
  console.SetVisible(false);
  frame::test_seam::SetActive(false);
  engine::OnMouseWheel({1, 1}, 3);
  EXPECT_EQ(state.zoom, 1.0f);
}

TEST_F(CameraTest, ZoomNarrowsTheProjectionOnly) {
  for (const bool orthographic : {false, true}) {
    state.orthographic = orthographic;
    state.zoom = 1;
    const auto whole = engine::ComputeSceneMatrices(800, 600);
    state.zoom = 4;
    const auto zoomed = engine::ComputeSceneMatrices(800, 600);
    // Four times larger on both axes, the depth mapping as it was.
    EXPECT_FLOAT_EQ(zoomed.projection.m[0][0], 4 * whole.projection.m[0][0]) << orthographic;
    EXPECT_FLOAT_EQ(zoomed.projection.m[1][1], 4 * whole.projection.m[1][1]) << orthographic;
    EXPECT_FLOAT_EQ(zoomed.projection.m[2][2], whole.projection.m[2][2]) << orthographic;
    EXPECT_FLOAT_EQ(zoomed.projection.m[3][2], whole.projection.m[3][2]) << orthographic;
    EXPECT_EQ(0, std::memcmp(&zoomed.world, &whole.world, sizeof whole.world));
    EXPECT_EQ(0, std::memcmp(&zoomed.view, &whole.view, sizeof whole.view));
  }
}

TEST_F(CameraTest, WheelNotchFollowsTheSystemsLinesPerNotch) {
  input::Release();
  window.wheelScrollLines = 1;
  input::Create();
  Load(enginetest::kCutTetra);
  engine::OnMouseWheel({1, 1}, 1);
  EXPECT_FLOAT_EQ(state.zoom, 1.1f);
}

}  // namespace
