// The overlay batchers on the recording device: what their state blocks hold, in order,
// the rectangle queue's flushing, and every failure line.
#include "gfx/Gfx.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "gfx/Gui.h"
#include "gfx/RecordingDevice.h"
#include "tests/TraceLines.h"

namespace {

using namespace gfx;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> TakeLines() { return PopAllLines(); }

std::vector<std::string> BlockCalls(const StateBlockPtr& block) {
  std::vector<std::string> out;
  for (const auto& call : static_cast<const RecordingStateBlock&>(*block).calls) {
    out.push_back(call.Text());
  }
  return out;
}

class BatchersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalErrorTrace().Clear();
    frame::test_seam::ResetState();
    frame::test_seam::InstallDevice(&device);
  }
  void TearDown() override {
    line.OnDeviceLost();
    rect.OnDeviceLost();
    sprite.OnDeviceLost();
    font.OnDeviceLost();
    frame::test_seam::InstallDevice(nullptr);
    GlobalErrorTrace().Clear();
  }

  RecordingDevice device;
  LineManager line;
  RectManager rect;
  SpriteManager sprite;
  FontManager font;
};

// Render state numbers: CULLMODE 22, ALPHABLENDENABLE 27, SRCBLEND 19, DESTBLEND 20,
// ZENABLE 7, FILLMODE 8. Stage states: COLOROP 1, COLORARG1 2, COLORARG2 3, ALPHAOP 4,
// ALPHAARG1 5, ALPHAARG2 6, TEXCOORDINDEX 11.
TEST_F(BatchersTest, StateBlocksHoldTheSettingsInRecordingOrder) {
  line.OnDeviceRestore();
  rect.OnDeviceRestore();
  sprite.OnDeviceRestore();
  font.OnDeviceRestore();
  ASSERT_FALSE(ErrorPending());
  EXPECT_THAT(BlockCalls(line.stateBlock),
              ElementsAre("SetTextureStageState(0, 1, 2)", "SetTextureStageState(0, 2, 0)", "SetFVF(0x44)"));
  EXPECT_THAT(BlockCalls(rect.stateBlock),
              ElementsAre("SetRenderState(22, 0x1)", "SetRenderState(27, 0x1)", "SetRenderState(19, 0x5)",
                          "SetRenderState(20, 0x6)", "SetRenderState(7, 0x0)", "SetRenderState(8, 0x3)", "SetFVF(0x44)",
                          "SetTexture(0, null)", "SetTextureStageState(0, 1, 2)", "SetTextureStageState(0, 2, 0)",
                          "SetTextureStageState(0, 4, 2)", "SetTextureStageState(0, 5, 0)"));
  const std::vector<std::string> spriteStates = {
      "SetRenderState(22, 0x1)",       "SetRenderState(27, 0x1)",        "SetRenderState(19, 0x5)",
      "SetRenderState(20, 0x6)",       "SetTextureStageState(0, 11, 0)", "SetTextureStageState(0, 1, 5)",
      "SetTextureStageState(0, 2, 2)", "SetTextureStageState(0, 3, 0)",  "SetTextureStageState(0, 4, 4)",
      "SetTextureStageState(0, 5, 2)", "SetTextureStageState(0, 6, 0)"};
  auto withFvf = spriteStates;
  withFvf.push_back("SetFVF(0x144)");
  EXPECT_THAT(BlockCalls(sprite.stateBlock), ElementsAreArray(withFvf));
  auto text = spriteStates;
  text.insert(text.end(), {"SetSamplerState(0, 6, 2)", "SetSamplerState(0, 5, 2)", "SetFVF(0x144)"});
  EXPECT_THAT(BlockCalls(font.stateBlock), ElementsAreArray(text));
  ASSERT_TRUE(font.vertexBuffer);
  EXPECT_EQ(font.vertexBuffer->Length(), 860160u);
  EXPECT_THAT(device.Texts("CreateVertexBuffer"), ElementsAre(StartsWith("CreateVertexBuffer(860160, 0x8, 0x144, 1")));
}

