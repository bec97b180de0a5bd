#include "app/Console.h"

#include <gtest/gtest.h>

#include "framework/FrameObject.h"
#include "framework/WindowSystem.h"

namespace {

using frame::VK_DELETE;
using frame::VK_DOWN;
using frame::VK_END;
using frame::VK_HOME;
using frame::VK_LEFT;
using frame::VK_NEXT;
using frame::VK_PRIOR;
using frame::VK_RIGHT;
using frame::VK_UP;

void Type(Console& console, std::string_view text) {
  for (char c : text) console.Char(static_cast<unsigned char>(c));
}

TEST(Console, PrintMakesOneLineAndKeepsTheLastThousand) {
  Console console;
  console.Print("a\tb\r\nc\rd\ne", kConsoleError);
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_EQ(console.lines[0].text, "a    b c d e");
  EXPECT_EQ(console.lines[0].colour, kConsoleError);
  for (int i = 1; i <= 1000; ++i) console.Print(std::to_string(i), kConsoleNormal);
  EXPECT_EQ(console.lines.size(), 1000u);
  EXPECT_EQ(console.lines.front().text, "1");
  EXPECT_EQ(console.lines.back().text, "1000");
}

TEST(Console, EditingAndCursorMovement) {
  Console console;
  Type(console, "abc def");
  EXPECT_EQ(console.CurrentLine(), "abc def");
  console.KeyDown(VK_LEFT, true);  // word left: start of "def"
  EXPECT_EQ(console.editor.cursor, 4u);
  console.KeyDown(VK_LEFT, true);
  EXPECT_EQ(console.editor.cursor, 0u);
  console.KeyDown(VK_RIGHT, true);
  EXPECT_EQ(console.editor.cursor, 4u);
  console.KeyDown(VK_RIGHT, true);
  EXPECT_EQ(console.editor.cursor, 7u);
  console.KeyDown(VK_HOME, false);
  console.KeyDown(VK_DELETE, false);
  console.KeyDown(VK_RIGHT, false);
  console.Char(8);        // Backspace
  console.Char(8);        // at 0: nothing to remove
  console.Char(27);       // other control bytes are ignored
  Type(console, "\xB3");  // a Windows-1250 letter is typed like any other
  EXPECT_EQ(console.CurrentLine(),
            "\xB3"
            "c def");
  console.KeyDown(VK_END, false);
  EXPECT_EQ(console.editor.cursor, 6u);
}

TEST(Console, HistoryNavigation) {
  Console console;
  console.KeyDown(VK_UP, false);  // empty history keeps the working line
  EXPECT_EQ(console.editor.selection, -1);
  for (const char* line : {"one", "two"}) {
    Type(console, line);
    console.Submit();
  }
  Type(console, "draft");
  console.KeyDown(VK_DOWN, false);  // a non-empty working line: the blank line below it
  EXPECT_EQ(console.editor.selection, -2);
  EXPECT_EQ(console.CurrentLine(), "");
  console.KeyDown(VK_UP, false);
  EXPECT_EQ(console.CurrentLine(), "draft");  // back unchanged
  console.KeyDown(VK_UP, false);
  EXPECT_EQ(console.CurrentLine(), "two");
  EXPECT_EQ(console.editor.cursor, 3u);
  console.KeyDown(VK_UP, false);
  console.KeyDown(VK_UP, false);
  EXPECT_EQ(console.CurrentLine(), "one");  // the oldest stays selected
  Type(console, "!");                       // editing copies the entry into the working line
  EXPECT_EQ(console.editor.selection, -1);
  EXPECT_EQ(console.CurrentLine(), "one!");
  EXPECT_EQ(console.editor.history[0], "one");
  console.KeyDown(VK_DOWN, false);
  Type(console, "x");  // typing on the blank line starts a new working line
  EXPECT_EQ(console.CurrentLine(), "x");
  console.KeyDown(VK_UP, false);
  console.KeyDown(VK_DOWN, false);
  console.KeyDown(VK_DOWN, false);
  EXPECT_EQ(console.editor.selection, -2);
}

TEST(Console, HistoryKeepsTheLast129AndSubmitsTheSelectedLine) {
  Console console;
  for (int i = 0; i < 130; ++i) {
    Type(console, std::to_string(i));
    console.Submit();
  }
  EXPECT_EQ(console.editor.history.size(), 129u);
  EXPECT_EQ(console.editor.history.front(), "1");
  // Submitting the oldest or the newest entry of a full history pushes that entry's text.
  for (int i = 0; i < 129; ++i) console.KeyDown(VK_UP, false);
  EXPECT_EQ(console.CurrentLine(), "1");
  console.Submit();
  EXPECT_EQ(console.editor.history.back(), "1");
  console.KeyDown(VK_UP, false);
  console.Submit();
  EXPECT_EQ(console.editor.history.back(), "1");
  EXPECT_EQ(console.editor.history.size(), 129u);
  EXPECT_EQ(console.CurrentLine(), "");
}

TEST(Console, ScrollingTheLog) {
  Console console;
  for (int i = 0; i < 5; ++i) console.Print("line", 0);
  console.KeyDown(VK_PRIOR, false);
  EXPECT_EQ(console.scroll, 0);
  console.KeyDown(VK_NEXT, false);
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_NEXT, false);
  EXPECT_EQ(console.scroll, -1);

