#include "framework/OffscreenWindowSystem.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>

#include "Common_Code/Cp1250.h"
#include "gfx/Device.h"

namespace frame {

namespace {

// Whether a space-separated extension list names extension.
bool HasExtension(const char* list, std::string_view extension) {
  if (!list) return false;
  const std::string_view all(list);
  for (std::size_t at = 0; (at = all.find(extension, at)) != std::string_view::npos; at += extension.size()) {
    const bool starts = at == 0 || all[at - 1] == ' ';
    const std::size_t end = at + extension.size();
    if (starts && (end == all.size() || all[end] == ' ')) return true;
  }
  return false;
}

std::string EglErrorText(const char* what) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%s (EGL 0x%04X)", what, static_cast<unsigned>(eglGetError()));
  return buffer;
}

}  // namespace

class FramebufferSurface : public gfx::Surface {
 public:
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  GLuint framebuffer = 0;
  GLuint colour = 0;
  GLuint depth = 0;
  int width = 0;
  int height = 0;

  // The framebuffer is bound for drawing and reading alike, so that everything the device
  // draws and reads back is the framebuffer's, never the (absent) default one.
  bool MakeCurrent() override {
    if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) != EGL_TRUE) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return true;
  }
  // Nobody looks: the frame stays in the framebuffer until it is read back.
  void SwapBuffers() override { glFlush(); }
  void GetDrawableSize(int& w, int& h) override {
    w = width;
    h = height;
  }
  bool DisableVsync() override { return true; }
};

struct OffscreenWindowSystem::Impl {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  bool closeDeferred = false;
  FramebufferSurface surface;
  // Opening in the background: the thread, and what it found once joined.
  std::thread opener;
  bool opened = false;
  std::string openReason;

  bool Open(std::string& reason);

  // Waits for a background opening; false (with its reason) when it failed.
  bool Opened(std::string& reason) {
    if (opener.joinable()) opener.join();
    if (display != EGL_NO_DISPLAY) return true;
    reason = openReason;
    return false;
  }

  void DeleteFramebuffer() {
    if (surface.framebuffer == 0 && surface.colour == 0 && surface.depth == 0) return;
    if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE) {
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      glDeleteFramebuffers(1, &surface.framebuffer);
      glDeleteRenderbuffers(1, &surface.colour);
      glDeleteRenderbuffers(1, &surface.depth);
    }
    surface.framebuffer = surface.colour = surface.depth = 0;
  }

  void Close() {
    if (display == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    eglTerminate(display);
    eglReleaseThread();
    display = EGL_NO_DISPLAY;
    context = EGL_NO_CONTEXT;
    closeDeferred = false;
  }
};

OffscreenWindowSystem::OffscreenWindowSystem(bool openInBackground)
    : impl(std::make_unique<Impl>()), openInBackground(openInBackground) {}

OffscreenWindowSystem::~OffscreenWindowSystem() {
  DestroyWindow();
  CloseDisplay();
}

bool OffscreenWindowSystem::OpenDisplay(std::string& reason) {
  if (impl->opener.joinable() || impl->display != EGL_NO_DISPLAY) return true;
  if (!openInBackground) return impl->Open(reason);
  impl->openReason.clear();
  impl->opener = std::thread([impl = impl.get()] {
    if (impl->Open(impl->openReason)) {
      // The context is made current again on the main thread, which draws.
      eglMakeCurrent(impl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    eglReleaseThread();
  });
  return true;
}

bool OffscreenWindowSystem::Impl::Open(std::string& reason) {
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless") ||
      !HasExtension(clientExtensions, "EGL_EXT_platform_base")) {
    reason = "EGL nie ma platformy bez ekranu (EGL_MESA_platform_surfaceless)"_cp;
    return false;
  }
  EGLDisplay display = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  EGLint major = 0, minor = 0;
  if (display == EGL_NO_DISPLAY || eglInitialize(display, &major, &minor) != EGL_TRUE) {
    reason = EglErrorText("eglInitialize");
    return false;
  }
  const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
  if (!HasExtension(extensions, "EGL_KHR_surfaceless_context") || eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
    reason = "EGL nie daje kontekstu OpenGL bez powierzchni"_cp;
    eglTerminate(display);
    return false;
  }
  EGLConfig config = EGL_NO_CONFIG_KHR;
  if (!HasExtension(extensions, "EGL_KHR_no_config_context")) {
    const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0, EGL_NONE};
    EGLint count = 0;
    if (eglChooseConfig(display, wanted, &config, 1, &count) != EGL_TRUE || count < 1) {
      reason = EglErrorText("eglChooseConfig");
      eglTerminate(display);
      return false;
    }
  }
  const EGLint attributes[] = {
      EGL_CONTEXT_MAJOR_VERSION,           3,       EGL_CONTEXT_MINOR_VERSION, 3, EGL_CONTEXT_OPENGL_PROFILE_MASK,
      EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT) {
    reason = EglErrorText("eglCreateContext (OpenGL 3.3 core)");
    eglTerminate(display);
    return false;
  }
  if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) != EGL_TRUE) {
    reason = EglErrorText("eglMakeCurrent");
    eglDestroyContext(display, context);
    eglTerminate(display);
    return false;
  }
  this->display = display;
  this->context = context;
  surface.display = display;
  surface.context = context;
  return true;
}

void OffscreenWindowSystem::CloseDisplay() {
  if (impl->opener.joinable()) impl->opener.join();
  if (impl->display == EGL_NO_DISPLAY) return;
  // The framework lets the graphics go before it destroys the window; the framebuffer
  // still needs the context then, so the display goes with the window.
  if (windowExists) {
    impl->closeDeferred = true;
    return;
  }
  impl->Close();
}

