#include "engine/Legend.h"

#include <gmock/gmock.h>

#include "engine/Colour.h"
#include "engine/Engine.h"
#include "gfx/Gfx.h"
#include "tests/engine/EngineTestUtil.h"

namespace {

using engine::state;

TEST(LegendLayout, BarSitsOneCellInFromTheRightAndBottomEdges) {
  const engine::LegendLayout layout = engine::ComputeLegend(800, 600, 8, 16, 0, 10);
  EXPECT_EQ(layout.right, 792);
  EXPECT_EQ(layout.left, 776);  // two cells wide
  EXPECT_EQ(layout.bottom, 584);
  EXPECT_EQ(layout.top, 584 - 240);  // 40 % of the height
  EXPECT_EQ(layout.rowColours.size(), 240u);
  EXPECT_EQ(layout.frameColour, 0xFFFFFFFFu);
  EXPECT_EQ(layout.labelColour, 0xFFFFFF80u);
}

TEST(LegendLayout, RowsAreTheMeshsColoursFromTheLargestValueDown) {
  struct Case {
    float low, high;
  };
  for (const Case c : {Case{0, 10}, Case{-3.5f, 120}, Case{4, 4}}) {
    const engine::LegendLayout layout = engine::ComputeLegend(640, 480, 8, 16, c.low, c.high);
    const int rows = static_cast<int>(layout.rowColours.size());
    EXPECT_EQ(layout.rowColours.front(), engine::ValueColour(c.high, c.low, c.high));
    EXPECT_EQ(layout.rowColours.back(), engine::ValueColour(c.low, c.low, c.high));
    for (int row = 0; row < rows; ++row) {
      const float value = c.high - (c.high - c.low) * static_cast<float>(row) / static_cast<float>(rows - 1);
      EXPECT_EQ(layout.rowColours[static_cast<std::size_t>(row)], engine::ValueColour(value, c.low, c.high)) << row;
    }
  }
  const engine::LegendLayout scale = engine::ComputeLegend(640, 480, 8, 16, 0, 1);
  EXPECT_EQ(scale.rowColours.front(), 0x00FF0000u);  // red at the top
  EXPECT_EQ(scale.rowColours.back(), 0x007F00FFu);   // violet at the bottom
}

TEST(LegendLayout, FiveLabelsWithFourSignificantDigitsBesideTheirRows) {
  const engine::LegendLayout layout = engine::ComputeLegend(800, 600, 8, 16, 0.0001234567f, 12345.67f);
  std::vector<std::string> texts;
  for (const auto& label : layout.labels) texts.push_back(label.text);
  EXPECT_THAT(texts, ::testing::ElementsAre("1.235e+04", "9259", "6173", "3086", "0.0001235"));
  const int rows = static_cast<int>(layout.rowColours.size());
  for (int k = 0; k < 5; ++k) {
    const auto& label = layout.labels[static_cast<std::size_t>(k)];
    const int row = layout.top + (rows - 1) * k / 4;
    EXPECT_EQ((label.top + label.bottom) / 2, row) << k;
    EXPECT_LT(label.right, layout.left) << k;
    EXPECT_TRUE(label.format & gfx::DT_RIGHT);
  }
}

class LegendDrawTest : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    gfx::g_rectManager.OnDeviceRestore();
  }
  void TearDown() override {
    gfx::g_rectManager.OnDeviceLost();
    EngineTest::TearDown();
  }
};

TEST_F(LegendDrawTest, DrawnOnlyWhenShownAndADocumentIsReady) {
  device.ClearLog();
  state.legendShown = true;
  engine::DrawLegend();  // nothing loaded
  EXPECT_TRUE(device.Calls("DrawIndexedPrimitiveUP").empty());
  Load(enginetest::kCutTetra);
  state.legendShown = false;
  engine::DrawLegend();
  EXPECT_TRUE(device.Calls("DrawIndexedPrimitiveUP").empty());
  state.legendShown = true;
  engine::DrawLegend();
  // 240 rows and four frame sides, in batches of at most 1024 rectangles.
  EXPECT_EQ(device.Calls("DrawIndexedPrimitiveUP").size(), 1u);
  EXPECT_THAT(device.Texts("DrawIndexedPrimitiveUP"), ::testing::ElementsAre(::testing::HasSubstr("976")));
  EXPECT_FALSE(ErrorPending());
}

}  // namespace
