#include "engine/ClipSection.h"

#include <gmock/gmock.h>

#include <set>

#include "Common_Code/Cp1250.h"
#include "engine/Colour.h"
#include "tests/engine/EngineTestUtil.h"
#include "tools/qem-generate/Generate.h"

namespace {

using enginetest::EngineTest;
using enginetest::TakeTrace;
using engine::state;
using ::testing::ElementsAre;

class ClipSectionTest : public EngineTest {
 protected:
  // No rotation, the plane z = -distance in model coordinates.
  void Cut(float distance) {
    state.rotationX = 0;
    state.rotationY = 0;
    state.clipDistance = distance;
    engine::UpdateClipPlane();
    engine::GenerateClipBuffers();
  }
};

TEST_F(ClipSectionTest, TetrahedronIsCutAtTheMidpointsOfItsThreeRisingEdges) {
  qem::Document& doc = Load(enginetest::kCutTetra);
  Cut(0);
  EXPECT_EQ(TakeTrace(), std::vector<std::string>{});
  EXPECT_EQ(state.clipVertexCount, 3u);
  EXPECT_EQ(state.clipTriangleCount, 1u);
  EXPECT_EQ(state.clipLineCount, 3u);
  EXPECT_THAT(device.Texts("CreateVertexBuffer"), ElementsAre("CreateVertexBuffer(84, 0x0, 0x52, 1 -> #1)"));
  EXPECT_THAT(device.Texts("CreateIndexBuffer"),
              ElementsAre("CreateIndexBuffer(6, 0x0, 101, 1 -> #2)", "CreateIndexBuffer(14, 0x0, 101, 1 -> #3)"));
  ASSERT_EQ(state.clipSources.size(), 3u);
  std::set<std::uint32_t> ends;
  for (const auto& source : state.clipSources) {
    EXPECT_EQ(source.vertexA, 0u);
    EXPECT_FLOAT_EQ(source.fraction, 0.5f);
    ends.insert(source.vertexB);
  }
  EXPECT_EQ(ends, (std::set<std::uint32_t>{1, 2, 3}));
  // Sorted around s = (0, 0, -1) from the point on edge 0-1: (-0.5, 0.5), (0.5, 0), (-0.5, -0.5).
  const auto v = enginetest::Vertices(state.clipVertexBuffer.get());
  ASSERT_EQ(v.size(), 3u);
  const float expected[3][2] = {{-0.5f, 0.5f}, {0.5f, 0}, {-0.5f, -0.5f}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(v[i].x, expected[i][0]);
    EXPECT_FLOAT_EQ(v[i].y, expected[i][1]);
    EXPECT_EQ(v[i].z, 0.0f);
    EXPECT_EQ(v[i].nz, -1.0f);
    const auto& s = state.clipSources[i];
    EXPECT_EQ(v[i].colour, engine::LerpColour(engine::ValueColour(doc, doc.ValueAt(s.vertexA, 0)),
                                              engine::ValueColour(doc, doc.ValueAt(s.vertexB, 0)), s.fraction));
  }
  EXPECT_EQ(v[0].colour >> 24, 0xFFu);
  EXPECT_THAT(enginetest::Indices(state.clipIndexBuffer.get()), ElementsAre(0, 1, 2));
  EXPECT_THAT(enginetest::Indices(state.clipWireBuffer.get()), ElementsAre(0, 1, 1, 2, 2, 0, 0));
}

TEST_F(ClipSectionTest, PlaneThroughAVertexRecordsItOnce) {
  // z = 1 - 2/3 ... simpler: the plane z = 1 passes through vertices 1, 2 and 3; the three
  // edges from vertex 0 meet it at those vertices, the others lie in it (k = 0).
  Load(enginetest::kCutTetra);
  Cut(-1);
  EXPECT_EQ(state.clipVertexCount, 3u);
  // Plane through vertex 0 only: every edge from 0 is cut at 0 itself, one point, no polygon.
  Cut(1);
  EXPECT_EQ(state.clipVertexCount, 0u);
  EXPECT_EQ(state.clipTriangleCount, 0u);
}

TEST_F(ClipSectionTest, PlaneOffTheMeshCreatesNothing) {
  Load(enginetest::kCutTetra);
  Cut(engine::kSqrt3);
  EXPECT_EQ(state.clipVertexCount, 0u);
  EXPECT_TRUE(device.Texts("CreateVertexBuffer").empty());
  EXPECT_TRUE(device.Texts("CreateIndexBuffer").empty());
  EXPECT_FALSE(state.clipIndexBuffer);
}

TEST_F(ClipSectionTest, BuffersOnlyGrow) {
  // Two cubes of six tetrahedra side by side; the plane z = 0 first cuts through them,
  // then a rotation makes a larger section, then the plane returns.
  Load(qemgen::GenerateQem({2, 1, 1, 1, 1.0f, false}));
  Cut(0);
  const auto firstVertices = state.clipVertexCount;
  ASSERT_GT(firstVertices, 0u);
  EXPECT_EQ(state.clipVertexCapacity, firstVertices + firstVertices / 4);
  const auto creates = device.Texts("CreateVertexBuffer").size();
  Cut(0.2f);
  Cut(0);
  EXPECT_EQ(device.Texts("CreateVertexBuffer").size(), creates);
  EXPECT_EQ(device.Texts("CreateIndexBuffer").size(), 2u);
}

TEST_F(ClipSectionTest, BuildFailuresNameTheirBuffer) {
  struct Case {
    const char* call;
    int occurrence;
    std::string message;
  };
  const Case cases[] = {
      {"CreateVertexBuffer", 1, "Nie można utworzyć bufora wierzchołków obcięcia"_cp},
      {"CreateIndexBuffer", 1, "Nie można utworzyć bufora indeksów obcięcia"_cp},
      {"CreateIndexBuffer", 2, "Nie można utworzyć bufora indeksów obcięcia szkieletowego"_cp},
      {"VertexBuffer::Lock", 1, "Nie można zablokować bufora wierzchołków obcięcia 1"_cp},
      {"IndexBuffer::Lock", 1, "Nie można zablokować bufora indeksów obcięcia"_cp},
      {"IndexBuffer::Lock", 2, "Nie można zablokować bufora indeksów obcięcia szkieletowego"_cp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    engine::ResetState();
    gfx::RecordingDevice fresh;
    frame::test_seam::InstallDevice(&fresh);
    Load(enginetest::kCutTetra);
    fresh.FailCall(c.call, E_FAIL, c.occurrence);
    Cut(0);
    const auto trace = TakeTrace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_THAT(trace[0], ::testing::HasSubstr("engine::GenerateClipBuffers()"));
    EXPECT_EQ(trace[1], c.message);
    EXPECT_THAT(trace[2], ::testing::StartsWith("(DirectX,"));
    // Nothing stays locked, nothing is created after the failure.
    if (state.clipVertexBuffer) {
      EXPECT_FALSE(static_cast<gfx::RecordingVertexBuffer*>(state.clipVertexBuffer.get())->locked);
    }
    for (const auto* buffer : {state.clipIndexBuffer.get(), state.clipWireBuffer.get()}) {
      if (buffer) {
        EXPECT_FALSE(static_cast<const gfx::RecordingIndexBuffer*>(buffer)->locked);
      }
    }
    // A later build with the device healthy again works and recolouring stays in bounds.
    Cut(0);
    EXPECT_EQ(TakeTrace(), std::vector<std::string>{});
    EXPECT_TRUE(state.clipVertexBuffer && state.clipIndexBuffer && state.clipWireBuffer);
    engine::RecolourSection();
    EXPECT_EQ(TakeTrace(), std::vector<std::string>{});
    engine::ResetState();
    frame::test_seam::InstallDevice(&device);
  }
}

TEST_F(ClipSectionTest, RecolourFollowsTheDisplayTime) {
  qem::Document& doc = Load(enginetest::kCutTetra);
  Cut(0);
  state.displayTime = 10;
  device.ClearLog();
  engine::RecolourSection();
  EXPECT_THAT(device.Texts(), ElementsAre("VertexBuffer::Lock(#1, 0, 0, 0x0)", "VertexBuffer::Unlock(#1)"));
  const auto v = enginetest::Vertices(state.clipVertexBuffer.get());
  for (int i = 0; i < 3; ++i) {
    const auto& s = state.clipSources[i];
    EXPECT_EQ(v[i].colour, engine::LerpColour(engine::ValueColour(doc, doc.ValueAt(s.vertexA, 10)),
                                              engine::ValueColour(doc, doc.ValueAt(s.vertexB, 10)), s.fraction));
  }
  device.FailCall("VertexBuffer::Lock", E_FAIL);
  engine::RecolourSection();
  const auto trace = TakeTrace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0], "Nie można zablokować bufora wierzchołków obcięcia 1"_cp);
}

