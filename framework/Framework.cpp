#include "framework/Framework.h"

#include <algorithm>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "framework/Input.h"
#include "framework/Timer.h"

namespace frame {

namespace {

struct Registration {
  FrameObject* object = nullptr;
  bool created = false;
  bool deviceCreated = false;
  bool deviceRestored = false;
};

struct State {
  Platform platform;
  Settings settings;
  DisplayMode mode;
  std::vector<Registration> registry;

  WindowSystem* window = nullptr;  // set while the window exists
  bool displayOpen = false;        // the graphics object
  std::unique_ptr<gfx::Device> device;
  gfx::Device* installedDevice = nullptr;  // a test's device, when no framework device exists
  gfx::StateBlockPtr defaultState;

  // Frame clock. Readings stay in double until the start time is taken off: seconds since
  // boot after days of uptime have too few float bits left for a frame's length.
  std::function<double()> clock;
  bool started = false;
  double startTime = 0.0;
  double previousTime = 0.0;
  bool resetElapsed = false;
  int frameCount = 0;
  double fpsTime = 0.0;
  float fps = 0.0f;
  float time = 0.0f;
  float elapsed = 0.0f;

  // Pause, suspension, loss.
  bool paused = false;
  bool maximized = false;
  int suspendCount = 0;
  bool deviceLost = false;

  // Activation.
  int activeCount = 0;
  bool activatedFlag = false;