  for (int i = 0; i < 35; ++i) console.Print("more", 0);  // 40 lines
  console.KeyDown(VK_PRIOR, false);
  EXPECT_EQ(console.scroll, 24);
  console.KeyDown(VK_UP, true);
  EXPECT_EQ(console.scroll, 23);
  console.KeyDown(VK_DOWN, true);
  console.KeyDown(VK_NEXT, false);
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_UP, true);
  EXPECT_EQ(console.scroll, 39);
  console.KeyDown(VK_DOWN, true);
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_DOWN, true);
  EXPECT_EQ(console.scroll, -1);
  Type(console, "ab");
  console.KeyDown(VK_HOME, true);
  EXPECT_EQ(console.scroll, 0);
  console.KeyDown(VK_END, true);  // back to the live view, the cursor stays
  EXPECT_EQ(console.scroll, -1);
  EXPECT_EQ(console.editor.cursor, 2u);
  console.KeyDown(VK_HOME, true);
  console.Char('c');  // typing jumps back too
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_HOME, true);
  console.KeyDown(VK_DELETE, false);
  EXPECT_EQ(console.scroll, -1);
  console.Print("printing keeps a scrolled view", 0);
  console.KeyDown(VK_HOME, true);
  console.Print("x", 0);
  EXPECT_EQ(console.scroll, 0);
}

// Every scrolling key, in every order, on an empty, a one-line and a full log: the scroll
// position is the live view or a line of the log, and the panel lays out from it.
TEST(Console, ScrollPositionStaysInTheLog) {
  struct Key {
    int vk;
    bool control;
  };
  const Key keys[] = {{VK_PRIOR, false}, {VK_NEXT, false}, {VK_PRIOR, true}, {VK_NEXT, true},
                      {VK_UP, true},     {VK_DOWN, true},  {VK_HOME, true},  {VK_END, true}};
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, Console::kLogLimit}) {
    Console console;
    for (std::size_t i = 0; i < size; ++i) console.Print("line " + std::to_string(i), 0);
    const std::int32_t count = static_cast<std::int32_t>(size);
    std::uint32_t seed = 12345;
    for (int step = 0; step < 3000; ++step) {
      seed = seed * 1664525u + 1013904223u;
      // Runs of one key, so the ends of the log are pushed against, not just reached.
      const Key key = keys[(seed >> 16) % std::size(keys)];
      for (std::uint32_t repeat = (seed >> 8) % 4; repeat-- > 0;) console.KeyDown(key.vk, key.control);
      ASSERT_TRUE(console.scroll == -1 || (console.scroll >= 0 && console.scroll < count))
          << "log of " << size << " lines, scroll " << console.scroll << " after key " << key.vk;
      console.Layout(640, 480, 8, 16, 0.0f);
    }
  }
}

TEST(Console, ScrollingAnEmptyOrOneLineLog) {
  Console console;
  console.KeyDown(VK_HOME, true);  // no oldest line to show: the live view stays
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_DOWN, true);
  console.KeyDown(VK_DOWN, true);
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_UP, true);
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_PRIOR, false);
  EXPECT_EQ(console.scroll, -1);
  EXPECT_EQ(console.Layout(640, 480, 8, 16, 0.0f).texts.size(), 1u);  // the input line alone

  console.Print("only", 0);
  console.KeyDown(VK_HOME, true);
  EXPECT_EQ(console.scroll, 0);
  console.KeyDown(VK_DOWN, true);  // below the last line: the live view again
  EXPECT_EQ(console.scroll, -1);
  console.KeyDown(VK_UP, true);
  console.KeyDown(VK_UP, true);
  EXPECT_EQ(console.scroll, 0);
  console.KeyDown(VK_NEXT, false);
  EXPECT_EQ(console.scroll, -1);
}