TEST_F(BatchersTest, RectanglesPastTheQueueGoInTwoDraws) {
  rect.OnDeviceRestore();
  device.ClearLog();
  rect.Begin();
  for (int i = 0; i < 1025; ++i) {
    rect.Add({static_cast<float>(i), 2.0f, static_cast<float>(i) + 10.0f, 20.0f}, 0x40000000);
  }
  rect.End();
  ASSERT_FALSE(ErrorPending());
  const auto draws = device.Calls("DrawIndexedPrimitiveUP");
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].args, "4, 0, 4096, 2048, 101, 20");
  EXPECT_EQ(draws[1].args, "4, 0, 4, 2, 101, 20");
  // The 1025th rectangle starts the second batch at vertex 0.
  ScreenVertex v[4];
  std::memcpy(v, draws[1].vertexData.data(), sizeof v);
  EXPECT_EQ(v[0].x, 1024.0f);
  EXPECT_EQ(v[0].y, 2.0f);
  EXPECT_EQ(v[2].x, 1034.0f);
  EXPECT_EQ(v[2].y, 20.0f);
  EXPECT_EQ(v[3].x, 1024.0f);
  EXPECT_EQ(v[3].y, 20.0f);
  EXPECT_EQ(v[1].rhw, 1.0f);
  EXPECT_EQ(v[1].colour, 0x40000000u);
  std::uint16_t i[6];
  std::memcpy(i, draws[1].indexData.data(), sizeof i);
  EXPECT_THAT(i, ElementsAre(0, 1, 3, 1, 3, 2));
  EXPECT_EQ(device.Texts().front(), "StateBlock::Apply(#1)");

  device.ClearLog();
  rect.Begin();
  rect.End();  // nothing queued: nothing drawn
  EXPECT_TRUE(device.Calls("DrawIndexedPrimitiveUP").empty());
}

TEST_F(BatchersTest, RectangleDrawingFailures) {
  rect.OnDeviceRestore();
  device.FailCall("StateBlock::Apply", D3DERR_INVALIDCALL);
  rect.Begin();
  auto lines = TakeLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], StartsWith("[Gfx,"));
  EXPECT_THAT(lines[0], HasSubstr("Nie można przywrócić ustawień urządzenia do rysowania prostokątów"_cp.view()));

  rect.Begin();
  rect.Add({0, 0, 1, 1}, 0);
  device.FailCall("DrawIndexedPrimitiveUP", D3DERR_INVALIDCALL);
  rect.End();
  lines = TakeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], HasSubstr("Nie można zakończyć rysowania prostokątów"_cp.view()));
  EXPECT_THAT(lines[1], HasSubstr("Nie można narysować prostokątów"_cp.view()));
  EXPECT_EQ(rect.count, 0);

  rect.Begin();
  for (int i = 0; i < RectManager::kCapacity; ++i) rect.Add({0, 0, 1, 1}, 0);
  device.FailCall("DrawIndexedPrimitiveUP", D3DERR_INVALIDCALL);
  rect.Add({0, 0, 1, 1}, 0);
  lines = TakeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], HasSubstr("Nie można narysować prostokąta"_cp.view()));
  EXPECT_EQ(rect.count, 0);  // the failed rectangle was not queued
}

