#include "engine/Scene.h"

#include <gmock/gmock.h>

#include "Common_Code/Cp1250.h"
#include "engine/ClipSection.h"
#include "engine/Colour.h"
#include "tests/engine/EngineTestUtil.h"

namespace {

using engine::state;
using enginetest::EngineTest;
using enginetest::TakeTrace;
using ::testing::ElementsAre;

// One tetrahedron whose first face (0, 1, 2) is written turning into the element: after
// normalisation the vertices are 0 = (-1, -1, -1), 1 = (1, -1, -1), 2 = (-1, 1, -1),
// 3 = (-1, -1, 1) and the centre lies above face 0-1-2, which has the normal +z.
const char* kInwardFace =
    "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\nELEMENTS 1\n0 1 2  0 1 3  1 2 3  0 3 2\n"
    "FRAMES 2\n0  0 1 2 3\n10  3 2 1 0\n";

class SceneTest : public EngineTest {
 protected:
  // Loads the mesh, turns it to the start of both angles with the plane through the middle
  // (z = 0), and builds the boundary and the section.
  void CutThroughTheMiddle(std::string_view text) {
    Load(text);
    state.rotationX = 0;
    state.rotationY = 0;
    state.clipDistance = 0;
    engine::UpdateClipPlane();
    engine::GenerateEdgeBuffers();
    engine::GenerateClipBuffers();
  }
};

TEST_F(SceneTest, BoundaryBufferTurnsInwardFacesAndColoursEachCorner) {
  qem::Document& doc = Load(kInwardFace);
  engine::GenerateEdgeBuffers();
  ASSERT_TRUE(state.edgeBuffer);
  ASSERT_EQ(doc.boundaryTriangles.size(), 4u);
  EXPECT_THAT(device.Texts("CreateVertexBuffer"), ElementsAre("CreateVertexBuffer(336, 0x0, 0x52, 1 -> #1)"));
  EXPECT_THAT(device.Texts("VertexBuffer::Lock"), ElementsAre("VertexBuffer::Lock(#1, 0, 0, 0x1000)"));
  const auto vertices = enginetest::Vertices(state.edgeBuffer.get());
  ASSERT_EQ(vertices.size(), 12u);
  for (std::size_t k = 0; k < 4; ++k) {
    const qem::Triangle& t = *doc.boundaryTriangles[k];
    const bool inward = t.a == 0 && t.b == 1 && t.c == 2;
    const std::uint32_t order[3] = {inward ? t.c : t.a, t.b, inward ? t.a : t.c};
    for (int j = 0; j < 3; ++j) {
      const engine::SceneVertex& v = vertices[3 * k + j];
      const qem::Vertex& p = doc.vertices[order[j]];
      EXPECT_EQ(v.x, p.x);
      EXPECT_EQ(v.y, p.y);
      EXPECT_EQ(v.z, p.z);
      // Every corner carries its own vertex's colour (values 0..3 at time 0).
      EXPECT_EQ(v.colour, engine::ValueColour(static_cast<float>(order[j]), 0, 3)) << k << " " << j;
      // The normal points away from the centre (-0.5, -0.5, -0.5).
      const float outward = v.nx * (p.x + 0.5f) + v.ny * (p.y + 0.5f) + v.nz * (p.z + 0.5f);
      EXPECT_GT(outward, 0.0f);
    }
    if (inward) {
      EXPECT_EQ(vertices[3 * k].nz, -1.0f);
    }
  }
}

// Two copies of one tetrahedron share every face: a valid mesh with no boundary at all.
TEST_F(SceneTest, MeshWithoutBoundaryBuildsAnEmptyBufferInsteadOfFailing) {
  const qem::Document& doc = Load(
      "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\nELEMENTS 2\n0 2 1  0 1 3  1 2 3  0 3 2\n"
      "0 2 1  0 1 3  1 2 3  0 3 2\nFRAMES 1\n0  0 1 2 3\n");
  ASSERT_TRUE(doc.boundaryTriangles.empty());
  engine::GenerateEdgeBuffers();
  EXPECT_TRUE(TakeTrace().empty());
  ASSERT_TRUE(state.edgeBuffer);
  EXPECT_EQ(state.edgeTriangleCount, 0u);
  engine::RecolourEdges();
  EXPECT_TRUE(TakeTrace().empty());
}

TEST_F(SceneTest, RecolourRewritesOnlyColours) {
  Load(kInwardFace);
  engine::GenerateEdgeBuffers();
  auto before = enginetest::Vertices(state.edgeBuffer.get());
  state.displayTime = 10;  // values 3 2 1 0: every colour mirrors
  device.ClearLog();
  engine::RecolourEdges();
  EXPECT_THAT(device.Texts(), ElementsAre("VertexBuffer::Lock(#1, 0, 0, 0x0)", "VertexBuffer::Unlock(#1)"));
  const auto after = enginetest::Vertices(state.edgeBuffer.get());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].x, before[i].x);
    EXPECT_EQ(after[i].nz, before[i].nz);
    const auto value =
        static_cast<float>(3 - static_cast<int>(std::lround((before[i].x + 1) / 2 + 2 * ((before[i].y + 1) / 2) +
                                                            3 * ((before[i].z + 1) / 2))));
    EXPECT_EQ(after[i].colour, engine::ValueColour(value, 0, 3)) << i;
  }
}

