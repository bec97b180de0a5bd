#include "engine/Engine.h"

#include <gmock/gmock.h>

#include <chrono>
#include <thread>

#include "Common_Code/Cp1250.h"
#include "config/Config.h"
#include "engine/ClipSection.h"
#include "engine/Scene.h"
#include "qem/Loader.h"
#include "tests/engine/EngineTestUtil.h"
#include "tests/qem/QemTestUtil.h"

namespace {

using engine::state;

class EngineLifecycleTest : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    qem::ResetLoader();
  }
  void TearDown() override {
    engineObject.OnDeviceDestroy();
    engineObject.OnDestroy();
    qem::ResetLoader();
    EngineTest::TearDown();
  }
  // Runs updates at 60 steps per second until the document is ready or a few seconds of
  // real time have passed; returns the frame time reached.
  float UpdateUntilReady(float now) {
    for (int i = 0; i < 3000 && !state.documentReady; ++i) {
      now += 1.0f / 60;
      engineObject.UpdateAt(now, 1.0f / 60);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return now;
  }
  engine::Engine engineObject;
};

TEST_F(EngineLifecycleTest, BackgroundColourComesFromTheConfiguration) {
  struct Case {
    const char* text;
    std::uint32_t colour;
  };
  const Case cases[] = {
      {"", 0xFF000000u},
      {"Engine { BkgColor = 0x00FF0000 }", 0x00FF0000u},
      {"Engine { BkgColor = zielony }", 0xFF000000u},
  };
  for (const Case& c : cases) {
    Config config{std::string_view(c.text)};
    Config* previous = g_config;
    g_config = &config;
    EXPECT_EQ(engineObject.BackgroundColour(), c.colour) << c.text;
    g_config = previous;
  }
  EXPECT_EQ(enginetest::TakeTrace(), std::vector<std::string>{});
}

TEST_F(EngineLifecycleTest, OptionalSwitchesSetTheOverlayAndTheLegendAtStart) {
  struct Case {
    const char* text;
    bool wireOverlay, legend;
  };
  const Case cases[] = {
      {"", true, false},  // missing keys: the picture as it always was
      {"Engine { WireOverlay = false Legend = true }", false, true},
      {"Engine { WireOverlay = 1 Legend = 0 }", true, false},
      {"Engine { WireOverlay = nie Legend = tak }", true, false},  // unreadable: as if missing
  };
  qemtest::TempFile file(enginetest::kCutTetra);
  engine::SetDocumentPath(file.path);
  for (const Case& c : cases) {
    Config config{std::string_view(c.text)};
    Config* previous = g_config;
    g_config = &config;
    engine::ResetState();
    engine::SetDocumentPath(file.path);
    engineObject.OnCreate();
    engineObject.OnDestroy();
    qem::ResetLoader();
    g_config = previous;
    EXPECT_EQ(state.wireOverlayOn, c.wireOverlay) << c.text;
    EXPECT_EQ(state.legendShown, c.legend) << c.text;
    EXPECT_EQ(enginetest::TakeTrace(), std::vector<std::string>{}) << c.text;
  }
}

TEST_F(EngineLifecycleTest, LoadsBuildsOnceAndRebuildsAfterDeviceRecreation) {
  qemtest::TempFile file(enginetest::kCutTetra);
  engine::SetDocumentPath(file.path);
  engineObject.OnCreate();
  // Nothing happens in the first 0.2 s of frame time.
  engineObject.UpdateAt(0.1f, 0.1f);
  EXPECT_EQ(state.statusText, "");
  EXPECT_TRUE(device.Log().empty());
  const float now = UpdateUntilReady(0.1f);
  ASSERT_TRUE(state.documentReady);
  EXPECT_EQ(state.statusText, "Węzłów: 4\nElementów: 1\nCzas: 0 (0-10) - 0%"_cp);
  ASSERT_TRUE(state.edgeBuffer);
  EXPECT_EQ(state.displayTime, 0.0f);
  EXPECT_EQ(device.Texts("CreateVertexBuffer").size(), 1u);  // the plane at sqrt 3 cuts nothing

  // The time moves, the device goes and comes back: rebuilt at timeMin, plane kept.
  state.displayTime = 5;
  state.clipDistance = 0;
  engine::UpdateClipPlane();
  engineObject.OnDeviceDestroy();
  EXPECT_FALSE(state.edgeBuffer);
  EXPECT_EQ(device.LiveResources(), 0);
  engineObject.UpdateAt(now + 0.02f, 0.02f);
  ASSERT_TRUE(state.edgeBuffer);
  EXPECT_EQ(state.displayTime, 0.0f);
  EXPECT_EQ(state.clipDistance, 0.0f);
  EXPECT_GE(state.clipVertexCount, 3u);  // the plane through the middle cuts the turned tetrahedron
  EXPECT_TRUE(state.clipIndexBuffer);
  EXPECT_EQ(enginetest::TakeTrace(), std::vector<std::string>{});

  engineObject.OnDestroy();
  EXPECT_EQ(qem::GetCurrentDocument(), nullptr);
}