// Each batcher's lines when recording cannot start (newest first), and the line batcher's
// when it cannot end.
TEST_F(BatchersTest, StateBlockRecordingFailures) {
  const std::string notStarted = "Nie rozpocząć rejestracji bloku stanów"_cp;
  struct Case {
    frame::FrameObject* object;
    const char* failing;
    std::vector<std::string> messages;  // newest first, each a substring of its line
    bool firstHasLocation;
  };
  const Case cases[] = {
      {&line, "BeginStateBlock", {"Nie można rozpocząć rejestracji bloku stanów urządzenia"_cp}, true},
      {&line, "EndStateBlock", {"Nie można zapamiętać bloku stanów urządzenia"_cp}, true},
      {&rect, "BeginStateBlock", {"Nie można zainicjalizować rysowania prostokątów"_cp, notStarted}, false},
      {&sprite, "BeginStateBlock", {"Nie można zainicjalizować rysowania spritów"_cp, notStarted}, true},
      {&font, "BeginStateBlock", {"Nie można zainicjować rysowania czcionek"_cp, notStarted}, true},
      {&font,
       "CreateVertexBuffer",
       {"Nie można zainicjalizować systemu buforowania tekstu"_cp, "Nie można utworzyć bufora wierzchołków"_cp},
       true},
  };
  for (const auto& c : cases) {
    device.FailCall(c.failing, D3DERR_OUTOFVIDEOMEMORY);
    c.object->OnDeviceRestore();
    const auto lines = TakeLines();
    ASSERT_EQ(lines.size(), c.messages.size() + 1) << c.failing;
    for (std::size_t i = 0; i < c.messages.size(); ++i) {
      EXPECT_THAT(lines[i], HasSubstr(c.messages[i])) << c.failing;
    }
    if (c.firstHasLocation) {
      EXPECT_THAT(lines[0], StartsWith("[Gfx,"));
    } else {
      EXPECT_EQ(lines[0], c.messages[0]);
    }
    EXPECT_THAT(lines.back(), HasSubstr("D3DERR_OUTOFVIDEOMEMORY"));
    c.object->OnDeviceLost();
  }
  EXPECT_FALSE(font.vertexBuffer);
}

TEST_F(BatchersTest, TextQueueIsEmptyAfterEveryRestoreAndLoss) {
  font.OnDeviceRestore();
  font.Queue("a");
  font.Queue("b");
  font.OnDeviceLost();
  EXPECT_TRUE(font.queue.empty());
  EXPECT_FALSE(font.vertexBuffer);
  EXPECT_FALSE(font.stateBlock);
  font.Queue("c");
  font.OnDeviceRestore();
  EXPECT_TRUE(font.queue.empty());
  EXPECT_EQ(device.LiveResources(), 2);
}

// The settings a system answers become lines, seconds and an interval; the ones it does
// not answer fall back one by one.
TEST(GUISystem, FallbackInputSettings) {
  using frame::SystemSetting;
  struct Case {
    std::map<SystemSetting, unsigned> answers;
    unsigned wheelLines;
    float repeatDelay, repeatInterval;
  };
  const Case cases[] = {
      {{}, 3u, 0.5f, 0.2f},
      {{{SystemSetting::WheelScrollLines, 7}, {SystemSetting::KeyboardDelay, 3}, {SystemSetting::KeyboardSpeed, 31}},
       7u,
       1.0f,
       1.0f / (31 * 0.9166667f + 2.5f)},
      {{{SystemSetting::KeyboardDelay, 0}, {SystemSetting::KeyboardSpeed, 0}}, 3u, 0.25f, 0.4f},
      {{{SystemSetting::WheelScrollLines, 1}}, 1u, 0.5f, 0.2f},
  };
  for (const Case& c : cases) {
    const gui::GUISystem system([&](SystemSetting which, unsigned& value) {
      const auto it = c.answers.find(which);
      if (it == c.answers.end()) return false;
      value = it->second;
      return true;
    });
    EXPECT_EQ(system.wheelLines, c.wheelLines);
    EXPECT_FLOAT_EQ(system.repeatDelay, c.repeatDelay);
    EXPECT_FLOAT_EQ(system.repeatInterval, c.repeatInterval);
    EXPECT_TRUE(system.windows.empty());
  }
  // This platform answers nothing.
  const gui::GUISystem platform;
  EXPECT_EQ(platform.wheelLines, 3u);
  EXPECT_FLOAT_EQ(platform.repeatDelay, 0.5f);
  EXPECT_FLOAT_EQ(platform.repeatInterval, 0.2f);
}

}  // namespace
