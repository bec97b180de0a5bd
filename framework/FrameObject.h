#pragma once
// Frame objects and the framework's queries.
//
// A frame object takes part in the lifecycle that the framework drives: window and input
// exist -> OnCreate; device created -> OnDeviceCreate, then OnDeviceRestore; before every
// reset -> OnDeviceLost, after it -> OnDeviceRestore; before the device is released ->
// OnDeviceLost, OnDeviceDestroy; at shutdown -> OnDestroy. Creating hooks run in
// registration order and stop at the first one that leaves the error trace pending; their
// counterparts run in reverse order and only for objects whose creating hook ran.
// Hooks report failure only through the error trace.
//
// Everything here runs on the main thread. Objects are registered before frame::Run, are
// not owned by the framework and must outlive the loop.

namespace gfx {
class Device;
}

namespace frame {

class WindowSystem;

// No data; the slot order of the six hooks is fixed.
class FrameObject {
 public:
  virtual void OnCreate() {}
  virtual void OnDestroy() {}
  virtual void OnDeviceCreate() {}
  virtual void OnDeviceDestroy() {}
  virtual void OnDeviceRestore() {}
  virtual void OnDeviceLost() {}

 protected:
  // Never deleted through this base: the objects are static or owned by the entry.
  ~FrameObject() = default;
};

// The back buffer's and the window client area's size; refreshRate (Hz) counts only in
// full screen.
struct DisplayMode {
  int width = 0;
  int height = 0;
  int refreshRate = 0;
  bool fullScreen = false;
};

// Appends object to the registry (all its hooks still to be called). Before frame::Run.
void Register(FrameObject* object);

// The current device; null while none exists.
gfx::Device* GetDevice();
// The window system holding the one window; null before frame::Run created it.
WindowSystem* GetWindow();
// The current mode: width and height are the back buffer's and the client area's.
DisplayMode GetDisplayMode();
// Seconds since the first frame.
float GetTime();
// Seconds of the current step; 0 on the first step and on the first step after any gap.
float GetElapsed();
// Frames per second over the last window of just over a second; 0 until one has passed.
float GetFps();
// The application counts as active (it has the focus and is not in a menu or size loop).
bool IsActive();
// Posts a close request to the window; the shutdown runs when the loop dispatches it.
void RequestClose();

// For unit tests of frame objects and input, which run without frame::Run: installs the
// given device, window system, display mode and activity as the framework's current ones
// (null is allowed). ResetState forgets the registry, the device, the window, the clocks
// and every counter, as at program start.
namespace test_seam {
void InstallDevice(gfx::Device* device);
void InstallWindow(WindowSystem* window);
void InstallDisplayMode(const DisplayMode& mode);
void SetActive(bool active);
void ResetState();
}  // namespace test_seam

}  // namespace frame