// A zero-area triangle (three points on a line) has no direction: its normal stays zero
// and its corners keep the file's order.
TEST_F(SceneTest, ZeroAreaTriangleKeepsItsOrderAndAZeroNormal) {
  qem::Document doc;
  doc.vertices = {{0, 0, 0}, {0.5f, 0, 0}, {1, 0, 0}};
  doc.frames.push_back({0, {0, 1, 2}});
  doc.valueMax = 2;
  const qem::Triangle triangle{2, 1, 0};
  qem::Element owner;
  owner.centre = {0.5f, 1, 0};
  doc.boundaryTriangles.push_back(&triangle);
  doc.boundaryElements.push_back(&owner);
  engine::test_seam::InstallDocument(&doc);
  engine::GenerateEdgeBuffers();
  const auto v = enginetest::Vertices(state.edgeBuffer.get());
  ASSERT_EQ(v.size(), 3u);
  const float xs[3] = {1, 0.5f, 0};
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(v[j].x, xs[j]);
    EXPECT_EQ(v[j].nx, 0.0f);
    EXPECT_EQ(v[j].ny, 0.0f);
    EXPECT_EQ(v[j].nz, 0.0f);
  }
  engine::ResetState();
  engine::test_seam::InstallDocument(nullptr);
}

TEST_F(SceneTest, EqualValuesShowEverythingViolet) {
  Load(
      "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\nELEMENTS 1\n0 2 1  0 1 3  1 2 3  0 3 2\n"
      "FRAMES 1\n0  5 5 5 5\n");
  engine::GenerateEdgeBuffers();
  for (const auto& v : enginetest::Vertices(state.edgeBuffer.get())) EXPECT_EQ(v.colour, 0x007F00FFu);
}

TEST_F(SceneTest, BuildAndRecolourFailures) {
  struct Case {
    const char* call;
    bool recolour;
    std::vector<std::string> trace;
    bool bufferExists;
  };
  const Case cases[] = {
      {"CreateVertexBuffer", false, {"Nie można utworzyć bufora wierzchołków do brzegów"_cp}, false},
      {"VertexBuffer::Lock", false, {"Nie można zablokować bufora wierzchołków do brzegów"_cp}, true},
      {"VertexBuffer::Lock", true, {"Nie można zablokować bufora wierzchołków 1"_cp}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + (c.recolour ? " recolour" : " build"));
    engine::ResetState();
    Load(kInwardFace);
    if (c.recolour) engine::GenerateEdgeBuffers();
    device.FailCall(c.call, D3DERR_INVALIDCALL);
    if (c.recolour) {
      engine::RecolourEdges();
    } else {
      engine::GenerateEdgeBuffers();
    }
    const auto trace = TakeTrace();
    // The location line comes first (newest) when the build reports, never for re-colouring.
    ASSERT_EQ(trace.size(), c.recolour ? 2u : 3u);
    std::size_t i = 0;
    if (!c.recolour) {
      // Named after the engine, whichever of its files holds the function.
      EXPECT_THAT(trace[i], ::testing::StartsWith("[Engine,"));
      EXPECT_THAT(trace[i++], ::testing::HasSubstr("engine::GenerateEdgeBuffers()"));
    }
    EXPECT_EQ(trace[i++], c.trace[0]);
    EXPECT_THAT(trace[i], ::testing::StartsWith("(DirectX,"));
    EXPECT_EQ(static_cast<bool>(state.edgeBuffer), c.bufferExists);
  }
}

