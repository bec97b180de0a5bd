#pragma once
// The window-system interface: the one window, its message queue, the cursor, the mouse
// capture, the keyboard snapshot, the display modes and the message box, as the framework,
// the application, the console and input use them. Three backends: SDL2 (SdlWindowSystem.h),
// a scripted fake for tests (FakeWindowSystem.h) and an off-screen one with no display
// (OffscreenWindowSystem.h).
//
// Messages are our own, with the numbers and parameter packing of the Windows messages the
// program was designed around (WM_SIZE with its size kinds, WM_KEYDOWN with VK codes,
// WM_CHAR with Windows-1250 bytes, mouse positions as signed 16-bit halves of lParam), so
// the window procedure and the application's handler read them exactly as designed.
// Positions are client coordinates unless a name says screen.
//
// Everything runs on the main thread. Text arguments are Windows-1250 bytes.

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/FrameObject.h"

namespace gfx {
class Surface;
}

namespace frame {

// Message numbers.
enum : unsigned {
  WM_NULL = 0x0000,
  WM_SIZE = 0x0005,
  WM_ACTIVATE = 0x0006,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_GETMINMAXINFO = 0x0024,
  WM_NCHITTEST = 0x0084,
  WM_KEYDOWN = 0x0100,
  WM_KEYUP = 0x0101,
  WM_CHAR = 0x0102,
  WM_SYSCOMMAND = 0x0112,
  WM_TIMER = 0x0113,
  WM_MOUSEMOVE = 0x0200,
  WM_LBUTTONDOWN = 0x0201,
  WM_LBUTTONUP = 0x0202,
  WM_LBUTTONDBLCLK = 0x0203,
  WM_RBUTTONDOWN = 0x0204,
  WM_RBUTTONUP = 0x0205,
  WM_RBUTTONDBLCLK = 0x0206,
  WM_MBUTTONDOWN = 0x0207,
  WM_MBUTTONUP = 0x0208,
  WM_MBUTTONDBLCLK = 0x0209,
  WM_MOUSEWHEEL = 0x020A,
  WM_ENTERMENULOOP = 0x0211,
  WM_EXITMENULOOP = 0x0212,
  WM_POWERBROADCAST = 0x0218,
  WM_ENTERSIZEMOVE = 0x0231,
  WM_EXITSIZEMOVE = 0x0232,
};

// WM_SIZE kinds (wParam); lParam packs the client width and height.
enum : unsigned { SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2 };
// WM_ACTIVATE (low byte of wParam).
enum : unsigned { WA_INACTIVE = 0, WA_ACTIVE = 1 };
// WM_SYSCOMMAND (wParam).
enum : unsigned {
  SC_SIZE = 0xF000,
  SC_MOVE = 0xF010,
  SC_MAXIMIZE = 0xF030,
  SC_KEYMENU = 0xF100,
  SC_MONITORPOWER = 0xF170,
};
// WM_NCHITTEST result, WM_POWERBROADCAST query and answer.
inline constexpr std::intptr_t HTCLIENT = 1;
inline constexpr unsigned PBT_APMQUERYSUSPEND = 0;
inline constexpr std::intptr_t BROADCAST_QUERY_DENY = 0x424D5144;
// Mouse-key flags in wParam of the mouse messages.
enum : unsigned { MK_LBUTTON = 0x1, MK_RBUTTON = 0x2, MK_SHIFT = 0x4, MK_CONTROL = 0x8, MK_MBUTTON = 0x10 };
// One wheel notch in the high word of WM_MOUSEWHEEL's wParam.
inline constexpr int WHEEL_DELTA = 120;

// Virtual-key codes (WM_KEYDOWN's wParam).
enum : unsigned {
  VK_BACK = 0x08,
  VK_TAB = 0x09,
  VK_RETURN = 0x0D,
  VK_SHIFT = 0x10,
  VK_CONTROL = 0x11,
  VK_MENU = 0x12,
  VK_PAUSE = 0x13,
  VK_CAPITAL = 0x14,
  VK_ESCAPE = 0x1B,
  VK_SPACE = 0x20,
  VK_PRIOR = 0x21,
  VK_NEXT = 0x22,
  VK_END = 0x23,
  VK_HOME = 0x24,
  VK_LEFT = 0x25,
  VK_UP = 0x26,
  VK_RIGHT = 0x27,
  VK_DOWN = 0x28,
  VK_INSERT = 0x2D,
  VK_DELETE = 0x2E,
  VK_NUMPAD0 = 0x60,
  VK_MULTIPLY = 0x6A,
  VK_ADD = 0x6B,
  VK_SUBTRACT = 0x6D,
  VK_DECIMAL = 0x6E,
  VK_DIVIDE = 0x6F,
  VK_F1 = 0x70,
  VK_OEM_1 = 0xBA,
  VK_OEM_PLUS = 0xBB,
  VK_OEM_COMMA = 0xBC,
  VK_OEM_MINUS = 0xBD,
  VK_OEM_PERIOD = 0xBE,
  VK_OEM_2 = 0xBF,
  VK_OEM_3 = 0xC0,
  VK_OEM_4 = 0xDB,
  VK_OEM_5 = 0xDC,
  VK_OEM_6 = 0xDD,
  VK_OEM_7 = 0xDE,
};

// Keyboard snapshot indices (DirectInput key codes, PC set-1 scan codes).
enum : unsigned char {
  DIK_ESCAPE = 0x01,
  DIK_1 = 0x02,
  DIK_0 = 0x0B,
  DIK_MINUS = 0x0C,
  DIK_EQUALS = 0x0D,
  DIK_BACK = 0x0E,
  DIK_TAB = 0x0F,
  DIK_Q = 0x10,
  DIK_W = 0x11,
  DIK_E = 0x12,
  DIK_R = 0x13,
  DIK_T = 0x14,
  DIK_Y = 0x15,
  DIK_U = 0x16,
  DIK_I = 0x17,
  DIK_O = 0x18,
  DIK_P = 0x19,
  DIK_LBRACKET = 0x1A,
  DIK_RBRACKET = 0x1B,
  DIK_RETURN = 0x1C,
  DIK_LCONTROL = 0x1D,
  DIK_A = 0x1E,
  DIK_S = 0x1F,
  DIK_D = 0x20,
  DIK_F = 0x21,
  DIK_G = 0x22,
  DIK_H = 0x23,
  DIK_J = 0x24,
  DIK_K = 0x25,
  DIK_L = 0x26,
  DIK_SEMICOLON = 0x27,
  DIK_APOSTROPHE = 0x28,
  DIK_GRAVE = 0x29,
  DIK_LSHIFT = 0x2A,
  DIK_BACKSLASH = 0x2B,
  DIK_Z = 0x2C,
  DIK_X = 0x2D,
  DIK_C = 0x2E,
  DIK_V = 0x2F,
  DIK_B = 0x30,
  DIK_N = 0x31,
  DIK_M = 0x32,
  DIK_COMMA = 0x33,
  DIK_PERIOD = 0x34,
  DIK_SLASH = 0x35,
  DIK_RSHIFT = 0x36,
  DIK_MULTIPLY = 0x37,
  DIK_LMENU = 0x38,
  DIK_SPACE = 0x39,
  DIK_CAPITAL = 0x3A,
  DIK_F1 = 0x3B,
  DIK_F10 = 0x44,
  DIK_NUMLOCK = 0x45,
  DIK_SCROLL = 0x46,
  DIK_NUMPAD7 = 0x47,
  DIK_NUMPAD8 = 0x48,
  DIK_NUMPAD9 = 0x49,
  DIK_SUBTRACT = 0x4A,
  DIK_NUMPAD4 = 0x4B,
  DIK_NUMPAD5 = 0x4C,
  DIK_NUMPAD6 = 0x4D,
  DIK_ADD = 0x4E,
  DIK_NUMPAD1 = 0x4F,
  DIK_NUMPAD2 = 0x50,
  DIK_NUMPAD3 = 0x51,
  DIK_NUMPAD0 = 0x52,
  DIK_DECIMAL = 0x53,
  DIK_F11 = 0x57,
  DIK_F12 = 0x58,
  DIK_NUMPADENTER = 0x9C,
  DIK_RCONTROL = 0x9D,
  DIK_DIVIDE = 0xB5,
  DIK_RMENU = 0xB8,
  DIK_HOME = 0xC7,
  DIK_UP = 0xC8,
  DIK_PRIOR = 0xC9,
  DIK_LEFT = 0xCB,
  DIK_RIGHT = 0xCD,
  DIK_END = 0xCF,
  DIK_DOWN = 0xD0,
  DIK_NEXT = 0xD1,
  DIK_INSERT = 0xD2,
  DIK_DELETE = 0xD3,
};

struct Message {
  unsigned message = WM_NULL;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// lParam packing of positions and sizes: x (or width) in the low 16 bits, y (or height) in
// the high 16 bits, each read back as a signed 16-bit number.
constexpr std::intptr_t MakeLParam(int low, int high) {
  return static_cast<std::intptr_t>(static_cast<std::uint32_t>((static_cast<std::uint32_t>(low) & 0xFFFFu) |
                                                               ((static_cast<std::uint32_t>(high) & 0xFFFFu) << 16)));
}
constexpr int LowWordSigned(std::intptr_t value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF));
}
constexpr int HighWordSigned(std::intptr_t value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((value >> 16) & 0xFFFF));
}

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// What the window is created with and re-styled to. Sizes are client sizes: our windows
// are sized by their client area, the window manager adds its own frame.
struct WindowStyle {
  bool fullScreen = false;
  int refreshRate = 0;  // Hz, full screen only; 0: the display's current rate
  bool resizable = true;
  bool maximizeBox = true;
  int minWidth = 0;  // 0: no limit
  int minHeight = 0;
  int maxWidth = 0;
  int maxHeight = 0;
  int depthBits = 0;  // depth buffer of the drawing surface; 0: none
};

