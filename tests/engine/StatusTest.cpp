#include "engine/Status.h"

#include <gmock/gmock.h>

#include "Common_Code/Cp1250.h"
#include "gfx/Font.h"
#include "tests/engine/EngineTestUtil.h"

namespace {

using engine::state;

using StatusTest = enginetest::EngineTest;

TEST_F(StatusTest, ReadyDocumentShowsSizesAndTime) {
  // 8 vertices, 2 elements, frames at 0 and 10, shown at 2.5.
  Load(
      "QEM\nVERTICES 8\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n2 0 0\n3 0 0\n2 1 0\n2 0 1\n"
      "ELEMENTS 2\n0 2 1  0 1 3  1 2 3  0 3 2\n4 6 5  4 5 7  5 6 7  4 7 6\n"
      "FRAMES 2\n0  0 0 0 0 0 0 0 0\n10  1 1 1 1 1 1 1 1\n");
  state.documentReady = false;
  state.displayTime = 2.5f;
  engine::RefreshStatus();
  EXPECT_TRUE(state.documentReady);
  EXPECT_EQ(state.statusText, "Węzłów: 8\nElementów: 2\nCzas: 2.5 (0-10) - 25%"_cp);
}

TEST_F(StatusTest, SingleFrameShowsTwoLines) {
  Load(
      "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\nELEMENTS 1\n0 2 1  0 1 3  1 2 3  0 3 2\n"
      "FRAMES 1\n0  1 2 3 4\n");
  engine::RefreshStatus();
  EXPECT_EQ(state.statusText, "Węzłów: 4\nElementów: 1"_cp);
}

TEST_F(StatusTest, BeforeAnyLoadTheStatusIsEmpty) {
  qem::ResetLoader();
  engine::RefreshStatus();
  EXPECT_FALSE(state.documentReady);
  EXPECT_EQ(state.statusText, "");
}

TEST_F(StatusTest, ThreeDrawsInOneCellFromEveryEdge) {
  state.statusText = "abc";
  struct Case {
    float fps;
    const char* text;
  };
  for (const Case c : {Case{59.6f, "FPS: 60"}, Case{59.4f, "FPS: 59"}, Case{0, "FPS: 0"}}) {
    const auto draws = engine::StatusDraws(800, 600, 10, 19, c.fps);
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[1].text, c.text);
  }
  const auto draws = engine::StatusDraws(800, 600, 10, 19, 30);
  for (const auto& d : draws) {
    EXPECT_EQ(d.left, 10);
    EXPECT_EQ(d.top, 19);
    EXPECT_EQ(d.right, 790);
    EXPECT_EQ(d.bottom, 581);
  }
  EXPECT_EQ(draws[0].text, "abc");
  EXPECT_EQ(draws[0].length, 3);
  EXPECT_EQ(draws[0].format, 0x110u);
  EXPECT_EQ(draws[0].colour, 0xFFFFFF80u);
  EXPECT_EQ(draws[1].length, 7);
  EXPECT_EQ(draws[1].format, 0x108u);
  EXPECT_EQ(draws[1].colour, 0xFFFFFFFFu);
  EXPECT_EQ(draws[2].text, "Sterowanie:\nLPM, PPM\nW, O, L\nEnter, Esc\nHome, End\nPgUp, PgDn, lewo, prawo\n`");
  EXPECT_EQ(draws[2].length, -1);
  EXPECT_EQ(draws[2].format, 0x112u);
  EXPECT_EQ(draws[2].colour, 0xFF80FFFFu);
}

}  // namespace