// The expected calls of one frame of DrawScene (buffers #1 boundary, #2 section vertices,
// #3 section triangles).
std::vector<std::string> ExpectedFrame(bool lighting, bool overlay, bool section, std::uint32_t boundary,
                                       std::uint32_t sectionVertices, std::uint32_t triangles, std::uint32_t lines) {
  const std::string bias0 = "0x0";
  char biasText[16];
  std::snprintf(biasText, sizeof biasText, "0x%X", gfx::FloatToDword(-0.0001f));
  const std::string bias = biasText;
  std::vector<std::string> e = {"SetTransform(256)", "SetTransform(2)", "SetTransform(3)"};
  if (lighting) {
    e.push_back("SetMaterial((1 1 1 1), (1 1 1 1), (1 1 1 1), (0 0 0 0), 10)");
    e.push_back("SetLight(0, 3, (1 1 1 1), (0 0 0 0), (0 0 0 0), (0.3 -0.1 1))");
    e.push_back("LightEnable(0, 1)");
    e.push_back("SetRenderState(137, 0x1)");
  } else {
    e.push_back("SetRenderState(137, 0x0)");
  }
  const std::string n = std::to_string(boundary);
  for (const char* s : {"SetRenderState(22, 0x3)", "SetRenderState(7, 0x1)", "SetRenderState(27, 0x0)",
                        "SetRenderState(60, 0xFFFFFFFF)", "SetRenderState(152, 0x1)", "SetClipPlane(0, (0 0 1 0))",
                        "SetTextureStageState(0, 1, 2)", "SetTextureStageState(0, 4, 2)",
                        "SetTextureStageState(0, 5, 0)", "SetFVF(0x52)", "SetStreamSource(0, #1, 0, 28)",
                        "SetRenderState(195, 0x0)", "SetRenderState(8, 0x3)", "SetTextureStageState(0, 2, 0)"}) {
    e.push_back(s);
  }
  e.push_back("DrawPrimitive(4, 0, " + n + ")");
  if (overlay) {
    e.push_back("SetRenderState(195, " + bias + ")");
    e.push_back("SetRenderState(8, 0x2)");
    e.push_back("SetTextureStageState(0, 2, 3)");
    e.push_back("DrawPrimitive(4, 0, " + n + ")");
  }
  if (section) {
    const std::string count = std::to_string(sectionVertices);
    e.push_back("SetRenderState(152, 0x0)");
    e.push_back("SetStreamSource(0, #2, 0, 28)");
    e.push_back("SetRenderState(195, 0x0)");
    e.push_back("SetRenderState(8, 0x3)");
    e.push_back("SetTextureStageState(0, 2, 0)");
    e.push_back("SetIndices(#3)");
    if (triangles) e.push_back("DrawIndexedPrimitive(4, 0, 0, " + count + ", 0, " + std::to_string(triangles) + ")");
    if (overlay) {
      e.push_back("SetRenderState(195, " + bias + ")");
      e.push_back("SetRenderState(8, 0x2)");
      e.push_back("SetTextureStageState(0, 2, 3)");
      // The outline, drawn over the section's triangles (still set) from its outline codes.
      if (lines) e.push_back("DrawIndexedOutline(0, " + count + ", 0, " + std::to_string(triangles) + ")");
    }
  }
  e.push_back("SetRenderState(195, " + bias0 + ")");
  return e;
}

std::vector<std::string> Frame(const gfx::RecordingDevice& device) {
  std::vector<std::string> out;
  for (const auto& call : device.Log()) {
    out.push_back(call.name == "SetTransform" ? "SetTransform(" + call.args.substr(0, call.args.find(',')) + ")"
                                              : call.Text());
  }
  return out;
}