  // Mode enumeration.
  int modeCount = 0;
  int modeIndex = 0;
};

State& S() {
  static State state;
  return state;
}

constexpr unsigned kPausedTimerId = 1;

using Hook = void (FrameObject::*)();
using Flag = bool Registration::*;

// Creating hooks run in registration order and stop at the first error, so a walk that
// stopped half-way leaves exactly the called entries flagged for their counterparts.
void ForwardWalk(Hook hook, Flag flag) {
  auto& registry = S().registry;
  for (std::size_t i = 0; i < registry.size(); ++i) {
    if (registry[i].*flag) continue;
    registry[i].*flag = true;
    (registry[i].object->*hook)();
    if (ErrorPending()) return;
  }
}

void BackwardWalk(Hook hook, Flag flag) {
  auto& registry = S().registry;
  for (std::size_t i = registry.size(); i-- > 0;) {
    if (!(registry[i].*flag)) continue;
    registry[i].*flag = false;
    (registry[i].object->*hook)();
  }
}

void PostClose() {
  if (S().window) S().window->PostClose();
}

WindowStyle StyleFor(const DisplayMode& mode) {
  const Settings& settings = S().settings;
  WindowStyle style;
  style.fullScreen = mode.fullScreen;
  style.refreshRate = mode.fullScreen ? mode.refreshRate : 0;
  style.resizable = !mode.fullScreen && settings.resizable;
  style.maximizeBox = style.resizable && settings.maxWidth == 0 && settings.maxHeight == 0;
  // Our window systems size by the client area, so the tracking limits are the client
  // sizes themselves.
  style.minWidth = settings.minWidth > 0 ? settings.minWidth : 0;
  style.minHeight = settings.minHeight > 0 ? settings.minHeight : 0;
  style.maxWidth = settings.maxWidth > 0 ? settings.maxWidth : 0;
  style.maxHeight = settings.maxHeight > 0 ? settings.maxHeight : 0;
  if (settings.depthStencilFormat == gfx::D3DFMT_D16) {
    style.depthBits = 16;
  } else if (settings.depthStencilFormat != gfx::D3DFMT_UNKNOWN) {
    style.depthBits = 24;
  }
  return style;
}

gfx::D3DPRESENT_PARAMETERS BuildPresentParameters() {
  const State& s = S();
  gfx::D3DPRESENT_PARAMETERS p;
  p.BackBufferWidth = static_cast<gfx::UINT>(s.mode.width);
  p.BackBufferHeight = static_cast<gfx::UINT>(s.mode.height);
  p.BackBufferFormat = gfx::D3DFMT_A8R8G8B8;
  p.BackBufferCount = 2;
  p.MultiSampleType = gfx::D3DMULTISAMPLE_NONE;
  p.MultiSampleQuality = 0;
  p.SwapEffect = gfx::D3DSWAPEFFECT_DISCARD;
  p.hDeviceWindow = s.window;
  p.Windowed = s.mode.fullScreen ? 0 : 1;
  const bool depth = s.settings.depthStencilFormat != gfx::D3DFMT_UNKNOWN;
  p.EnableAutoDepthStencil = depth ? 1 : 0;
  p.AutoDepthStencilFormat = s.settings.depthStencilFormat;
  p.Flags = depth && !s.settings.keepDepthStencil ? gfx::D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL : 0;
  p.FullScreen_RefreshRateInHz = s.mode.fullScreen ? static_cast<gfx::UINT>(s.mode.refreshRate) : 0;
  // The loop never waits for the retrace: frames come as fast as the device allows.
  p.PresentationInterval = gfx::D3DPRESENT_INTERVAL_IMMEDIATE;
  return p;
}

// Hardware, then mixed, then software vertex processing; the first success wins.
void CreateDevice() {
  State& s = S();
  const auto parameters = BuildPresentParameters();
  HRESULT hr = E_FAIL;
  for (gfx::DWORD behaviour : {gfx::D3DCREATE_HARDWARE_VERTEXPROCESSING, gfx::D3DCREATE_MIXED_VERTEXPROCESSING,
                               gfx::D3DCREATE_SOFTWARE_VERTEXPROCESSING}) {
    s.device.reset();
    if (!s.platform.createDevice || !s.window) break;
    hr = s.platform.createDevice(*s.window, parameters, behaviour, s.device);
    if (Succeeded(hr) && s.device) return;
    if (Succeeded(hr)) hr = E_FAIL;
  }
  s.device.reset();
  ErrorRaiseDirectX(hr, "Nie można utworzyć urządzenia"_cp, ERROR_FILE_LINE);
}

void StartPausedTimer() {
  State& s = S();
  if (s.settings.pausedTimerInterval > 0.0f && s.window) {
    s.window->SetTimer(kPausedTimerId, static_cast<unsigned>(s.settings.pausedTimerInterval * 1000.0f));
  }
}

void Pause() {
  S().paused = true;
  StartPausedTimer();
}

void Resume() {
  State& s = S();
  s.paused = false;
  if (s.settings.pausedTimerInterval > 0.0f && s.window) s.window->KillTimer(kPausedTimerId);
  // Nothing ran during the pause: the first step after it reports elapsed 0.
  if (s.settings.pausedLoopMode == 0 && s.settings.pausedTimerInterval <= 0.0f) {
    s.resetElapsed = true;
  }
}

void Activate(bool fromMessage) {
  State& s = S();
  if (fromMessage && s.activatedFlag) return;
  if (s.activeCount <= 0) input::OnActivate();
  s.activeCount += 1;
  s.activatedFlag = fromMessage;
}

void Deactivate() {
  State& s = S();
  s.activatedFlag = false;
  if (s.activeCount > 0) input::OnDeactivate();
  s.activeCount -= 1;
}

void EndSuspension() {
  State& s = S();
  s.suspendCount -= 1;
  if (s.suspendCount <= 0) s.resetElapsed = true;
}

void ResetDevice() {
  State& s = S();
  s.defaultState.reset();
  BackwardWalk(&FrameObject::OnDeviceLost, &Registration::deviceRestored);
  HRESULT hr = s.device->Reset(BuildPresentParameters());
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można zresetować urządzenia"_cp, ERROR_FILE_LINE);
    PostClose();
    return;
  }
  hr = s.device->CreateStateBlock(gfx::D3DSBT_ALL, s.defaultState);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można zapamiętać domyślnego stanu urządzenia"_cp, ERROR_FILE_LINE);
    PostClose();
    return;
  }
  ForwardWalk(&FrameObject::OnDeviceRestore, &Registration::deviceRestored);
  if (ErrorPending()) {
    ErrorAdd("Nie można przywrócić urządzenia po zresetowaniu"_cp, ERROR_FILE_LINE);
    PostClose();
  }
}

