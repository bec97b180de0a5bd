#include "engine/Colour.h"

#include <gtest/gtest.h>

#include "tests/engine/EngineTestUtil.h"

namespace {

TEST(ColourTest, ScaleRunsFromVioletToRed) {
  struct Case {
    float value;
    std::uint32_t colour;
  };
  const Case cases[] = {{0, 0x007F00FF}, {0.25f, 0x00009FFF}, {0.5f, 0x0000FF3F}, {0.75f, 0x00DFFF00}, {1, 0x00FF0000}};
  for (const Case& c : cases) {
    EXPECT_EQ(engine::ValueColour(c.value, 0, 1), c.colour) << c.value;
  }
  // An empty or reversed range shows everything violet.
  EXPECT_EQ(engine::ValueColour(5, 2, 2), 0x007F00FFu);
  EXPECT_EQ(engine::ValueColour(5, 3, 2), 0x007F00FFu);
}

TEST(ColourTest, HsvAndLerpHelpers) {
  EXPECT_EQ(engine::LerpColour(0x007F00FF, 0x00FF0000, 0.5f), 0xFFBF007Fu);
  EXPECT_EQ(engine::LerpColour(0x12345678, 0x00000000, 0), 0xFF345678u);
  EXPECT_EQ(engine::HsvToRgb(0.3f, 0, 0.5f), 0x007F7F7Fu);  // grey: 127 in every channel
  EXPECT_EQ(engine::HsvToRgb(1.0f, 1, 1), 0x00FF0000u);     // the hue wraps: 1 is red
  EXPECT_EQ(engine::HsvToRgb(std::numeric_limits<float>::quiet_NaN(), 1, 1), 0u);
}

// The sampler must give exactly what ValueAt gives, or the re-colouring would change the
// picture: before, on, between and after the frames, with three or more frames.
TEST(ColourTest, SamplerMatchesValueAtEverywhere) {
  auto document = enginetest::MakeDocument(
      "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\nELEMENTS 1\n0 2 1  0 1 3  1 2 3  0 3 2\n"
      "FRAMES 4\n0.0  0 1 2 3\n1.5  3 2 1 0\n2.0  0.1 0.7 5 -1\n7.25  1 1 1 1\n");
  for (float t : {-1.0f, 0.0f, 0.3f, 1.5f, 1.7f, 2.0f, 3.3333f, 7.25f, 9.0f}) {
    const engine::ValueSampler sample(*document, t);
    for (std::uint32_t v = 0; v < 4; ++v) {
      EXPECT_EQ(sample(v), document->ValueAt(v, t)) << "t " << t << " vertex " << v;
    }
  }
}

}  // namespace
