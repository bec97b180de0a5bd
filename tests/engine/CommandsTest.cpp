#include <gmock/gmock.h>

#include "Common_Code/Cp1250.h"
#include "app/Commands.h"
#include "engine/Engine.h"
#include "tests/engine/EngineTestUtil.h"
#include "tools/qem-generate/Generate.h"

namespace {

using engine::state;

class EngineCommandsTest : public enginetest::EngineTest {
 protected:
  // Runs a console line through the interpreter with the engine's handler; returns what
  // it printed after the echo.
  std::vector<std::string> Run(std::string_view line) {
    console.lines.clear();
    ExecuteCommand(line, console, [this](const std::string& name, tvl::Reader& reader) {
      return engineObject.HandleCommand(name, reader);
    });
    std::vector<std::string> out = Printed();
    if (!out.empty()) out.erase(out.begin());
    return out;
  }
  engine::Engine engineObject;
};

TEST_F(EngineCommandsTest, SwitchesReplyWithTheirNewState) {
  struct Case {
    const char* line;
    std::string reply;
  };
  const Case cases[] = {
      {"culling", "Culling wyłączony"_cp},
      {"culling", "Culling włączony"_cp},
      {"wireframe", "Tryb szkieletowy włączony"_cp},
      {"transparency", "Przezroczystość włączona"_cp},
      {"map", "Mapa wyłączona"_cp},
      {"map", "Mapa włączona"_cp},
      {"fog", "Mgła wyłączona"_cp},
      {"fly", "Latanie włączone"_cp},
      {"lighting", "Światła wyłączone"_cp},
      {"clipplane", "Płaszczyzna obcinająca ukryta"_cp},
      {"CLIPPLANE", "Płaszczyzna obcinająca pokazana"_cp},  // the interpreter lower-cases
      {"liczba 2.5", "Liczba zmieniona na 2.500000"},
      {"liczba abc", "Liczba zmieniona na 0.000000"},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(Run(c.line), ::testing::ElementsAre(c.reply)) << c.line;
  }
  EXPECT_TRUE(state.cullingOn);
  EXPECT_FALSE(state.lightingOn);
  EXPECT_TRUE(state.sectionShown);
}

TEST_F(EngineCommandsTest, ArgumentErrorsChangeNothing) {
  struct Case {
    const char* line;
    std::string reply;
  };
  state.numberSetting = 7;
  const Case cases[] = {
      {"culling x", "Błąd składni przy \"x\": Za dużo parametrów"_cp},
      {"liczba", "Za mało parametrów"_cp},
      {"liczba 1 2", "Za dużo parametrów"_cp},
      {"nieznane", "Nieznane polecenie"_cp},
  };
  for (const Case& c : cases) {
    const auto replies = Run(c.line);
    ASSERT_EQ(replies.size(), 1u) << c.line;
    EXPECT_THAT(replies[0], ::testing::HasSubstr(c.reply)) << c.line;
    EXPECT_EQ(console.lines.back().colour, kConsoleError) << c.line;
  }
  EXPECT_TRUE(state.cullingOn);
  EXPECT_EQ(state.numberSetting, 7.0f);
}

TEST_F(EngineCommandsTest, ZoomResetsTheMagnification) {
  state.zoom = 7.5f;
  EXPECT_THAT(Run("zoom 2"), ::testing::ElementsAre(::testing::HasSubstr("Za dużo parametrów"_cp)));
  EXPECT_EQ(state.zoom, 7.5f);
  EXPECT_THAT(Run("zoom"), ::testing::ElementsAre("Powiększenie: 1"_cp));
  EXPECT_EQ(state.zoom, 1.0f);
}

TEST_F(EngineCommandsTest, UnknownWordIsNotTheEngines) {
  tvl::Reader reader("");
  EXPECT_FALSE(engineObject.HandleCommand("exit2", reader));
  EXPECT_FALSE(engineObject.HandleCommand("Culling", reader));  // exact, case-sensitive
}

TEST_F(EngineCommandsTest, TreePrintsTenLevelsOnceLoaded) {
  EXPECT_TRUE(Run("tree").empty());  // before the document: accepted, silent
  qem::Document& doc = Load(qemgen::GenerateQem({6, 6, 6, 1, 1.0f, false}));
  const auto replies = Run("tree 5");
  ASSERT_EQ(replies.size(), 10u);
  std::uint32_t total = 0;
  for (int i = 0; i < 10; ++i) {
    const std::uint32_t count = engine::CountAtLevel(doc.octree.get(), i);
    total += count;
    EXPECT_EQ(replies[i], "Poziom " + std::to_string(i) + ": " + std::to_string(count));
  }
  EXPECT_EQ(total, doc.elements.size());
}

TEST(CountAtLevelTest, CountsTheNodesOfOneLevel) {
  // A root holding 3 elements with eight children of 1 element each.
  qem::OctreeNode root;
  qem::Element elements[11];
  for (int i = 0; i < 3; ++i) root.elements.push_back(&elements[i]);
  for (int i = 0; i < 8; ++i) {
    root.children[i] = std::make_unique<qem::OctreeNode>();
    root.children[i]->level = 1;
    root.children[i]->elements.push_back(&elements[3 + i]);
  }
  EXPECT_EQ(engine::CountAtLevel(&root, 0), 3u);
  EXPECT_EQ(engine::CountAtLevel(&root, 1), 8u);
  for (int level = 2; level < 10; ++level) EXPECT_EQ(engine::CountAtLevel(&root, level), 0u);
}

}  // namespace