// A new client size is taken by resetting the device with the new back-buffer size; no
// resource is created again.
void CheckClientSize() {
  State& s = S();
  if (!s.window) return;
  int width = 0;
  int height = 0;
  s.window->GetClientSize(width, height);
  if (width == s.mode.width && height == s.mode.height) return;
  // A window that reports no area (still minimised) has no back buffer to size.
  if (width <= 0 || height <= 0) return;
  s.suspendCount += 1;
  s.mode.width = width;
  s.mode.height = height;
  if (s.device) ResetDevice();
  EndSuspension();
}

void FrameClock() {
  State& s = S();
  const double t = s.clock ? s.clock() : timer::SecondsPrecise();
  if (!s.started) s.startTime = t;
  const double now = t - s.startTime;
  if (!s.started) {
    s.previousTime = now;
    s.started = true;
  }
  if (s.resetElapsed) {
    s.previousTime = now;
    s.resetElapsed = false;
  }
  const double elapsed = now >= s.previousTime ? now - s.previousTime : 0.0;
  s.frameCount += 1;
  if (now > s.fpsTime + 1.0) {
    s.fps = static_cast<float>(s.frameCount / (now - s.fpsTime));
    s.frameCount = 0;
    s.fpsTime = now;
  }
  s.time = static_cast<float>(now);
  s.elapsed = static_cast<float>(elapsed);
  if (s.settings.update) s.settings.update();
  s.previousTime = now;
}

void UpdateStep() {
  if (S().suspendCount > 0) return;
  FrameClock();
  if (ErrorPending()) {
    ErrorAdd("Błąd podczas działania programu (obliczenia)"_cp, ERROR_FILE_LINE);
    PostClose();
  }
}

void DrawStep() {
  State& s = S();
  if (!s.device) return;
  if (s.deviceLost) {
    const HRESULT hr = s.device->TestCooperativeLevel();
    if (hr == D3DERR_DEVICELOST) return;
    if (hr == D3DERR_DEVICENOTRESET) {
      ResetDevice();
      if (ErrorPending()) return;
    } else if (Failed(hr)) {
      ErrorRaiseDirectX(hr, "Błąd podczas testowania poziomu kooperatywności urządzenia"_cp, ERROR_FILE_LINE);
      PostClose();
      s.deviceLost = false;
    } else {
      s.deviceLost = false;
    }
  }
  if (s.suspendCount > 0 || s.paused) return;
  if (s.settings.draw) s.settings.draw();
  if (!ErrorPending()) {
    const HRESULT hr = s.device->Present();
    if (hr == D3DERR_DEVICELOST) {
      Pause();
      s.deviceLost = true;
    } else if (Failed(hr)) {
      ErrorRaiseDirectX(hr, "Nie można wyświetlić ekranu"_cp, ERROR_FILE_LINE);
    }
  }
  if (ErrorPending()) {
    ErrorAdd("Błąd podczas działania programu (rysowanie)"_cp, ERROR_FILE_LINE);
    PostClose();
  }
}

void CloseDisplay() {
  State& s = S();
  if (s.displayOpen && s.platform.windowSystem) s.platform.windowSystem->CloseDisplay();
  s.displayOpen = false;
}

void Shutdown() {
  State& s = S();
  s.defaultState.reset();
  BackwardWalk(&FrameObject::OnDeviceLost, &Registration::deviceRestored);
  BackwardWalk(&FrameObject::OnDeviceDestroy, &Registration::deviceCreated);
  s.device.reset();
  BackwardWalk(&FrameObject::OnDestroy, &Registration::created);
  CloseDisplay();
  input::Release();
  WindowSystem* window = s.window;
  if (!window) return;
  if (!IsCursorVisible(s.mode.fullScreen)) window->ShowCursor(true);
  window->DestroyWindow();
  s.window = nullptr;
  window->PostQuit(0);
}

void Dispatch(const Message& message) {
  // Translation has nothing to do here: the window systems deliver WM_CHAR themselves.
  if (message.message == WM_QUIT) return;
  WindowProc(message);
}