TEST_F(ClipSectionTest, DraggingClampsTheDistance) {
  Load(enginetest::kCutTetra);
  state.documentReady = true;
  for (int i = 0; i < 20; ++i) engine::MoveClipPlane(-200, -100);
  EXPECT_EQ(state.clipDistance, -engine::kSqrt3);
  EXPECT_EQ(state.clipPlane.d, -engine::kSqrt3);
  for (int i = 0; i < 20; ++i) engine::MoveClipPlane(300, 100);
  EXPECT_EQ(state.clipDistance, engine::kSqrt3);
  engine::MoveClipPlane(-500, 0);
  EXPECT_FLOAT_EQ(state.clipDistance, engine::kSqrt3 - 0.5f);
}

// A section of more than 65 536 vertices switches to 32-bit indices and addresses every
// vertex: 64 x 64 cubes of one middle layer, each cut through its six tetrahedra.
TEST_F(ClipSectionTest, LargeSectionUsesThirtyTwoBitIndices) {
  Load(qemgen::GenerateQem({64, 64, 3, 1, 1.0f, false}));
  Cut(0);
  EXPECT_EQ(TakeTrace(), std::vector<std::string>{});
  ASSERT_GT(state.clipVertexCount, 65536u);
  EXPECT_EQ(state.clipIndexBuffer->Format(), gfx::D3DFMT_INDEX32);
  EXPECT_EQ(state.clipWireBuffer->Format(), gfx::D3DFMT_INDEX32);
  const auto triangles = enginetest::Indices(state.clipIndexBuffer.get());
  ASSERT_GE(triangles.size(), state.clipTriangleCount * 3u);
  std::uint32_t largest = 0;
  for (std::uint32_t i = 0; i < state.clipTriangleCount * 3; ++i) largest = std::max(largest, triangles[i]);
  EXPECT_EQ(largest, state.clipVertexCount - 1);
  // The engine cut this with two threads: one thread gives the very same section.
  engine::SectionGeometry one, two;
  const engine::Plane P = engine::ModelClipPlane();
  engine::CutDocument(state.sectionIndex, *document, P, {-P.a, -P.b, -P.c}, one, 1);
  engine::CutDocument(state.sectionIndex, *document, P, {-P.a, -P.b, -P.c}, two, 2);
  EXPECT_EQ(one.positions, two.positions);
  EXPECT_EQ(one.triangles, two.triangles);
  EXPECT_EQ(one.outline, two.outline);
  ASSERT_EQ(one.sources.size(), two.sources.size());
  for (std::size_t i = 0; i < one.sources.size(); ++i) {
    EXPECT_EQ(one.sources[i].vertexB, two.sources[i].vertexB);
  }
  EXPECT_EQ(one.positions.size(), state.clipVertexCount);
  // A small section afterwards keeps the 32-bit buffers.
  Cut(engine::kSqrt3);
  EXPECT_EQ(state.clipIndexBuffer->Format(), gfx::D3DFMT_INDEX32);
}

// The point tolerance is the document's margin in normalised units: a mesh in large file
// units (a 1000-unit cube) still yields its cut points, and a tiny one does not merge
// distinct points.
TEST_F(ClipSectionTest, ToleranceIsInNormalisedUnits) {
  for (float size : {1000.0f, 0.001f}) {
    SCOPED_TRACE(size);
    engine::ResetState();
    Load(qemgen::GenerateQem({3, 3, 3, 1, size, false}));
    Cut(0.1f);
    const auto vertices = state.clipVertexCount;
    EXPECT_GT(vertices, 0u);
    engine::ResetState();
    Load(qemgen::GenerateQem({3, 3, 3, 1, 1.0f, false}));
    Cut(0.1f);
    EXPECT_EQ(state.clipVertexCount, vertices);
  }
}

}  // namespace
