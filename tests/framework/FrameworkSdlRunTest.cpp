// frame::Run on the real platform (SDL window, OpenGL device) under Xvfb: start-up, frames
// presented, a user-sized window taken by a device reset, a display-mode change that
// recreates the device on the same window, and the normal shutdown.

#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "Common_Code/ErrorTrace.h"
#include "framework/Framework.h"
#include "framework/SdlPlatform.h"

namespace {

using ::testing::ElementsAre;

class Counting : public frame::FrameObject {
 public:
  std::vector<std::string> hooks;
  void OnCreate() override { hooks.push_back("OnCreate"); }
  void OnDestroy() override { hooks.push_back("OnDestroy"); }
  void OnDeviceCreate() override { hooks.push_back("OnDeviceCreate"); }
  void OnDeviceDestroy() override { hooks.push_back("OnDeviceDestroy"); }
  void OnDeviceRestore() override { hooks.push_back("OnDeviceRestore"); }
  void OnDeviceLost() override { hooks.push_back("OnDeviceLost"); }
};

TEST(FrameworkSdlRun, RunsFramesResizesChangesModeAndShutsDown) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X server: run under tests/with-xvfb.sh";
  frame::test_seam::ResetState();
  GlobalErrorTrace().Clear();
  frame::SetPlatform(frame::SdlPlatform());

  Counting object;
  frame::Register(&object);

  int frames = 0;
  int draws = 0;
  std::vector<std::string> marks;
  frame::DisplayMode afterResize;
  bool activeBeforeModeChange = false;
  frame::Settings settings;
  settings.className = "QEM_VIEWER";
  settings.title = "QEM Viewer";
  settings.depthStencilFormat = gfx::D3DFMT_D16;
  settings.minWidth = 320;
  settings.minHeight = 240;
  settings.update = [&] {
    ++frames;
    if (frames == 3) {
      // As if the user dragged the frame: the window system's size changes under us.
      object.hooks.push_back("--resize");
      frame::GetWindow()->PlaceTopLeft(500, 400);
    }
    if (frames == 40) {
      // The new window took the focus, which activated the application.
      activeBeforeModeChange = frame::IsActive();
      afterResize = frame::GetDisplayMode();
      object.hooks.push_back("--mode");
      frame::ChangeDisplayMode(frame::DisplayMode{640, 480, 0, false});
    }
    if (frames == 60) frame::RequestClose();
  };
  settings.draw = [&] {
    ++draws;
    gfx::Device* device = frame::GetDevice();
    ASSERT_NE(device, nullptr);
    device->Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, 0xFF203040, 1.0f, 0);
    device->BeginScene();
    device->EndScene();
  };

  const int result = frame::Run(settings, frame::DisplayMode{400, 300, 0, false});
  std::string trace;
  GlobalErrorTrace().TakeAll(trace);
  EXPECT_EQ(result, 0) << trace;
  EXPECT_EQ(trace, "");
  EXPECT_EQ(frames, 60);
  EXPECT_GE(draws, 50);

  // The resize reset the device (no re-creation); the mode change recreated it.
  EXPECT_TRUE(activeBeforeModeChange);
  EXPECT_EQ(afterResize.width, 500);
  EXPECT_EQ(afterResize.height, 400);
  EXPECT_THAT(object.hooks,
              ElementsAre("OnCreate", "OnDeviceCreate", "OnDeviceRestore", "--resize", "OnDeviceLost",
                          "OnDeviceRestore", "--mode", "OnDeviceLost", "OnDeviceDestroy", "OnDeviceCreate",
                          "OnDeviceRestore", "OnDeviceLost", "OnDeviceDestroy", "OnDestroy"));
  EXPECT_EQ(frame::GetDisplayMode().width, 640);
  EXPECT_EQ(frame::GetDevice(), nullptr);
  frame::test_seam::ResetState();
}

}  // namespace
