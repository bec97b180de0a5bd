#pragma once
// The framework: the one window, the graphics device, the registry of frame objects, the
// frame clock and the message loop. frame::Run drives the frame objects' hooks
// (FrameObject.h) and the application's update and draw callbacks; everything runs on the
// thread that called frame::Run. One framework per process, module-level state.
//
// The platform (window system and device factory) is installed with SetPlatform before
// Run: the program uses the SDL window system with the OpenGL device
// (framework/SdlPlatform.h), tests the scripted fake with the recording device.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/FrameObject.h"
#include "framework/WindowSystem.h"
#include "gfx/Device.h"

namespace frame {

// The application's window procedure: every message the framework does not end itself.
using MessageHandler =
    std::function<std::intptr_t(WindowSystem* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam)>;

struct Settings {
  void* instance = nullptr;  // kept for the record's shape; our window systems need none
  void* icon = nullptr;      // likewise: the window manager's default icon
  std::string className;
  std::string title;  // window caption, Windows-1250
  bool escapeCloses = false;
  int pausedLoopMode = 0;                                   // 0: sleep while paused, 1: update per message, 2: spin
  float pausedTimerInterval = 0.0f;                         // seconds; <= 0: no timer while paused
  gfx::D3DFORMAT depthStencilFormat = gfx::D3DFMT_UNKNOWN;  // none when unknown
  bool keepDepthStencil = false;
  bool resizable = true;
  int minWidth = 0, minHeight = 0;  // client pixels; 0: no limit
  int maxWidth = 0, maxHeight = 0;
  bool cursorWindowed = true;
  bool cursorFullScreen = true;
  bool closeBox = true;
  MessageHandler messageHandler;
  std::function<void()> update;
  std::function<void()> draw;
};

// Creates the device for the window's surface with the given present parameters and one
// of the D3DCREATE_*_VERTEXPROCESSING behaviours.
using DeviceFactory = std::function<HRESULT(WindowSystem& window, const gfx::D3DPRESENT_PARAMETERS& parameters,
                                            gfx::DWORD behaviour, std::unique_ptr<gfx::Device>& device)>;

struct Platform {
  WindowSystem* windowSystem = nullptr;  // not owned; outlives Run
  DeviceFactory createDevice;
};

// Installs the platform frame::Run will use. Without one, Run fails at once with -1.
void SetPlatform(const Platform& platform);

// Start-up, message loop, shutdown. Returns the quit code (0 after a normal shutdown) or a
// negative start-up failure: -1 no graphics, -2 window class, -3 window, -4 stage 1/3,
// -5 device, -6 stage 2/3, -7 stage 3/3, -11 an exception, -12 default-state capture.
int Run(const Settings& settings, const DisplayMode& mode);

// Switches resolution and windowed/full screen; the device is released and created again,
// so every OnDeviceLost/OnDeviceDestroy and then OnDeviceCreate/OnDeviceRestore runs. A mode
// of zero or negative width or height is refused (false) and changes nothing.
bool ChangeDisplayMode(const DisplayMode& mode);

// Whether a mode's size can be shown: no smaller than the window's minimum client size
// (Settings::minWidth / minHeight, at least 1 x 1) and no larger than the device draws
// (its largest texture, when there is a device).
bool IsDisplayModeSupported(const DisplayMode& mode);

// Full-screen modes of the default display: BeginModeEnumeration returns the count, then
// NextMode fills one mode per call (fullScreen true) until it returns false, leaving out
// untouched.
int BeginModeEnumeration();
bool NextMode(DisplayMode& out);

// Whether the settings show the system cursor in full screen / windowed mode.
bool IsCursorVisible(bool fullScreen);

// The framework's window procedure (the loop dispatches every message to it).
std::intptr_t WindowProc(const Message& message);

namespace test_seam {
// The settings frame::Run would have been given (the window's minimum size, callbacks).
void InstallSettings(const Settings& settings);
// The frame clock's reading (seconds since any origin, boot for the steady timer); the
// steady timer unless a test sets another.
void SetClock(std::function<double()> clock);
// The frame clock's internal counters a test may assert on.
int SuspendCount();
bool IsPaused();
}  // namespace test_seam

}  // namespace frame
