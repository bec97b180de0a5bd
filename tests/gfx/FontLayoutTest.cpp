// DrawTextA's layout rules, on a made-up fixed font: every glyph 10 px wide, lines 20 px.
#include <gtest/gtest.h>

#include <string>

#include "gfx/Font.h"

namespace {

using namespace gfx;

FontMetrics Fixed() {
  FontMetrics m;
  m.lineHeight = 20;
  m.ascent = 15;
  for (auto& g : m.glyphs) g.advance = 10;
  return m;
}

// The text of each laid-out line, in order (lines told apart by y).
std::vector<std::string> Lines(const TextLayout& layout) {
  std::vector<std::string> lines;
  int y = 0;
  for (const auto& g : layout.glyphs) {
    if (lines.empty() || g.y != y) {
      lines.emplace_back();
      y = g.y;
    }
    lines.back() += static_cast<char>(g.byte);
  }
  return lines;
}

TEST(FontLayout, CalcRectOfOneCharacterIsTheCell) {
  const auto layout = LayoutText(Fixed(), "M", RECT{0, 0, 0, 0}, DT_CALCRECT | DT_SINGLELINE | DT_NOCLIP);
  EXPECT_EQ(layout.bounds.left, 0);
  EXPECT_EQ(layout.bounds.top, 0);
  EXPECT_EQ(layout.bounds.right, 10);
  EXPECT_EQ(layout.bounds.bottom, 20);
}

TEST(FontLayout, LineFeedsBreakUnlessSingleLine) {
  const RECT r{5, 7, 500, 500};
  auto layout = LayoutText(Fixed(), "ab\r\ncd\n\nef", r, DT_NOCLIP);
  EXPECT_EQ(Lines(layout), (std::vector<std::string>{"ab", "cd", "ef"}));
  EXPECT_EQ(layout.height, 4 * 20);  // the empty line counts
  EXPECT_EQ(layout.glyphs.back().y, 7 + 3 * 20);
  EXPECT_EQ(layout.glyphs.front().x, 5);

  layout = LayoutText(Fixed(), "ab\ncd", r, DT_NOCLIP | DT_SINGLELINE);
  EXPECT_EQ(layout.height, 20);
  EXPECT_EQ(layout.glyphs.size(), 5u);
}

// The status display's help text: right-aligned, wrapped between words.
TEST(FontLayout, WordBreakAndRightAlignment) {
  struct Case {
    const char* text;
    int width;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"aaa bbb ccc", 70, {"aaa bbb", "ccc"}}, {"aaa bbb ccc", 110, {"aaa bbb ccc"}},
      {"aaa   bbb", 50, {"aaa", "bbb"}},        // spaces at the break are dropped
      {"aaaaaaaa bb", 50, {"aaaaaaaa", "bb"}},  // a long word stays whole
      {"a\nbbb ccc", 50, {"a", "bbb", "ccc"}},
  };
  for (const auto& c : cases) {
    const RECT r{0, 0, c.width, 0};
    const auto layout = LayoutText(Fixed(), c.text, r, DT_WORDBREAK | DT_RIGHT | DT_NOCLIP);
    EXPECT_EQ(Lines(layout), c.lines) << c.text;
    // Every line ends at the right edge.
    for (std::size_t i = 0; i + 1 <= layout.glyphs.size(); ++i) {
      const bool lastOfLine = i + 1 == layout.glyphs.size() || layout.glyphs[i + 1].y != layout.glyphs[i].y;
      if (lastOfLine) {
        EXPECT_EQ(layout.glyphs[i].x + 10, c.width) << c.text;
      }
    }
  }
}

// The frame rate sits at the bottom of its rectangle, even without DT_SINGLELINE.
TEST(FontLayout, BottomAlignsTheWholeBlock) {
  const RECT r{10, 20, 300, 200};
  const auto layout = LayoutText(Fixed(), "FPS: 60\nx", r, DT_BOTTOM | DT_NOCLIP);
  EXPECT_EQ(layout.bounds.bottom, 200);
  EXPECT_EQ(layout.bounds.top, 160);
  EXPECT_EQ(layout.glyphs.front().y, 160);
  EXPECT_EQ(layout.glyphs.back().y, 180);
}

TEST(FontLayout, EmptyTextHasNoLines) {
  const auto layout = LayoutText(Fixed(), "", RECT{3, 4, 50, 50}, DT_CALCRECT);
  EXPECT_TRUE(layout.glyphs.empty());
  EXPECT_EQ(layout.height, 0);
  EXPECT_EQ(layout.bounds.right, 3);
  EXPECT_EQ(layout.bounds.bottom, 4);
}

}  // namespace
