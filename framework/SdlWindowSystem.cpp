#include "framework/SdlWindowSystem.h"

#include <cstdio>

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "Common_Code/Cp1250.h"
#include "framework/DisplayLoss.h"
#include "gfx/Device.h"

namespace frame {

namespace {

// DIK code -> SDL scan code. DIK codes are the PC's set-1 scan codes (0xE0-prefixed keys
// with the high bit set), which is also what SDL's USB-based scan codes are named after.
constexpr std::array<std::pair<unsigned char, SDL_Scancode>, 103> kDikTable = {{
    {0x01, SDL_SCANCODE_ESCAPE},      {0x02, SDL_SCANCODE_1},           {0x03, SDL_SCANCODE_2},
    {0x04, SDL_SCANCODE_3},           {0x05, SDL_SCANCODE_4},           {0x06, SDL_SCANCODE_5},
    {0x07, SDL_SCANCODE_6},           {0x08, SDL_SCANCODE_7},           {0x09, SDL_SCANCODE_8},
    {0x0A, SDL_SCANCODE_9},           {0x0B, SDL_SCANCODE_0},           {0x0C, SDL_SCANCODE_MINUS},
    {0x0D, SDL_SCANCODE_EQUALS},      {0x0E, SDL_SCANCODE_BACKSPACE},   {0x0F, SDL_SCANCODE_TAB},
    {0x10, SDL_SCANCODE_Q},           {0x11, SDL_SCANCODE_W},           {0x12, SDL_SCANCODE_E},
    {0x13, SDL_SCANCODE_R},           {0x14, SDL_SCANCODE_T},           {0x15, SDL_SCANCODE_Y},
    {0x16, SDL_SCANCODE_U},           {0x17, SDL_SCANCODE_I},           {0x18, SDL_SCANCODE_O},
    {0x19, SDL_SCANCODE_P},           {0x1A, SDL_SCANCODE_LEFTBRACKET}, {0x1B, SDL_SCANCODE_RIGHTBRACKET},
    {0x1C, SDL_SCANCODE_RETURN},      {0x1D, SDL_SCANCODE_LCTRL},       {0x1E, SDL_SCANCODE_A},
    {0x1F, SDL_SCANCODE_S},           {0x20, SDL_SCANCODE_D},           {0x21, SDL_SCANCODE_F},
    {0x22, SDL_SCANCODE_G},           {0x23, SDL_SCANCODE_H},           {0x24, SDL_SCANCODE_J},
    {0x25, SDL_SCANCODE_K},           {0x26, SDL_SCANCODE_L},           {0x27, SDL_SCANCODE_SEMICOLON},
    {0x28, SDL_SCANCODE_APOSTROPHE},  {0x29, SDL_SCANCODE_GRAVE},       {0x2A, SDL_SCANCODE_LSHIFT},
    {0x2B, SDL_SCANCODE_BACKSLASH},   {0x2C, SDL_SCANCODE_Z},           {0x2D, SDL_SCANCODE_X},
    {0x2E, SDL_SCANCODE_C},           {0x2F, SDL_SCANCODE_V},           {0x30, SDL_SCANCODE_B},
    {0x31, SDL_SCANCODE_N},           {0x32, SDL_SCANCODE_M},           {0x33, SDL_SCANCODE_COMMA},
    {0x34, SDL_SCANCODE_PERIOD},      {0x35, SDL_SCANCODE_SLASH},       {0x36, SDL_SCANCODE_RSHIFT},
    {0x37, SDL_SCANCODE_KP_MULTIPLY}, {0x38, SDL_SCANCODE_LALT},        {0x39, SDL_SCANCODE_SPACE},
    {0x3A, SDL_SCANCODE_CAPSLOCK},    {0x3B, SDL_SCANCODE_F1},          {0x3C, SDL_SCANCODE_F2},
    {0x3D, SDL_SCANCODE_F3},          {0x3E, SDL_SCANCODE_F4},          {0x3F, SDL_SCANCODE_F5},
    {0x40, SDL_SCANCODE_F6},          {0x41, SDL_SCANCODE_F7},          {0x42, SDL_SCANCODE_F8},
    {0x43, SDL_SCANCODE_F9},          {0x44, SDL_SCANCODE_F10},         {0x45, SDL_SCANCODE_NUMLOCKCLEAR},
    {0x46, SDL_SCANCODE_SCROLLLOCK},  {0x47, SDL_SCANCODE_KP_7},        {0x48, SDL_SCANCODE_KP_8},
    {0x49, SDL_SCANCODE_KP_9},        {0x4A, SDL_SCANCODE_KP_MINUS},    {0x4B, SDL_SCANCODE_KP_4},
    {0x4C, SDL_SCANCODE_KP_5},        {0x4D, SDL_SCANCODE_KP_6},        {0x4E, SDL_SCANCODE_KP_PLUS},
    {0x4F, SDL_SCANCODE_KP_1},        {0x50, SDL_SCANCODE_KP_2},        {0x51, SDL_SCANCODE_KP_3},
    {0x52, SDL_SCANCODE_KP_0},        {0x53, SDL_SCANCODE_KP_PERIOD},   {0x57, SDL_SCANCODE_F11},
    {0x58, SDL_SCANCODE_F12},         {0x9C, SDL_SCANCODE_KP_ENTER},    {0x9D, SDL_SCANCODE_RCTRL},
    {0xB5, SDL_SCANCODE_KP_DIVIDE},   {0xB8, SDL_SCANCODE_RALT},        {0xC5, SDL_SCANCODE_PAUSE},
    {0xC7, SDL_SCANCODE_HOME},        {0xC8, SDL_SCANCODE_UP},          {0xC9, SDL_SCANCODE_PAGEUP},
    {0xCB, SDL_SCANCODE_LEFT},        {0xCD, SDL_SCANCODE_RIGHT},       {0xCF, SDL_SCANCODE_END},
    {0xD0, SDL_SCANCODE_DOWN},        {0xD1, SDL_SCANCODE_PAGEDOWN},    {0xD2, SDL_SCANCODE_INSERT},
    {0xD3, SDL_SCANCODE_DELETE},      {0xDB, SDL_SCANCODE_LGUI},        {0xDC, SDL_SCANCODE_RGUI},
    {0xDD, SDL_SCANCODE_APPLICATION},
}};

struct Timer {
  unsigned periodMs = 0;
  Uint64 due = 0;
};

// The client area's full-screen display mode for a style and client size.
SDL_DisplayMode FullScreenMode(const WindowStyle& style, int width, int height) {
  SDL_DisplayMode mode{};
  mode.format = SDL_PIXELFORMAT_RGB888;
  mode.w = width;
  mode.h = height;
  mode.refresh_rate = style.refreshRate;
  return mode;
}

// MK_* flags for SDL's button mask as it stands after the event being translated (SDL's own
// current state may already be further on).
std::uintptr_t MouseKeyFlags(Uint32 buttons) {
  const SDL_Keymod mods = SDL_GetModState();
  std::uintptr_t flags = 0;
  if (buttons & SDL_BUTTON(SDL_BUTTON_LEFT)) flags |= MK_LBUTTON;
  if (buttons & SDL_BUTTON(SDL_BUTTON_RIGHT)) flags |= MK_RBUTTON;
  if (buttons & SDL_BUTTON(SDL_BUTTON_MIDDLE)) flags |= MK_MBUTTON;
  if (mods & KMOD_SHIFT) flags |= MK_SHIFT;
  if (mods & KMOD_CTRL) flags |= MK_CONTROL;
  return flags;
}

// OpenGL 3.3 core, double-buffered, 8 bits a colour channel, the given depth buffer.
void SetContextAttributes(int depthBits) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depthBits);
}

}  // namespace