// System settings that the callers fall back from when the system cannot tell.
enum class SystemSetting { WheelScrollLines, KeyboardDelay, KeyboardSpeed };

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Connects to the display and loads the graphics library (the program's "graphics
  // object"). False with reason set when there is no usable display, including a display
  // library that would run without one (an offscreen driver), or when the display cannot
  // give the OpenGL 3.3 core context the device needs.
  virtual bool OpenDisplay(std::string& reason) = 0;
  virtual void CloseDisplay() = 0;

  // The window class: our backends only remember its name; false with reason on failure.
  virtual bool RegisterClass(std::string_view className, bool closeBox, std::string& reason) = 0;
  virtual void UnregisterClass() = 0;

  // Creates the one window with the given client size; false with reason on failure.
  virtual bool CreateWindow(std::string_view title, const WindowStyle& style, int clientWidth, int clientHeight,
                            std::string& reason) = 0;
  virtual void DestroyWindow() = 0;
  virtual bool HasWindow() const = 0;

  // Takes the next message if there is one (PeekMessage with remove).
  virtual bool PeekMessage(Message& out) = 0;
  // Waits for the next message; false when it is WM_QUIT (GetMessage).
  virtual bool GetMessage(Message& out) = 0;
  // Queues WM_CLOSE behind the messages already waiting.
  virtual void PostClose() = 0;
  // Queues WM_QUIT with wParam code.
  virtual void PostQuit(int code) = 0;
  // Every periodMs milliseconds a WM_TIMER with wParam id is queued while the loop waits.
  virtual void SetTimer(unsigned id, unsigned periodMs) = 0;
  virtual void KillTimer(unsigned id) = 0;
  // What the system does with a message nobody ended (DefWindowProc).
  virtual std::intptr_t DefaultProc(const Message& message) = 0;

  virtual void GetClientSize(int& width, int& height) = 0;
  // The window's rectangle in screen coordinates.
  virtual Rect GetWindowRect() = 0;
  virtual void SetStyle(const WindowStyle& style) = 0;
  // Moves the window to the screen's top-left corner with the given client size and shows it.
  virtual void PlaceTopLeft(int clientWidth, int clientHeight) = 0;

  // ShowCursor counting: the cursor is shown while the count is >= 0 (it starts at 0).
  // Returns the new count.
  virtual int ShowCursor(bool show) = 0;
  virtual void SetCursorPos(Point screen) = 0;
  virtual Point GetCursorPos() = 0;
  virtual Point ScreenToClient(Point screen) = 0;
  virtual Point ClientToScreen(Point client) = 0;
  // Mouse capture: moves and button releases outside the window still reach it.
  virtual void SetCapture() = 0;
  virtual void ReleaseCapture() = 0;
  // The Ctrl key's state now (GetKeyState(VK_CONTROL)'s high bit).
  virtual bool IsControlDown() = 0;
  // False when the system cannot tell; the caller keeps its default.
  virtual bool GetSystemSetting(SystemSetting which, unsigned& value) = 0;

  // The keyboard device: acquirable only while the window has the keyboard focus.
  virtual bool AcquireKeyboard() = 0;
  virtual void UnacquireKeyboard() = 0;
  // 256 bytes indexed by DIK code, 0x80 for a held key. False (keys untouched) when the
  // keyboard is no longer acquired, as after the window lost the focus.
  virtual bool GetKeyboardState(unsigned char keys[256]) = 0;

  // Full-screen display modes of the default display, 32-bit colour.
  virtual int DisplayModeCount() = 0;
  virtual bool GetDisplayMode(int index, DisplayMode& out) = 0;

  // The drawable for the graphics device; valid while the window exists.
  virtual gfx::Surface* GetSurface() = 0;

  // A modal error box (no owner needed); title and text are Windows-1250.
  virtual void ShowErrorBox(std::string_view title, std::string_view text) = 0;
};

}  // namespace frame
