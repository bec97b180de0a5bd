#include "engine/Probe.h"

#include <gmock/gmock.h>

#include "Common_Code/Cp1250.h"
#include "app/Commands.h"
#include "engine/Camera.h"
#include "engine/ClipSection.h"
#include "engine/Engine.h"
#include "engine/Scene.h"
#include "engine/Status.h"
#include "framework/Input.h"
#include "tests/engine/EngineTestUtil.h"

namespace {

using engine::state;

// One hexahedron from (0, 0, 0) to (2, 2, 2) in file units; vertex k has the value k.
const char* kHexahedron =
    "QEM\n"
    "VERTICES 8\n"
    "0 0 0\n2 0 0\n2 2 0\n0 2 0\n0 0 2\n2 0 2\n2 2 2\n0 2 2\n"
    "ELEMENTS 1\n"
    "0 1 2  0 2 3  4 5 6  4 6 7  0 1 5  0 5 4  3 2 6  3 6 7  0 3 7  0 7 4  1 2 6  1 6 5\n"
    "FRAMES 1\n"
    "0  0 1 2 3 4 5 6 7\n";

class ProbeTest : public enginetest::EngineTest {
 protected:
  // Runs a console line with the engine's handler; the replies after the echo.
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

TEST_F(ProbeTest, PointsInsideATetrahedronTakeBarycentricWeights) {
  const qem::Document& document = Load(enginetest::kCutTetra);
  struct Case {
    qem::Float3 point;
    float atStart, atEnd;
  };
  const Case cases[] = {
      {{-0.25f, 0, 0.5f}, 1.5f, 1.5f},  // the centre: the mean of 0 1 2 3, and of 3 2 1 0
      {{1, 0, 1}, 1, 2},                // vertex 1
      {{0.5f, 0, 0}, 0.5f, 2.5f},       // half-way from vertex 0 to vertex 1
  };
  for (const Case& c : cases) {
    std::vector<engine::ProbeWeight> weights;
    ASSERT_TRUE(engine::LocatePoint(document, engine::ToNormalised(document, c.point), weights));
    EXPECT_NEAR(engine::ProbeValue(document, weights, 0), c.atStart, 1e-5f);
    EXPECT_NEAR(engine::ProbeValue(document, weights, 10), c.atEnd, 1e-5f);
  }
  std::vector<engine::ProbeWeight> weights;
  EXPECT_FALSE(engine::LocatePoint(document, {1, 1, -1}, weights));  // a corner of the cube, not of the mesh
}

TEST_F(ProbeTest, OtherElementsTakeInverseDistanceWeights) {
  const qem::Document& document = Load(kHexahedron);
  struct Case {
    qem::Float3 point;
    float value;
  };
  const Case cases[] = {
      {{1, 1, 1}, 3.5f},  // the centre is equally far from all eight
      {{2, 2, 2}, 6},     // on vertex 6
      {{0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    std::vector<engine::ProbeWeight> weights;
    ASSERT_TRUE(engine::LocatePoint(document, engine::ToNormalised(document, c.point), weights));
    EXPECT_NEAR(engine::ProbeValue(document, weights, 0), c.value, 1e-5f);
  }
  std::vector<engine::ProbeWeight> weights;
  EXPECT_FALSE(engine::LocatePoint(document, engine::ToNormalised(document, {1, 1, 2.5f}), weights));
}

TEST_F(ProbeTest, CommandRepliesWithTheValueOrThatThePointIsOutside) {
  Load(kHexahedron);
  struct Case {
    const char* line;
    std::string reply;
    bool error;
  };
  const Case cases[] = {
      {"probe 1 1 1", "Wartość w (1, 1, 1): 3.5"_cp, false},
      {"probe 2 2 2", "Wartość w (2, 2, 2): 6"_cp, false},
      {"probe 1 1 2.5", "Punkt (1, 1, 2.5) leży poza siatką"_cp, false},
      {"probe 1e9 0 0", "Punkt (1e+09, 0, 0) leży poza siatką"_cp, false},
      {"probe x 1 1", "Błąd podczas konwersji"_cp, true},
      {"probe 1 1 1x", "Błąd podczas konwersji"_cp, true},
      {"probe 1 1", "Ogólny błąd składni"_cp, true},
      {"probe 1 1 1 1", "Za dużo parametrów"_cp, true},
  };
  for (const Case& c : cases) {
    const auto replies = Run(c.line);
    ASSERT_EQ(replies.size(), 1u) << c.line;
    if (c.error) {
      EXPECT_THAT(replies[0], ::testing::HasSubstr(c.reply)) << c.line;
      EXPECT_EQ(console.lines.back().colour, kConsoleError) << c.line;
    } else {
      EXPECT_EQ(replies[0], c.reply) << c.line;
    }
  }
}

TEST_F(ProbeTest, HelpListsEveryKeyAndCommand) {
  const auto lines = Run("help");
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  for (const char* word :
       {"LPM",     "PPM",       "kółko",        "F12",  "\n  W ", "\n  O ",     "\n  L ",   "Enter",
        "Home",    "PgUp",      "exit",         "echo", "mode ",  "modes",      "profile",  "saveprofile",
        "culling", "wireframe", "transparency", "map",  "fog",    "fly",        "lighting", "clipplane",
        "legend",  "liczba",    "tree",         "zoom", "probe",  "screenshot", "help"}) {
    EXPECT_THAT(all, ::testing::HasSubstr(cp1250::FromUtf8(word))) << word;
  }
  EXPECT_THAT(Run("help me"), ::testing::ElementsAre(::testing::HasSubstr("Za dużo parametrów"_cp)));
}

class PickTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    Load(enginetest::kCutTetra);
    state.rotationX = 0;
    state.rotationY = 0;
    engine::UpdateClipPlane();
    engine::GenerateEdgeBuffers();
    engine::GenerateClipBuffers();
    ASSERT_FALSE(ErrorPending());
  }
};

TEST_F(PickTest, MiddleClickProbesTheMeshAndClearsOnTheBackground) {
  // Face on, the screen's centre shows the tetrahedron's face towards the camera.
  engine::OnMouseButton({400, 300}, 1, 0);
  ASSERT_FALSE(state.probeWeights.empty());
  EXPECT_FALSE(state.leftDrag || state.rightDrag);
  EXPECT_FALSE(input::IsCaptured());
  EXPECT_THAT(state.statusText, ::testing::HasSubstr("\nSonda: "));
  // The pointer lands on the face the camera sees: its nearest point along the view axis.
  EXPECT_NEAR(state.probePoint.x, 0, 0.01f);
  EXPECT_NEAR(state.probePoint.y, 0, 0.01f);
  EXPECT_LT(state.probePoint.z, 0);
  const std::string before = state.statusText;
  engine::OnMouseButton({400, 300}, 1, 1);  // the release does nothing
  EXPECT_EQ(state.statusText, before);
  engine::OnMouseButton({5, 5}, 1, 0);
  EXPECT_TRUE(state.probeWeights.empty());
  EXPECT_THAT(state.statusText, ::testing::Not(::testing::HasSubstr("Sonda")));
}

TEST_F(PickTest, StatusLineFollowsTheDisplayTime) {
  state.probePoint = {1, 0, 1};
  state.probeWeights = {{1, 1.0f}};  // on vertex 1: 1 at the start, 2 at the end
  engine::RefreshStatus();
  EXPECT_EQ(state.statusText, "Węzłów: 4\nElementów: 1\nCzas: 0 (0-10) - 0%\nSonda: 1 w (1, 0, 1)"_cp);
  state.displayTime = 10;
  engine::RefreshStatus();
  EXPECT_THAT(state.statusText, ::testing::EndsWith("\nSonda: 2 w (1, 0, 1)"));
  // A new rotation keeps the point and its value.
  state.rotationY = 1;
  engine::GenerateClipBuffers();
  engine::RefreshStatus();
  EXPECT_THAT(state.statusText, ::testing::EndsWith("\nSonda: 2 w (1, 0, 1)"));
}

}  // namespace