bool OffscreenWindowSystem::RegisterClass(std::string_view, bool, std::string&) { return true; }
void OffscreenWindowSystem::UnregisterClass() {}

bool OffscreenWindowSystem::CreateWindow(std::string_view, const WindowStyle& style, int clientWidth, int clientHeight,
                                         std::string& reason) {
  if (clientWidth <= 0 || clientHeight <= 0) {
    reason = "Nieprawidłowy rozmiar obrazu"_cp;
    return false;
  }
  DestroyWindow();
  windowExists = true;
  width = clientWidth;
  height = clientHeight;
  depthBits = style.depthBits;
  return true;
}

void OffscreenWindowSystem::DestroyWindow() {
  impl->DeleteFramebuffer();
  timers.clear();
  windowExists = false;
  if (impl->closeDeferred) impl->Close();
}

gfx::Surface* OffscreenWindowSystem::GetSurface() {
  if (!windowExists) {
    surfaceError = "brak okna";
    return nullptr;
  }
  if (!impl->Opened(surfaceError)) return nullptr;
  FramebufferSurface& s = impl->surface;
  if (s.framebuffer != 0) return &s;
  if (eglMakeCurrent(impl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, impl->context) != EGL_TRUE) {
    surfaceError = EglErrorText("eglMakeCurrent");
    return nullptr;
  }
  GLint largest = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
  if (width > largest || height > largest) {
    surfaceError = "obraz " + std::to_string(width) + "x" + std::to_string(height) + " jest większy od "_cp +
                   std::to_string(largest) + " pikseli";
    return nullptr;
  }
  s.width = width;
  s.height = height;
  glGenFramebuffers(1, &s.framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
  glGenRenderbuffers(1, &s.colour);
  glBindRenderbuffer(GL_RENDERBUFFER, s.colour);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, s.colour);
  if (depthBits > 0) {
    // The window's depth buffer has the bits the framework asks for: the same precision
    // decides the same pixels where the wire overlay meets the faces.
    glGenRenderbuffers(1, &s.depth);
    glBindRenderbuffer(GL_RENDERBUFFER, s.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, depthBits <= 16 ? GL_DEPTH_COMPONENT16 : GL_DEPTH_COMPONENT24, width,
                          height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, s.depth);
  }
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "bufor ramki niekompletny (0x%04X)", static_cast<unsigned>(status));
    surfaceError = buffer;
    impl->DeleteFramebuffer();
    return nullptr;
  }
  return &s;
}

bool OffscreenWindowSystem::PeekMessage(Message& out) {
  if (queue.empty()) return false;
  out = queue.front();
  queue.pop_front();
  return true;
}

bool OffscreenWindowSystem::GetMessage(Message& out) {
  if (queue.empty() && !timers.empty()) {
    // Only a timer can come: wait for the soonest.
    auto soonest = timers.begin();
    for (auto it = timers.begin(); it != timers.end(); ++it) {
      if (it->second < soonest->second) soonest = it;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(soonest->second));
    queue.push_back(Message{WM_TIMER, soonest->first, 0});
  }
  if (queue.empty()) {
    // Nothing can ever come: end the loop rather than wait for ever.
    out = Message{WM_QUIT, 0, 0};
    return false;
  }
  out = queue.front();
  queue.pop_front();
  return out.message != WM_QUIT;
}

void OffscreenWindowSystem::PostClose() { queue.push_back(Message{WM_CLOSE, 0, 0}); }

void OffscreenWindowSystem::PostQuit(int code) {
  queue.push_back(Message{WM_QUIT, static_cast<std::uintptr_t>(code), 0});
}

void OffscreenWindowSystem::SetTimer(unsigned id, unsigned periodMs) { timers[id] = periodMs; }
void OffscreenWindowSystem::KillTimer(unsigned id) { timers.erase(id); }
std::intptr_t OffscreenWindowSystem::DefaultProc(const Message&) { return 0; }

void OffscreenWindowSystem::GetClientSize(int& w, int& h) {
  w = windowExists ? width : 0;
  h = windowExists ? height : 0;
}

Rect OffscreenWindowSystem::GetWindowRect() { return Rect{0, 0, width, height}; }

// The picture's size is fixed when it is made.
void OffscreenWindowSystem::SetStyle(const WindowStyle&) {}
void OffscreenWindowSystem::PlaceTopLeft(int, int) {}

int OffscreenWindowSystem::ShowCursor(bool show) {
  cursorCount += show ? 1 : -1;
  return cursorCount;
}

void OffscreenWindowSystem::SetCursorPos(Point screen) { cursor = screen; }
Point OffscreenWindowSystem::GetCursorPos() { return cursor; }
Point OffscreenWindowSystem::ScreenToClient(Point screen) { return screen; }
Point OffscreenWindowSystem::ClientToScreen(Point client) { return client; }

void OffscreenWindowSystem::ShowErrorBox(std::string_view title, std::string_view text) {
  std::fprintf(stderr, "%s: %s\n", cp1250::ToUtf8(title).c_str(), cp1250::ToUtf8(text).c_str());
}

Platform OffscreenPlatform(OffscreenWindowSystem& windowSystem) {
  Platform platform;
  platform.windowSystem = &windowSystem;
  platform.createDevice = [](WindowSystem& window, const gfx::D3DPRESENT_PARAMETERS& parameters, gfx::DWORD,
                             std::unique_ptr<gfx::Device>& device) -> HRESULT {
    gfx::Surface* surface = window.GetSurface();
    if (!surface) return D3DERR_NOTAVAILABLE;
    return gfx::CreateGLDevice(*surface, parameters, device);
  };
  return platform;
}

}  // namespace frame