int MessageLoop() {
  State& s = S();
  WindowSystem* window = s.platform.windowSystem;
  Message msg{};
  while (msg.message != WM_QUIT) {
    if (!s.paused) {
      if (window->PeekMessage(msg)) {
        Dispatch(msg);
      } else {
        msg = Message{};
        UpdateStep();
        if (!ErrorPending()) DrawStep();
      }
    } else if (s.settings.pausedLoopMode == 1) {
      if (window->GetMessage(msg)) {
        UpdateStep();
        Dispatch(msg);
      }
    } else if (s.settings.pausedLoopMode == 2) {
      if (window->PeekMessage(msg)) {
        Dispatch(msg);
      } else {
        msg = Message{};
        UpdateStep();
      }
    } else {
      if (window->GetMessage(msg)) Dispatch(msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

int RunGuarded(const Settings& settings, const DisplayMode& mode) {
  State& s = S();
  s.settings = settings;
  s.mode = mode;
  WindowSystem* window = s.platform.windowSystem;

  std::string reason;
  if (!window || !window->OpenDisplay(reason)) {
    ErrorRaiseWin32Code(0, reason.empty() ? "brak systemu okien" : reason,
                        "Nie można zainicjalizować OpenGL (wymaga conajmniej OpenGL 3.3)"_cp, ERROR_FILE_LINE);
    return -1;
  }
  s.displayOpen = true;

  if (!window->RegisterClass(settings.className, settings.closeBox, reason)) {
    ErrorRaiseWin32Code(0, reason, "Nie można zarejestrować klasy okna"_cp, ERROR_FILE_LINE);
    CloseDisplay();
    return -2;
  }

  if (!window->CreateWindow(settings.title, StyleFor(mode), mode.width, mode.height, reason)) {
    ErrorRaiseWin32Code(0, reason, "Nie można utworzyć okna"_cp, ERROR_FILE_LINE);
    window->UnregisterClass();
    CloseDisplay();
    return -3;
  }
  s.window = window;

  input::Create();  // a failure stays in the trace for the first test below

  if (!IsCursorVisible(mode.fullScreen)) window->ShowCursor(false);

  ForwardWalk(&FrameObject::OnCreate, &Registration::created);
  if (ErrorPending()) {
    ErrorAdd("Nie można zainicjalizować programu (etap 1/3)"_cp, ERROR_FILE_LINE);
    BackwardWalk(&FrameObject::OnDestroy, &Registration::created);
    window->UnregisterClass();
    CloseDisplay();
    return -4;
  }

  CreateDevice();
  if (ErrorPending()) {
    BackwardWalk(&FrameObject::OnDestroy, &Registration::created);
    window->UnregisterClass();
    CloseDisplay();
    return -5;
  }

  const HRESULT hr = s.device->CreateStateBlock(gfx::D3DSBT_ALL, s.defaultState);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można zapamiętać domyślnego stanu urządzenia"_cp, ERROR_FILE_LINE);
    s.device.reset();
    BackwardWalk(&FrameObject::OnDestroy, &Registration::created);
    window->UnregisterClass();
    CloseDisplay();
    return -12;
  }

  ForwardWalk(&FrameObject::OnDeviceCreate, &Registration::deviceCreated);
  if (ErrorPending()) {
    ErrorAdd("Nie można zainicjalizować programu (etap 2/3)"_cp, ERROR_FILE_LINE);
    s.defaultState.reset();
    BackwardWalk(&FrameObject::OnDeviceDestroy, &Registration::deviceCreated);
    s.device.reset();
    BackwardWalk(&FrameObject::OnDestroy, &Registration::created);
    window->UnregisterClass();
    CloseDisplay();
    return -6;
  }

  ForwardWalk(&FrameObject::OnDeviceRestore, &Registration::deviceRestored);
  if (ErrorPending()) {
    ErrorAdd("Nie można zainicjalizować programu (etap 3/3)"_cp, ERROR_FILE_LINE);
    s.defaultState.reset();
    BackwardWalk(&FrameObject::OnDeviceLost, &Registration::deviceRestored);
    BackwardWalk(&FrameObject::OnDeviceDestroy, &Registration::deviceCreated);
    s.device.reset();
    BackwardWalk(&FrameObject::OnDestroy, &Registration::created);
    window->UnregisterClass();
    CloseDisplay();
    return -7;
  }

  return MessageLoop();
}

}  // namespace

void SetPlatform(const Platform& platform) { S().platform = platform; }

void Register(FrameObject* object) { S().registry.push_back(Registration{object, false, false, false}); }

int Run(const Settings& settings, const DisplayMode& mode) {
  // Anything thrown out of a hook, a callback or the loop ends the run here, without
  // further clean-up. (Processor faults arrive as signals on this platform, not as
  // exceptions, and end the process instead.)
  try {
    return RunGuarded(settings, mode);
  } catch (...) {
    ErrorAdd("Nieznany błąd (najprawdopodobniej błąd ochrony)"_cp, ERROR_FILE_LINE);
    return -11;
  }
}

void RequestClose() { PostClose(); }

bool ChangeDisplayMode(const DisplayMode& newMode) {
  State& s = S();
  // A window of no area has no back buffer, and a device cannot be made for one.
  if (newMode.width <= 0 || newMode.height <= 0) return false;
  const DisplayMode& current = s.mode;
  if (newMode.width == current.width && newMode.height == current.height && newMode.fullScreen == current.fullScreen &&
      (newMode.refreshRate == current.refreshRate || !newMode.fullScreen)) {
    return true;
  }

  s.suspendCount += 1;
  s.defaultState.reset();
  BackwardWalk(&FrameObject::OnDeviceLost, &Registration::deviceRestored);
  BackwardWalk(&FrameObject::OnDeviceDestroy, &Registration::deviceCreated);
  s.device.reset();

  const bool cursorBefore = IsCursorVisible(current.fullScreen);
  const bool cursorAfter = IsCursorVisible(newMode.fullScreen);
  if (cursorBefore != cursorAfter && s.window) s.window->ShowCursor(cursorAfter);

  s.mode = newMode;
  if (s.window) s.window->SetStyle(StyleFor(newMode));

  CreateDevice();
  if (ErrorPending()) {
    PostClose();
    return true;
  }
  const HRESULT hr = s.device->CreateStateBlock(gfx::D3DSBT_ALL, s.defaultState);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można zapamiętać domyślnego stanu urządzenia"_cp, ERROR_FILE_LINE);
    PostClose();
    return true;
  }

  if (s.window) s.window->PlaceTopLeft(newMode.width, newMode.height);

  ForwardWalk(&FrameObject::OnDeviceCreate, &Registration::deviceCreated);
  if (ErrorPending()) {
    PostClose();
    return true;
  }
  ForwardWalk(&FrameObject::OnDeviceRestore, &Registration::deviceRestored);
  if (ErrorPending()) {
    PostClose();
    return true;
  }
  EndSuspension();
  return true;
}

bool IsDisplayModeSupported(const DisplayMode& mode) {
  const State& s = S();
  if (mode.width < std::max(1, s.settings.minWidth) || mode.height < std::max(1, s.settings.minHeight)) return false;
  gfx::Device* device = GetDevice();
  if (!device) return true;
  gfx::D3DCAPS9 caps;
  if (Failed(device->GetDeviceCaps(caps))) return false;
  return static_cast<gfx::DWORD>(mode.width) <= caps.MaxTextureWidth &&
         static_cast<gfx::DWORD>(mode.height) <= caps.MaxTextureHeight;
}

int BeginModeEnumeration() {
  State& s = S();
  WindowSystem* window = s.platform.windowSystem;
  s.modeCount = window ? window->DisplayModeCount() : 0;
  s.modeIndex = 0;
  return s.modeCount;
}

bool NextMode(DisplayMode& out) {
  State& s = S();
  WindowSystem* window = s.platform.windowSystem;
  if (s.modeIndex >= s.modeCount || !window) return false;
  DisplayMode mode;
  if (!window->GetDisplayMode(s.modeIndex, mode)) return false;
  out.width = mode.width;
  out.height = mode.height;
  out.refreshRate = mode.refreshRate;
  out.fullScreen = true;
  s.modeIndex += 1;
  return true;
}

bool IsCursorVisible(bool fullScreen) {
  return fullScreen ? S().settings.cursorFullScreen : S().settings.cursorWindowed;
}

std::intptr_t WindowProc(const Message& message) {
  State& s = S();
  switch (message.message) {
    case WM_SIZE:
      switch (message.wParam) {
        case SIZE_MINIMIZED:
          Pause();
          s.maximized = false;
          break;
        case SIZE_MAXIMIZED:
          Resume();
          CheckClientSize();
          s.maximized = true;
          break;
        case SIZE_RESTORED:
          if (s.maximized) {
            s.maximized = false;
            CheckClientSize();
          } else if (s.paused) {
            CheckClientSize();
            Resume();
          }
          break;
        default:
          break;
      }
      return 0;
    case WM_ACTIVATE:
      if ((message.wParam & 0xFF) != 0) {
        Activate(true);
      } else {
        Deactivate();
      }
      break;
    case WM_CLOSE:
      Shutdown();
      break;
    case WM_GETMINMAXINFO:
      // The tracking limits travel with the window style (StyleFor); nothing to answer.
      return 0;
    case WM_NCHITTEST:
      if (s.mode.fullScreen) return HTCLIENT;
      break;
    case WM_KEYDOWN:
      if (message.wParam == VK_ESCAPE && s.settings.escapeCloses) RequestClose();
      break;
    case WM_SYSCOMMAND:
      if (s.mode.fullScreen &&
          (message.wParam == SC_SIZE || message.wParam == SC_MOVE || message.wParam == SC_MAXIMIZE ||
           message.wParam == SC_KEYMENU || message.wParam == SC_MONITORPOWER)) {
        return 1;
      }
      break;
    case WM_TIMER:
      if (message.wParam == kPausedTimerId && s.settings.pausedLoopMode != 1) FrameClock();
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (s.window) s.window->SetCapture();
      break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      if (s.window) s.window->ReleaseCapture();
      break;
    case WM_ENTERMENULOOP:
    case WM_ENTERSIZEMOVE:
      s.suspendCount += 1;
      Deactivate();
      return 0;
    case WM_EXITMENULOOP:
    case WM_EXITSIZEMOVE:
      if (s.activeCount <= 0) input::OnActivate();
      s.activeCount += 1;
      s.activatedFlag = false;
      EndSuspension();
      if (message.message == WM_EXITSIZEMOVE) CheckClientSize();
      return 0;
    case WM_POWERBROADCAST:
      if (message.wParam == PBT_APMQUERYSUSPEND) return BROADCAST_QUERY_DENY;
      break;
    default:
      break;
  }
  WindowSystem* window = s.platform.windowSystem;
  if (s.settings.messageHandler) {
    return s.settings.messageHandler(window, message.message, message.wParam, message.lParam);
  }
  return window ? window->DefaultProc(message) : 0;
}

gfx::Device* GetDevice() { return S().device ? S().device.get() : S().installedDevice; }
WindowSystem* GetWindow() { return S().window; }
DisplayMode GetDisplayMode() { return S().mode; }
float GetTime() { return S().time; }
float GetElapsed() { return S().elapsed; }
float GetFps() { return S().fps; }
bool IsActive() { return S().activeCount > 0; }

namespace test_seam {

void InstallDevice(gfx::Device* device) { S().installedDevice = device; }
void InstallSettings(const Settings& settings) { S().settings = settings; }
void InstallWindow(WindowSystem* window) { S().window = window; }
void InstallDisplayMode(const DisplayMode& mode) { S().mode = mode; }
void SetActive(bool active) { S().activeCount = active ? 1 : 0; }

void ResetState() {
  State& s = S();
  s.defaultState.reset();
  s.device.reset();
  s = State{};
  input::test_seam::ResetState();
}

void SetClock(std::function<double()> clock) { S().clock = std::move(clock); }
int SuspendCount() { return S().suspendCount; }
bool IsPaused() { return S().paused; }

}  // namespace test_seam

}  // namespace frame
