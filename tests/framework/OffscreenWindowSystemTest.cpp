// The off-screen window system with the OpenGL device on it, with no display at all
// (DISPLAY is taken out of the environment first): the framebuffer is what the device
// clears and reads back, at the window's size; the queue holds only what was posted, and
// waiting on an empty one ends the loop instead of hanging; the display outlives the
// window when the framework closes it first.
#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/OffscreenWindowSystem.h"
#include "gfx/Device.h"

namespace frame {
namespace {

class OffscreenWindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
};

std::unique_ptr<gfx::Device> DeviceOn(OffscreenWindowSystem& window, int width, int height) {
  gfx::D3DPRESENT_PARAMETERS p;
  p.BackBufferWidth = static_cast<gfx::UINT>(width);
  p.BackBufferHeight = static_cast<gfx::UINT>(height);
  p.EnableAutoDepthStencil = 1;
  p.AutoDepthStencilFormat = gfx::D3DFMT_D16;
  std::unique_ptr<gfx::Device> device;
  const HRESULT hr = OffscreenPlatform(window).createDevice(window, p, 0, device);
  EXPECT_TRUE(Succeeded(hr));
  return device;
}

TEST_F(OffscreenWindowSystemTest, TheDeviceDrawsIntoTheFramebufferAndReadsItBack) {
  OffscreenWindowSystem window;
  std::string reason;
  ASSERT_TRUE(window.OpenDisplay(reason)) << reason;
  WindowStyle style;
  style.depthBits = 16;
  ASSERT_TRUE(window.CreateWindow("t", style, 37, 21, reason)) << reason;
  int w = 0, h = 0;
  window.GetClientSize(w, h);
  EXPECT_EQ(w, 37);
  EXPECT_EQ(h, 21);
  std::unique_ptr<gfx::Device> device = DeviceOn(window, 37, 21);
  ASSERT_TRUE(device) << window.SurfaceError();
  for (const gfx::D3DCOLOR colour : {0xFF102030u, 0xFFFF8000u}) {
    ASSERT_TRUE(Succeeded(device->Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, colour, 1.0f, 0)));
    ASSERT_TRUE(Succeeded(device->Present()));
    std::vector<std::uint8_t> rgba;
    gfx::UINT rw = 0, rh = 0;
    ASSERT_TRUE(Succeeded(device->ReadBackBuffer(rgba, rw, rh)));
    ASSERT_EQ(rw, 37u);
    ASSERT_EQ(rh, 21u);
    ASSERT_EQ(rgba.size(), 37u * 21u * 4u);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
      ASSERT_EQ(rgba[i], (colour >> 16) & 0xFF) << i;
      ASSERT_EQ(rgba[i + 1], (colour >> 8) & 0xFF) << i;
      ASSERT_EQ(rgba[i + 2], colour & 0xFF) << i;
    }
  }
  // The framework lets the device go, closes the display, then destroys the window.
  device.reset();
  window.CloseDisplay();
  window.DestroyWindow();
  EXPECT_FALSE(window.HasWindow());
  // And it can all start again.
  ASSERT_TRUE(window.OpenDisplay(reason)) << reason;
  ASSERT_TRUE(window.CreateWindow("t", style, 8, 8, reason));
  EXPECT_TRUE(DeviceOn(window, 8, 8));
  window.DestroyWindow();
  window.CloseDisplay();
}

// Opened in the background, the display is waited for when the device needs it; closing
// at once waits for the thread too.
TEST_F(OffscreenWindowSystemTest, ABackgroundOpeningIsWaitedFor) {
  OffscreenWindowSystem window(true);
  std::string reason;
  ASSERT_TRUE(window.OpenDisplay(reason)) << reason;
  ASSERT_TRUE(window.CreateWindow("t", WindowStyle{}, 16, 9, reason)) << reason;
  std::unique_ptr<gfx::Device> device = DeviceOn(window, 16, 9);
  ASSERT_TRUE(device) << window.SurfaceError();
  ASSERT_TRUE(Succeeded(device->Clear(gfx::D3DCLEAR_TARGET, 0xFF00FF00u, 1.0f, 0)));
  std::vector<std::uint8_t> rgba;
  gfx::UINT w = 0, h = 0;
  ASSERT_TRUE(Succeeded(device->ReadBackBuffer(rgba, w, h)));
  EXPECT_EQ(rgba[1], 255);
  device.reset();
  window.CloseDisplay();
  window.DestroyWindow();

  OffscreenWindowSystem closedAtOnce(true);
  ASSERT_TRUE(closedAtOnce.OpenDisplay(reason));
  closedAtOnce.CloseDisplay();
}

TEST_F(OffscreenWindowSystemTest, OnlyPostedMessagesComeAndAnEmptyWaitEnds) {
  OffscreenWindowSystem window;
  Message m;
  EXPECT_FALSE(window.PeekMessage(m));
  window.PostClose();
  window.PostQuit(7);
  ASSERT_TRUE(window.PeekMessage(m));
  EXPECT_EQ(m.message, WM_CLOSE);
  EXPECT_FALSE(window.GetMessage(m));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 7u);
  // Nothing posted and no timer: the wait ends with WM_QUIT rather than for ever.
  EXPECT_FALSE(window.GetMessage(m));
  EXPECT_EQ(m.message, WM_QUIT);
  window.SetTimer(3, 1);
  ASSERT_TRUE(window.GetMessage(m));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.wParam, 3u);
  unsigned char keys[256] = {};
  EXPECT_FALSE(window.AcquireKeyboard());
  EXPECT_FALSE(window.GetKeyboardState(keys));
  EXPECT_EQ(window.DisplayModeCount(), 0);
}

TEST_F(OffscreenWindowSystemTest, ABadSizeIsRefused) {
  OffscreenWindowSystem window;
  std::string reason;
  ASSERT_TRUE(window.OpenDisplay(reason)) << reason;
  EXPECT_FALSE(window.CreateWindow("t", WindowStyle{}, 0, 10, reason));
  EXPECT_FALSE(reason.empty());
  ASSERT_TRUE(window.CreateWindow("t", WindowStyle{}, 100000, 10, reason));
  EXPECT_EQ(window.GetSurface(), nullptr);  // beyond the driver's largest framebuffer
  EXPECT_FALSE(window.SurfaceError().empty());
  window.DestroyWindow();
  window.CloseDisplay();
}

}  // namespace
}  // namespace frame