// A full log drops its oldest line on each print; a scrolled-back view keeps its line.
TEST(Console, AFullLogKeepsTheScrolledViewOnItsLine) {
  Console console;
  for (std::size_t i = 0; i < Console::kLogLimit; ++i) console.Print(std::to_string(i), 0);
  console.KeyDown(VK_PRIOR, false);
  ASSERT_EQ(console.scroll, 984);
  console.Print("new", 0);
  EXPECT_EQ(console.lines[static_cast<std::size_t>(console.scroll)].text, "984");
  console.KeyDown(VK_HOME, true);
  console.Print("newer", 0);  // the shown line itself goes: the new oldest takes its place
  EXPECT_EQ(console.scroll, 0);
  EXPECT_EQ(console.lines[0].text, "2");
}

TEST(Console, BlinkShowsTheCursorInTheFirstHalfOfEachSecond) {
  LineEditor editor;
  editor.lastEdit = 10.0f;
  EXPECT_TRUE(editor.CursorShown(10.5f));
  EXPECT_FALSE(editor.CursorShown(10.75f));
  EXPECT_TRUE(editor.CursorShown(12.25f));
  EXPECT_EQ(editor.lastEdit, 12.0f);
  EXPECT_FALSE(editor.CursorShown(100000.75f));  // a long idle time, whole periods at once
  EXPECT_EQ(editor.lastEdit, 100000.0f);
}

// Screen 100 x 60 pixels, cells 10 x 10: 10 columns, the input's bottom row at y 20.
TEST(Console, LayoutRowsAndCursor) {
  Console console;
  console.Print("", 0);                    // an empty line takes no row
  console.Print(std::string(10, 'a'), 0);  // exactly one row
  console.Print(std::string(11, 'b'), 1);  // two rows
  Type(console, "12345678");               // "> 12345678" fills one row; the cursor needs a second
  console.editor.lastEdit = 0.0f;
  const ConsoleLayout layout = console.Layout(100, 60, 10, 10, 0.25f);
  ASSERT_GE(layout.texts.size(), 3u);
  EXPECT_EQ(layout.texts[0].text, "");
  EXPECT_EQ(layout.texts[0].top, 20);
  EXPECT_EQ(layout.texts[1].text, "> 12345678");
  EXPECT_EQ(layout.texts[1].top, 10);
  EXPECT_EQ(layout.texts[1].colour, 0xFF7FFF7Fu);
  EXPECT_EQ(layout.texts[2].text, "b");
  EXPECT_EQ(layout.texts[2].top, 0);
  EXPECT_EQ(layout.texts[2].colour, 0xFFFF7F7Fu);
  EXPECT_EQ(layout.texts.size(), 4u);  // then y < 0 stops the walk
  EXPECT_EQ(layout.texts[3].top, -10);
  EXPECT_TRUE(layout.cursorShown);
  EXPECT_EQ(layout.cursorLeft, 0);  // alone at the start of the second row
  EXPECT_EQ(layout.cursorTop, 20);

  console.KeyDown(VK_HOME, false);
  console.editor.lastEdit = 0.0f;
  const ConsoleLayout home = console.Layout(105, 65, 10, 10, 0.0f);  // margins 2 and 2
  EXPECT_EQ(home.texts[0].text, "> 12345678");
  EXPECT_EQ(home.texts[0].left, 2);
  EXPECT_EQ(home.texts[0].top, 32 - 10 - 2 + 2 - 2);
  EXPECT_EQ(home.cursorLeft, 2 * 10 + 2);
  EXPECT_EQ(home.cursorTop, 32 - 10 - 2);

  console.scroll = 0;
  EXPECT_FALSE(console.Layout(100, 60, 10, 10, 0.0f).cursorShown);
  EXPECT_TRUE(console.Layout(5, 60, 10, 10, 0.0f).texts.empty());  // not one column fits
}

}  // namespace
