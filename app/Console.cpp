#include "app/Console.h"

#include <algorithm>

#include "Common_Code/Conversions.h"
#include "app/Profiler.h"
#include "framework/FrameObject.h"
#include "framework/WindowSystem.h"
#include "gfx/Font.h"
#include "gfx/Gfx.h"
#include "gfx/ResMngr.h"

Console* g_console = nullptr;

void Console::Print(std::string_view text, std::int32_t colour) {
  std::string copy = ConvertLineBreaks(text, kBreaksLf);
  copy = ReplaceAll(copy, "\n", " ");
  copy = ReplaceAll(copy, "\t", "    ");
  if (lines.size() == kLogLimit) {
    lines.pop_front();
    // The same line stays at the bottom of a scrolled-back view; when that line was the
    // one dropped, the new oldest takes its place.
    if (scroll > 0) --scroll;
  }
  lines.push_back(ConsoleLine{std::move(copy), colour});
}

std::uint32_t Console::ColourOf(std::int32_t code) {
  switch (code) {
    case kConsoleError:
      return 0xFFFF7F7F;
    case kConsoleEcho:
      return 0xFF7FFF7F;
    default:
      return 0xFFFFFFFF;
  }
}

void Console::KeyDown(int vk) {
  frame::WindowSystem* window = frame::GetWindow();
  KeyDown(vk, window && window->IsControlDown());
}

void Console::KeyDown(int vk, bool control) {
  if (!ScrollKey(vk, control)) EditKey(vk, control);
}

bool Console::ScrollKey(int vk, bool control) {
  const std::int32_t count = static_cast<std::int32_t>(lines.size());
  // The line to show at the bottom, before it is brought back into the log.
  std::int32_t next = scroll;
  switch (vk) {
    case frame::VK_PRIOR:
      next = std::max((scroll == -1 ? count : scroll) - kPageStep, 0);
      break;
    case frame::VK_NEXT:
      next = scroll == -1 ? -1 : scroll + kPageStep;
      break;
    case frame::VK_HOME:
      next = 0;
      break;
    case frame::VK_END:
      next = -1;
      break;
    case frame::VK_UP:
      next = scroll == -1 ? count - 1 : std::max(scroll - 1, 0);
      break;
    case frame::VK_DOWN:
      next = scroll == -1 ? -1 : scroll + 1;
      break;
    default:
      return false;
  }
  // Page Up and Page Down scroll with or without Ctrl; the other keys only with it.
  if (!control && vk != frame::VK_PRIOR && vk != frame::VK_NEXT) return false;
  ScrollTo(next);
  return true;
}

void Console::ScrollTo(std::int32_t line) {
  // Past either end of the log (an empty log has no line at all) is the live view.
  scroll = line < 0 || line >= static_cast<std::int32_t>(lines.size()) ? -1 : line;
}

void Console::EditKey(int vk, bool control) {
  const float now = frame::GetTime();
  switch (vk) {
    case frame::VK_END:
      editor.End(now);
      break;
    case frame::VK_HOME:
      editor.Home(now);
      break;
    case frame::VK_LEFT:
      if (control) {
        editor.WordLeft(now);
      } else {
        editor.Left(now);
      }
      break;
    case frame::VK_RIGHT:
      if (control) {
        editor.WordRight(now);
      } else {
        editor.Right(now);
      }
      break;
    case frame::VK_UP:
      editor.Up();
      break;
    case frame::VK_DOWN:
      editor.Down();
      break;
    case frame::VK_DELETE:
      editor.Delete(now);
      scroll = -1;
      break;
    default:
      break;
  }
}

void Console::Char(unsigned char c) {
  const float now = frame::GetTime();
  if (c >= 0x20) {
    editor.Insert(static_cast<char>(c), now);
    scroll = -1;
  } else if (c == 8) {
    editor.Backspace(now);
    scroll = -1;
  }
}

void Console::Submit() {
  editor.Submit(frame::GetTime());
  scroll = -1;
}

void Console::ClearInput() {
  editor.Clear(frame::GetTime());
  scroll = -1;
}

void Console::Update() {
  Profiler::Begin("Console");
  Profiler::End();
}

void Console::Draw() {
  Profiler::Begin("Console");
  if (visible) {
    const frame::DisplayMode mode = frame::GetDisplayMode();
    const float width = static_cast<float>(mode.width);
    gfx::g_rectManager.Begin();
    gfx::g_rectManager.Add(gfx::Rectangle{0.0f, 0.0f, width, static_cast<float>(mode.height / 2)}, kPanelColour);
    gfx::g_rectManager.End();
    const ConsoleLayout layout =
        Layout(mode.width, mode.height, g_resMngr.font.charWidth, g_resMngr.font.charHeight, frame::GetTime());
    if (gfx::Font* font = g_resMngr.font.font.get()) {
      for (const ConsoleLayout::Text& text : layout.texts) {
        gfx::RECT rect{text.left, text.top, text.left, text.top};
        font->DrawTextA(nullptr, text.text.data(), static_cast<gfx::INT>(text.text.size()), &rect,
                        gfx::DT_NOCLIP | gfx::DT_SINGLELINE, text.colour);
      }
    }
    if (layout.cursorShown) {
      const float left = static_cast<float>(layout.cursorLeft), top = static_cast<float>(layout.cursorTop);
      gfx::g_rectManager.Begin();
      gfx::g_rectManager.Add(gfx::Rectangle{left, top, left + static_cast<float>(g_resMngr.font.charWidth),
                                            top + static_cast<float>(g_resMngr.font.charHeight)},
                             kCursorColour);
      gfx::g_rectManager.End();
    }
  }
  Profiler::End();
}

ConsoleLayout Console::Layout(int width, int height, int cellWidth, int cellHeight, float now) {
  ConsoleLayout layout;
  if (cellWidth <= 0 || cellHeight <= 0 || width < cellWidth) return layout;  // no column fits
  const int cols = width / cellWidth;
  const int marginX = (width % cellWidth) / 2;
  const int marginY = (height % cellHeight) / 2;
  const std::int32_t count = static_cast<std::int32_t>(lines.size());
  const std::string& input = editor.Selected();
  const bool cursorAtEnd = editor.cursor == input.size();

  int y = height / 2 - marginY;
  std::int32_t index = scroll == -1 ? count : scroll;
  for (;;) {
    std::string text;
    std::size_t length;
    std::int32_t colour;
    if (index == count) {
      text = "> " + input;
      length = text.size() + (cursorAtEnd ? 1 : 0);  // room for the cursor
      colour = kConsoleEcho;
    } else {
      text = lines[static_cast<std::size_t>(index)].text;
      length = text.size();
      colour = lines[static_cast<std::size_t>(index)].colour;
    }
    const std::size_t rows = (length + cols - 1) / cols;
    for (std::size_t row = rows; row-- > 0;) {
      y -= cellHeight;
      const std::size_t from = row * cols;
      layout.texts.push_back(
          {from < text.size() ? text.substr(from, cols) : std::string(), marginX, y, ColourOf(colour)});
    }
    if (index == 0) break;
    --index;
    if (y < 0) break;
  }

  if (scroll == -1 && editor.CursorShown(now)) {
    const int p = 2 + static_cast<int>(editor.cursor);
    const int total = 2 + static_cast<int>(input.size()) + (cursorAtEnd ? 1 : 0);
    layout.cursorShown = true;
    layout.cursorLeft = (p % cols) * cellWidth + marginX;
    layout.cursorTop = height / 2 - ((total + cols - 1) / cols - p / cols) * cellHeight - marginY;
  }
  return layout;
}