TEST_F(SceneTest, DrawSceneSetsEveryStateInOrder) {
  struct Case {
    bool lighting, overlay, sectionShown, cut;
  };
  const Case cases[] = {
      {true, true, true, true},  {false, true, true, true},   {true, false, true, true},
      {true, true, false, true}, {false, false, false, true}, {true, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "lighting " << c.lighting << " overlay " << c.overlay << " section "
                                      << c.sectionShown << " cut " << c.cut);
    engine::ResetState();
    gfx::RecordingDevice fresh;
    frame::test_seam::InstallDevice(&fresh);
    CutThroughTheMiddle(enginetest::kCutTetra);
    if (!c.cut) {
      // The plane moves off the mesh: the buffers stay, the counts drop to 0.
      state.clipDistance = engine::kSqrt3;
      engine::UpdateClipPlane();
      engine::GenerateClipBuffers();
    }
    state.lightingOn = c.lighting;
    state.wireOverlayOn = c.overlay;
    state.sectionShown = c.sectionShown;
    fresh.ClearLog();
    engine::DrawScene();
    std::vector<std::string> expected =
        ExpectedFrame(c.lighting, c.overlay, c.sectionShown, 4, c.cut ? 3 : 0, c.cut ? 1 : 0, c.cut ? 3 : 0);
    if (!c.cut) {
      for (auto& line : expected) {
        if (line == "SetClipPlane(0, (0 0 1 0))") line = "SetClipPlane(0, (0 0 1 1.73205))";
      }
    }
    EXPECT_EQ(Frame(fresh), expected);
    if (c.cut && c.overlay && c.sectionShown) {
      // The cut tetrahedron's one triangle: its first corner, no polygon across any edge.
      const auto& outline = fresh.Log()[fresh.Log().size() - 2];
      ASSERT_EQ(outline.name, "DrawIndexedOutline");
      EXPECT_EQ(outline.vertexData, (std::vector<std::uint8_t>{gfx::kOutlineFirst | gfx::kOutlineWhole,
                                                               gfx::kOutlineWhole, gfx::kOutlineWhole}));
    }
    frame::test_seam::InstallDevice(&device);
    engine::ResetState();
  }
}

// One hexagonal prism, leaning so that the plane z = 0 crosses four of its sides and both
// of its ends: a section polygon of eight corners or more, more than the filled outline pass draws.
const char* kLeaningPrism =
    "QEM\nVERTICES 12\n2 0 -2.6\n1 1.732051 -1.8\n-1 1.732051 -0.2\n-2 0 0.6\n-1 -1.732051 -0.2\n1 -1.732051 -1.8\n2 0 "
    "-0.6\n1 1.732051 0.2\n-1 1.732051 1.8\n-2 0 2.6\n-1 -1.732051 1.8\n1 -1.732051 0.2\nELEMENTS 1\n0 1 2  0 2 3  0 3 "
    "4  0 4 5  6 7 8  6 8 9  6 9 10  6 10 11  0 1 7  0 7 6  1 2 8  1 8 7  2 3 9  2 9 8  3 4 10  3 10 9  4 5 11  4 11 "
    "10  5 0 6  5 6 11\n"
    "FRAMES 1\n0  0 1 2 3 4 5 6 7 8 9 10 11\n";

TEST_F(SceneTest, APolygonOfMoreThanSixCornersIsOutlinedByLines) {
  CutThroughTheMiddle(kLeaningPrism);
  // Its sides and ends are written as triangles, so their diagonals add corners in line.
  ASSERT_GT(state.clipLargestPolygon, 6u);
  ASSERT_EQ(state.clipLargestPolygon, state.clipVertexCount);
  device.ClearLog();
  engine::DrawScene();
  const std::vector<std::string> log = Frame(device);
  EXPECT_THAT(log, ::testing::Contains("SetIndices(#4)"));
  EXPECT_THAT(log, ::testing::Contains("DrawIndexedPrimitive(2, 0, 0, " + std::to_string(state.clipVertexCount) +
                                       ", 0, " + std::to_string(state.clipLineCount) + ")"));
  EXPECT_THAT(log, ::testing::Not(::testing::Contains(::testing::StartsWith("DrawIndexedOutline"))));
}

TEST_F(SceneTest, NothingIsDrawnWithoutABoundaryBuffer) {
  Load(enginetest::kCutTetra);
  engine::DrawScene();
  EXPECT_TRUE(device.Log().empty());
}

TEST_F(SceneTest, CullingOffDrawsBothSides) {
  Load(enginetest::kCutTetra);
  engine::GenerateEdgeBuffers();
  state.cullingOn = false;
  engine::DrawScene();
  EXPECT_THAT(device.Texts("SetRenderState"), ::testing::Contains("SetRenderState(22, 0x1)"));
}

}  // namespace
