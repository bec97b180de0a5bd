#pragma once
// The off-screen window system: no display, no X server. The "display" is EGL on Mesa's
// surfaceless platform with an OpenGL 3.3 core context, and the one "window" is a
// framebuffer object of the client size with a colour and a depth buffer, which the
// device draws into as its back buffer; presenting shows nothing, the picture is read
// back with the device's ReadBackBuffer. For programs that draw pictures on machines with
// no desktop (qem-render).
//
// Nothing comes from the user: the message queue holds only what the program posts itself
// (PostClose, PostQuit, timers), the keyboard is never acquired, the cursor does nothing,
// and there are no full-screen modes. An error box goes to standard error.
// Main thread only.

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "framework/Framework.h"
#include "framework/WindowSystem.h"

namespace frame {

class OffscreenWindowSystem : public WindowSystem {
 public:
  // openInBackground: OpenDisplay starts EGL (loading the driver, making the context) on a
  // thread of its own and returns true at once, so that the program's own start-up (the
  // mesh's loading) runs meanwhile; a platform or context that cannot be made is then
  // reported by GetSurface, which waits for the thread, and so by the device's creation.
  explicit OffscreenWindowSystem(bool openInBackground = false);
  ~OffscreenWindowSystem() override;

  // Fails with the reason when EGL has no surfaceless platform or no OpenGL 3.3 core
  // context can be made on it (in the background: see above).
  bool OpenDisplay(std::string& reason) override;
  void CloseDisplay() override;
  bool RegisterClass(std::string_view className, bool closeBox, std::string& reason) override;
  void UnregisterClass() override;
  // Remembers the size and the depth bits; the framebuffer is made by GetSurface.
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
  void SetCapture() override {}
  void ReleaseCapture() override {}
  bool IsControlDown() override { return false; }
  bool GetSystemSetting(SystemSetting, unsigned&) override { return false; }
  bool AcquireKeyboard() override { return false; }
  void UnacquireKeyboard() override {}
  bool GetKeyboardState(unsigned char[256]) override { return false; }
  int DisplayModeCount() override { return 0; }
  bool GetDisplayMode(int, DisplayMode&) override { return false; }
  // The framebuffer, made (with the context current and the framebuffer bound for drawing
  // and reading) on the first call; null when it cannot be completed (SurfaceError says
  // why).
  gfx::Surface* GetSurface() override;
  void ShowErrorBox(std::string_view title, std::string_view text) override;

  const std::string& SurfaceError() const { return surfaceError; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
  bool openInBackground = false;
  bool windowExists = false;
  int width = 0;
  int height = 0;
  int depthBits = 0;
  int cursorCount = 0;
  Point cursor;
  std::deque<Message> queue;
  std::map<unsigned, unsigned> timers;
  std::string surfaceError;
};

// The given off-screen window system (which must outlive frame::Run) with the factory that
// creates the OpenGL device on its framebuffer (D3DERR_NOTAVAILABLE when it has none).
Platform OffscreenPlatform(OffscreenWindowSystem& windowSystem);

}  // namespace frame