TEST_F(EngineLifecycleTest, StatusRefreshesAtMostFiveTimesPerSecondWhileLoading) {
  // A load that fails: its error stays on screen, nothing is built.
  qemtest::TempFile file("QEM\nVERTICES 2\n0 0 0\n");
  engine::SetDocumentPath(file.path);
  engineObject.OnCreate();
  int refreshes = 0;
  float now = 0;
  for (int i = 0; i < 60; ++i) {
    now += 1.0f / 60;
    const float clock = state.statusClock;
    engineObject.UpdateAt(now, 1.0f / 60);
    if (state.statusClock != clock) ++refreshes;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(refreshes, 4);  // at 0.2 < t, 0.4, 0.6, 0.8 (the next one would come after 1.0)
  // After a long pause the clock catches up one refresh per step.
  engineObject.UpdateAt(10, 9);
  EXPECT_FLOAT_EQ(state.statusClock, 1.0f);
  // The loader fails on its own thread, which a slow build (ThreadSanitizer) may not have
  // finished yet: later refreshes show the error, for up to a few seconds.
  now = 10;
  for (int i = 0; i < 500 && state.statusText.rfind("Błąd:\n"_cp, 0) != 0; ++i) {
    now += 0.25f;
    engineObject.UpdateAt(now, 0.25f);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_THAT(state.statusText, ::testing::StartsWith("Błąd:\n"_cp));
  EXPECT_FALSE(state.documentReady);
  EXPECT_FALSE(state.edgeBuffer);
  EXPECT_EQ(enginetest::TakeTrace(), std::vector<std::string>{});
}

TEST_F(EngineLifecycleTest, HooksAddTheirLocationToAPendingError) {
  ErrorRaise("root", "", 0);
  engineObject.OnDeviceCreate();
  engineObject.OnDeviceRestore();
  const auto trace = enginetest::TakeTrace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_THAT(trace[0], ::testing::HasSubstr("engine::Engine::OnDeviceRestore()"));
  EXPECT_THAT(trace[1], ::testing::HasSubstr("engine::Engine::OnDeviceCreate()"));
}

// A failure of the first build in an update step names the hook the framework called, and
// nothing of the tests' own clock.
TEST_F(EngineLifecycleTest, UpdateFailureNamesOnUpdate) {
  Load(enginetest::kCutTetra);
  device.FailCall("CreateVertexBuffer", E_FAIL);
  engineObject.OnUpdate();
  const auto trace = enginetest::TakeTrace();
  ASSERT_GE(trace.size(), 3u);
  EXPECT_THAT(trace[0], ::testing::HasSubstr("engine::Engine::OnUpdate()"));
  EXPECT_THAT(trace[0], ::testing::StartsWith("[Engine,"));
  EXPECT_THAT(trace[1], ::testing::StartsWith("[Engine,"));
  EXPECT_THAT(trace[1], ::testing::HasSubstr("engine::GenerateEdgeBuffers()"));
  for (const auto& line : trace) EXPECT_THAT(line, ::testing::Not(::testing::HasSubstr("UpdateAt")));
}

TEST_F(EngineLifecycleTest, DrawWithoutDocumentDrawsOnlyTheStatus) {
  engineObject.OnDraw();
  EXPECT_TRUE(device.Log().empty());  // no font on the recording device, no mesh yet
  EXPECT_EQ(enginetest::TakeTrace(), std::vector<std::string>{});
}

}  // namespace
