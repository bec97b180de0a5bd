#pragma once
// The console: a translucent panel over the top half of the screen with a scrolling log of
// coloured lines and, at its bottom, one input line with a prompt, a blinking block cursor
// and a history. The application shows and hides it, feeds it keys and characters and takes
// finished lines out of it; commands and the engine print their replies into it. One
// instance, created by the program entry (g_console); main thread only. Printing works
// while it is hidden; only drawing and keys depend on visibility.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "app/LineEditor.h"

struct ConsoleLine {
  std::string text;  // Windows-1250, one line (breaks and tabs already replaced)
  std::int32_t colour = 0;
};

// Colour codes of Print.
inline constexpr std::int32_t kConsoleNormal = 0;
inline constexpr std::int32_t kConsoleError = 1;
inline constexpr std::int32_t kConsoleEcho = 2;

// What one frame of the console draws, in character cells laid out on the screen.
struct ConsoleLayout {
  struct Text {
    std::string text;
    int left = 0;  // the DrawTextA rectangle: left = right, top = bottom
    int top = 0;
    std::uint32_t colour = 0;
  };
  std::vector<Text> texts;  // in drawing order (bottom row first)
  bool cursorShown = false;
  int cursorLeft = 0;
  int cursorTop = 0;
};

class Console {
 public:
  static constexpr std::size_t kLogLimit = 1000;
  static constexpr int kPageStep = 16;
  static constexpr std::uint32_t kPanelColour = 0x40000000;
  static constexpr std::uint32_t kCursorColour = 0xFF7FFF7F;

  // Appends one log line: line breaks become spaces, tabs four spaces; the oldest line goes
  // when the log is full. A scrolled-back view keeps showing the same lines.
  void Print(std::string_view text, std::int32_t colour);

  bool IsVisible() const { return visible; }
  void SetVisible(bool show) { visible = show; }

  // Navigation and editing keys (virtual-key codes); Ctrl read from the window system.
  // Scrolling keys go to ScrollKey, the rest to EditKey.
  void KeyDown(int vk);
  void KeyDown(int vk, bool control);
  // Typing: bytes from 0x20 up are inserted, 8 is Backspace, other control bytes ignored.
  void Char(unsigned char c);

  std::string CurrentLine() const { return editor.Selected(); }
  void Submit();
  void ClearInput();

  // Once per update step: the profiler section "Console".
  void Update();
  // Once per frame inside the scene: the panel, the rows that fit and the cursor.
  void Draw();

  // The rows, their positions and the cursor for a screen of width x height pixels and a
  // character cell of cellWidth x cellHeight, at frame time now.
  ConsoleLayout Layout(int width, int height, int cellWidth, int cellHeight, float now);

  static std::uint32_t ColourOf(std::int32_t code);

  // Scrolling the log: Page Up and Page Down, and Ctrl with Up, Down, Home and End. False
  // for any other key. The scroll position always stays -1 or a line of the log.
  bool ScrollKey(int vk, bool control);
  // The input line's keys: cursor movement, history and Delete.
  void EditKey(int vk, bool control);
  // Shows line at the bottom of the panel; a line outside the log gives the live view.
  void ScrollTo(std::int32_t line);

  std::deque<ConsoleLine> lines;
  std::int32_t scroll = -1;  // -1 follows the bottom; else the log line shown at the bottom
  bool visible = false;
  LineEditor editor;
};

// The program's console, created by the entry before the framework starts.
extern Console* g_console;