int ScancodeForDik(unsigned char dik) {
  for (const auto& [code, scancode] : kDikTable) {
    if (code == dik) return scancode;
  }
  return 0;
}

unsigned VkForSdlKey(int key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + static_cast<unsigned>(key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + static_cast<unsigned>(key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return VK_F1 + static_cast<unsigned>(key - SDLK_F1);
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) {
    return VK_NUMPAD0 + 1 + static_cast<unsigned>(key - SDLK_KP_1);
  }
  switch (key) {
    case SDLK_BACKSPACE:
      return VK_BACK;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT:
      return VK_MENU;
    case SDLK_PAUSE:
      return VK_PAUSE;
    case SDLK_CAPSLOCK:
      return VK_CAPITAL;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_PAGEUP:
      return VK_PRIOR;
    case SDLK_PAGEDOWN:
      return VK_NEXT;
    case SDLK_END:
      return VK_END;
    case SDLK_HOME:
      return VK_HOME;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_INSERT:
      return VK_INSERT;
    case SDLK_DELETE:
      return VK_DELETE;
    case SDLK_KP_0:
      return VK_NUMPAD0;
    case SDLK_KP_MULTIPLY:
      return VK_MULTIPLY;
    case SDLK_KP_PLUS:
      return VK_ADD;
    case SDLK_KP_MINUS:
      return VK_SUBTRACT;
    case SDLK_KP_PERIOD:
      return VK_DECIMAL;
    case SDLK_KP_DIVIDE:
      return VK_DIVIDE;
    case SDLK_SEMICOLON:
      return VK_OEM_1;
    case SDLK_EQUALS:
      return VK_OEM_PLUS;
    case SDLK_COMMA:
      return VK_OEM_COMMA;
    case SDLK_MINUS:
      return VK_OEM_MINUS;
    case SDLK_PERIOD:
      return VK_OEM_PERIOD;
    case SDLK_SLASH:
      return VK_OEM_2;
    case SDLK_BACKQUOTE:
      return VK_OEM_3;
    case SDLK_LEFTBRACKET:
      return VK_OEM_4;
    case SDLK_BACKSLASH:
      return VK_OEM_5;
    case SDLK_RIGHTBRACKET:
      return VK_OEM_6;
    case SDLK_QUOTE:
      return VK_OEM_7;
    default:
      return 0;
  }
}

class GlSurface : public gfx::Surface {
 public:
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;

  bool MakeCurrent() override { return SDL_GL_MakeCurrent(window, context) == 0; }
  void SwapBuffers() override { SDL_GL_SwapWindow(window); }
  void GetDrawableSize(int& width, int& height) override { SDL_GL_GetDrawableSize(window, &width, &height); }
  bool DisableVsync() override { return SDL_GL_SetSwapInterval(0) == 0; }
};

struct SdlWindowSystem::Impl {
  bool videoOpen = false;
  bool closeDeferred = false;
  std::string className;
  SDL_Window* window = nullptr;
  WindowStyle style;
  GlSurface surface;
  int cursorCount = 0;
  bool keyboardAcquired = false;
  Uint32 buttons = 0;  // SDL button mask as of the last translated mouse event
  std::map<unsigned, Timer> timers;
  std::vector<SDL_DisplayMode> modes;
  bool modesListed = false;
};

SdlWindowSystem::SdlWindowSystem() : impl(std::make_unique<Impl>()) {}

SdlWindowSystem::~SdlWindowSystem() {
  // After the server went away every SDL call would wait on a dead connection.
  if (DisplayLost()) return;
  DestroyWindow();
  CloseDisplay();
}

bool SdlWindowSystem::OpenDisplay(std::string& reason) {
  if (impl->videoOpen) return true;
  // Closing the window is our WM_CLOSE; SDL must not also turn it into a quit of its own.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    reason = cp1250::FromUtf8(SDL_GetError());
    return false;
  }
  // Without a display SDL quietly picks a driver that draws nowhere; a viewer nobody can
  // see is a failure, not a run.
  const char* driver = SDL_GetCurrentVideoDriver();
  const std::string name = driver ? driver : "";
  if (name.empty() || name == "offscreen" || name == "dummy") {
    reason = "Brak ekranu: SDL wybrał sterownik obrazu \""_cp + name + "\" (czy zmienna DISPLAY jest ustawiona?)"_cp;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  if (SDL_GL_LoadLibrary(nullptr) != 0) {
    reason = cp1250::FromUtf8(SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  // The graphics requirement is checked here, before any window shows: a hidden window
  // with the context the device will need.
  SetContextAttributes(0);
  SDL_Window* probe = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  SDL_GLContext context = probe ? SDL_GL_CreateContext(probe) : nullptr;
  if (!context) {
    reason = cp1250::FromUtf8(SDL_GetError());
    if (probe) SDL_DestroyWindow(probe);
    SDL_GL_UnloadLibrary();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(probe);
  // SDL's X11 driver is connected now; a later loss of that connection ends the program.
  if (name == "x11") InstallDisplayLossHandler();
  impl->videoOpen = true;
  impl->closeDeferred = false;
  return true;
}

void SdlWindowSystem::CloseDisplay() {
  if (!impl->videoOpen) return;
  // The framework lets the graphics go before it destroys the window; SDL's video goes
  // with the window then.
  if (impl->window) {
    impl->closeDeferred = true;
    return;
  }
  SDL_GL_UnloadLibrary();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  impl->videoOpen = false;
  impl->closeDeferred = false;
  impl->modesListed = false;
}

bool SdlWindowSystem::RegisterClass(std::string_view className, bool, std::string&) {
  // SDL has no window classes; the name is only remembered.
  impl->className = std::string(className);
  return true;
}

void SdlWindowSystem::UnregisterClass() { impl->className.clear(); }

bool SdlWindowSystem::CreateWindow(std::string_view title, const WindowStyle& style, int width, int height,
                                   std::string& reason) {
  if (impl->window) DestroyWindow();
  SetContextAttributes(style.depthBits);

  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
  if (style.resizable) flags |= SDL_WINDOW_RESIZABLE;
  const std::string utf8Title = cp1250::ToUtf8(title);
  SDL_Window* window =
      SDL_CreateWindow(utf8Title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, flags);
  if (!window) {
    reason = cp1250::FromUtf8(SDL_GetError());
    return false;
  }
  impl->window = window;
  impl->surface.window = window;
  impl->keyboardAcquired = false;
  SetStyle(style);
  if (style.fullScreen) PlaceTopLeft(width, height);
  // The window comes up in the foreground, as a new top-level window does; the focus event
  // that follows activates the application.
  SDL_RaiseWindow(window);
  SDL_SetWindowInputFocus(window);
  SDL_StartTextInput();
  return true;
}

void SdlWindowSystem::DestroyWindow() {
  if (impl->surface.context) {
    SDL_GL_DeleteContext(impl->surface.context);
    impl->surface.context = nullptr;
  }
  if (impl->window) {
    SDL_CaptureMouse(SDL_FALSE);
    SDL_DestroyWindow(impl->window);
    impl->window = nullptr;
    impl->surface.window = nullptr;
  }
  impl->timers.clear();
  impl->keyboardAcquired = false;
  if (impl->closeDeferred) CloseDisplay();
}

bool SdlWindowSystem::HasWindow() const { return impl->window != nullptr; }

bool SdlWindowSystem::Fill(bool wait) {
  for (;;) {
    if (!queue.empty()) return true;
    SDL_Event event;
    bool got = false;
    if (impl->videoOpen) {
      if (wait) {
        // Wake for the next timer; otherwise sleep until an event comes.
        int timeout = 100;
        if (!impl->timers.empty()) {
          const Uint64 now = SDL_GetTicks64();
          Uint64 next = ~Uint64{0};
          for (const auto& [id, timer] : impl->timers) next = std::min(next, timer.due);
          timeout = next <= now ? 0 : static_cast<int>(std::min<Uint64>(next - now, 100));
        }
        got = SDL_WaitEventTimeout(&event, timeout) != 0;
      } else {
        got = SDL_PollEvent(&event) != 0;
      }
    }
    if (got) {
      Translate(event);
      continue;
    }
    // Timers come only when nothing else waits.
    const Uint64 now = SDL_GetTicks64();
    for (auto& [id, timer] : impl->timers) {
      if (now >= timer.due) {
        timer.due = now + timer.periodMs;
        queue.push_back(Message{WM_TIMER, id, 0});
        return true;
      }
    }
    if (!wait || !impl->videoOpen) return false;
  }
}

void SdlWindowSystem::Push(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  queue.push_back(Message{message, wParam, lParam});
}

// Events of other windows (SDL's probe window at start-up, a dialog) are not ours.
void SdlWindowSystem::Translate(const SDL_Event& event) {
  const Uint32 ours = impl->window ? SDL_GetWindowID(impl->window) : 0;
  switch (event.type) {
    case SDL_QUIT:
      Push(WM_CLOSE, 0, 0);
      break;
    case SDL_WINDOWEVENT:
      if (event.window.windowID == ours) TranslateWindow(event.window);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      if (event.key.windowID == ours) TranslateKey(event.key);
      break;
    case SDL_TEXTINPUT:
      if (event.text.windowID != ours) break;
      for (char byte : cp1250::FromUtf8(event.text.text)) Push(WM_CHAR, static_cast<unsigned char>(byte), 1);
      break;
    case SDL_MOUSEMOTION:
      if (event.motion.windowID != ours) break;
      impl->buttons = event.motion.state;
      Push(WM_MOUSEMOVE, MouseKeyFlags(impl->buttons), MakeLParam(event.motion.x, event.motion.y));
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (event.button.windowID == ours) TranslateButton(event.button);
      break;
    case SDL_MOUSEWHEEL:
      if (event.wheel.windowID == ours) TranslateWheel(event.wheel);
      break;
    default:
      break;
  }
}

void SdlWindowSystem::TranslateWindow(const SDL_WindowEvent& event) {
  int w = 0;
  int h = 0;
  SDL_GetWindowSize(impl->window, &w, &h);
  switch (event.event) {
    case SDL_WINDOWEVENT_MINIMIZED:
      Push(WM_SIZE, SIZE_MINIMIZED, 0);
      break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      Push(WM_SIZE, SIZE_MAXIMIZED, MakeLParam(w, h));
      break;
    case SDL_WINDOWEVENT_RESTORED:
      Push(WM_SIZE, SIZE_RESTORED, MakeLParam(w, h));
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      // The size is final when SDL reports it: the whole move/size loop at once.
      Push(WM_ENTERSIZEMOVE, 0, 0);
      Push(WM_EXITSIZEMOVE, 0, 0);
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      Push(WM_ACTIVATE, WA_ACTIVE, 0);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      Push(WM_ACTIVATE, WA_INACTIVE, 0);
      break;
    case SDL_WINDOWEVENT_CLOSE:
      Push(WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

void SdlWindowSystem::TranslateKey(const SDL_KeyboardEvent& event) {
  const unsigned vk = VkForSdlKey(event.keysym.sym);
  if (vk == 0) return;
  int dik = 0;
  for (const auto& [code, scancode] : kDikTable) {
    if (scancode != event.keysym.scancode) continue;
    dik = code;
    break;
  }
  // Repeat count 1, the scan code, bit 24 for an extended key, bit 30 for a key already
  // down, bit 31 for a release.
  std::uint32_t lParam = 1u | (static_cast<std::uint32_t>(dik & 0x7F) << 16);
  if (dik & 0x80) lParam |= 1u << 24;
  if (event.type == SDL_KEYUP) {
    lParam |= 0xC0000000u;
    Push(WM_KEYUP, vk, static_cast<std::intptr_t>(lParam));
    return;
  }
  if (event.repeat) lParam |= 1u << 30;
  Push(WM_KEYDOWN, vk, static_cast<std::intptr_t>(lParam));
  // Keys whose characters text input does not report, as message translation gives them.
  if (vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK || vk == VK_TAB) {
    Push(WM_CHAR, vk, static_cast<std::intptr_t>(lParam));
  }
}

void SdlWindowSystem::TranslateButton(const SDL_MouseButtonEvent& event) {
  unsigned down = 0;
  switch (event.button) {
    case SDL_BUTTON_LEFT:
      down = WM_LBUTTONDOWN;
      break;
    case SDL_BUTTON_RIGHT:
      down = WM_RBUTTONDOWN;
      break;
    case SDL_BUTTON_MIDDLE:
      down = WM_MBUTTONDOWN;
      break;
    default:
      return;
  }
  // The messages follow one another as DOWN, UP, DBLCLK for each button.
  unsigned message = down;
  if (event.type == SDL_MOUSEBUTTONDOWN) {
    impl->buttons |= SDL_BUTTON(event.button);
    if (event.clicks >= 2 && event.clicks % 2 == 0) message = down + 2;  // the second click of a pair
  } else {
    impl->buttons &= ~SDL_BUTTON(event.button);
    message = down + 1;
  }
  Push(message, MouseKeyFlags(impl->buttons), MakeLParam(event.x, event.y));
}

void SdlWindowSystem::TranslateWheel(const SDL_MouseWheelEvent& event) {
  int notches = event.y;
  if (event.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
  if (notches == 0) return;
  int x = 0;
  int y = 0;
  SDL_GetMouseState(&x, &y);
  const std::uint32_t high = static_cast<std::uint16_t>(notches * WHEEL_DELTA);
  const std::uintptr_t wParam = (high << 16) | (MouseKeyFlags(impl->buttons) & 0xFFFF);
  Push(WM_MOUSEWHEEL, wParam, MakeLParam(x, y));
}

bool SdlWindowSystem::PeekMessage(Message& out) {
  if (!Fill(false)) return false;
  out = queue.front();
  queue.pop_front();
  return true;
}

bool SdlWindowSystem::GetMessage(Message& out) {
  if (!Fill(true)) {
    // Nothing can come any more (no display): end the loop rather than wait for ever.
    out = Message{WM_QUIT, 0, 0};
    return false;
  }
  out = queue.front();
  queue.pop_front();
  return out.message != WM_QUIT;
}

void SdlWindowSystem::PostClose() { queue.push_back(Message{WM_CLOSE, 0, 0}); }

void SdlWindowSystem::PostQuit(int code) { queue.push_back(Message{WM_QUIT, static_cast<std::uintptr_t>(code), 0}); }

void SdlWindowSystem::SetTimer(unsigned id, unsigned periodMs) {
  impl->timers[id] = Timer{periodMs, SDL_GetTicks64() + periodMs};
}

void SdlWindowSystem::KillTimer(unsigned id) { impl->timers.erase(id); }

std::intptr_t SdlWindowSystem::DefaultProc(const Message&) { return 0; }

void SdlWindowSystem::GetClientSize(int& width, int& height) {
  width = 0;
  height = 0;
  if (impl->window) SDL_GetWindowSize(impl->window, &width, &height);
}

Rect SdlWindowSystem::GetWindowRect() {
  if (!impl->window) return Rect{};
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(impl->window, &x, &y);
  SDL_GetWindowSize(impl->window, &w, &h);
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(impl->window, &top, &left, &bottom, &right) != 0) {
    top = left = bottom = right = 0;  // no window manager: no frame
  }
  return Rect{x - left, y - top, x + w + right, y + h + bottom};
}

void SdlWindowSystem::SetStyle(const WindowStyle& style) {
  impl->style = style;
  SDL_Window* window = impl->window;
  if (!window) return;
  if (!style.fullScreen) {
    SDL_SetWindowFullscreen(window, 0);
    SDL_SetWindowBordered(window, SDL_TRUE);
  }
  SDL_SetWindowResizable(window, style.resizable ? SDL_TRUE : SDL_FALSE);
  SDL_SetWindowMinimumSize(window, style.minWidth, style.minHeight);
  // SDL takes 0 x 0 as "no maximum".
  SDL_SetWindowMaximumSize(window, style.maxWidth, style.maxHeight);
}

void SdlWindowSystem::PlaceTopLeft(int width, int height) {
  SDL_Window* window = impl->window;
  if (!window) return;
  if (impl->style.fullScreen) {
    const SDL_DisplayMode mode = FullScreenMode(impl->style, width, height);
    SDL_SetWindowDisplayMode(window, &mode);
    SDL_SetWindowSize(window, width, height);
    SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN);
  } else {
    SDL_SetWindowSize(window, width, height);
    SDL_SetWindowPosition(window, 0, 0);
  }
  SDL_ShowWindow(window);
}

int SdlWindowSystem::ShowCursor(bool show) {
  impl->cursorCount += show ? 1 : -1;
  SDL_ShowCursor(impl->cursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
  return impl->cursorCount;
}

void SdlWindowSystem::SetCursorPos(Point screen) {
  if (!impl->window) {
    SDL_WarpMouseGlobal(screen.x, screen.y);
    return;
  }
  const Point client = ScreenToClient(screen);
  SDL_WarpMouseInWindow(impl->window, client.x, client.y);
}

Point SdlWindowSystem::GetCursorPos() {
  Point p;
  SDL_GetGlobalMouseState(&p.x, &p.y);
  return p;
}

Point SdlWindowSystem::ScreenToClient(Point screen) {
  int x = 0, y = 0;
  if (impl->window) SDL_GetWindowPosition(impl->window, &x, &y);
  return Point{screen.x - x, screen.y - y};
}

Point SdlWindowSystem::ClientToScreen(Point client) {
  int x = 0, y = 0;
  if (impl->window) SDL_GetWindowPosition(impl->window, &x, &y);
  return Point{client.x + x, client.y + y};
}

void SdlWindowSystem::SetCapture() { SDL_CaptureMouse(SDL_TRUE); }
void SdlWindowSystem::ReleaseCapture() { SDL_CaptureMouse(SDL_FALSE); }

bool SdlWindowSystem::IsControlDown() { return (SDL_GetModState() & KMOD_CTRL) != 0; }

// SDL does not tell the wheel's lines per notch or the keyboard's repeat settings; the
// callers' documented defaults stand for them.
bool SdlWindowSystem::GetSystemSetting(SystemSetting, unsigned&) { return false; }

bool SdlWindowSystem::AcquireKeyboard() {
  impl->keyboardAcquired = impl->window && SDL_GetKeyboardFocus() == impl->window;
  return impl->keyboardAcquired;
}

void SdlWindowSystem::UnacquireKeyboard() { impl->keyboardAcquired = false; }

bool SdlWindowSystem::GetKeyboardState(unsigned char keys[256]) {
  if (!impl->keyboardAcquired || !impl->window || SDL_GetKeyboardFocus() != impl->window) {
    impl->keyboardAcquired = false;
    return false;
  }
  int count = 0;
  const Uint8* state = SDL_GetKeyboardState(&count);
  std::memset(keys, 0, 256);
  for (const auto& [dik, scancode] : kDikTable) {
    if (scancode < count && state[scancode]) keys[dik] = 0x80;
  }
  return true;
}

int SdlWindowSystem::DisplayModeCount() {
  impl->modes.clear();
  if (!impl->videoOpen) return 0;
  const int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode{};
    if (SDL_GetDisplayMode(0, i, &mode) != 0) continue;
    // 32-bit colour only (X8R8G8B8).
    if (SDL_BITSPERPIXEL(mode.format) < 24) continue;
    impl->modes.push_back(mode);
  }
  return static_cast<int>(impl->modes.size());
}

bool SdlWindowSystem::GetDisplayMode(int index, DisplayMode& out) {
  if (index < 0 || index >= static_cast<int>(impl->modes.size())) return false;
  const SDL_DisplayMode& mode = impl->modes[static_cast<std::size_t>(index)];
  out.width = mode.w;
  out.height = mode.h;
  out.refreshRate = mode.refresh_rate;
  out.fullScreen = true;
  return true;
}

gfx::Surface* SdlWindowSystem::GetSurface() {
  if (!impl->window) return nullptr;
  if (!impl->surface.context) {
    impl->surface.context = SDL_GL_CreateContext(impl->window);
    if (!impl->surface.context) {
      surfaceError = SDL_GetError();
      return nullptr;
    }
  }
  return &impl->surface;
}

void SdlWindowSystem::ShowErrorBox(std::string_view title, std::string_view text) {
  const std::string utf8Title = cp1250::ToUtf8(title);
  const std::string utf8Text = cp1250::ToUtf8(text);
  // Without a display no box can be shown: the text goes to standard error instead, so a
  // failure is never silent.
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, utf8Title.c_str(), utf8Text.c_str(), nullptr) != 0) {
    std::fprintf(stderr, "%s: %s\n", utf8Title.c_str(), utf8Text.c_str());
  }
}

}  // namespace frame
