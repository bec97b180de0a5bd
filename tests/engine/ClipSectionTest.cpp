#include "engine/ClipSection.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "Common_Code/Cp1250.h"
#include "engine/Colour.h"
#include "tests/engine/EngineTestUtil.h"
#include "tools/qem-generate/Generate.h"

namespace {

using engine::state;
using enginetest::EngineTest;
using enginetest::TakeTrace;
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
    // The engine's location lines name the engine, whichever file holds the function.
    EXPECT_THAT(trace[0], ::testing::StartsWith("[Engine,"));
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

// ---------------------------------------------------------------------------------------
// The section against a reference cut written out plainly, and its watertightness.

// Vertex numbers of one cut point: an edge (a < b) or a vertex on the plane (a == b).
using PointKey = std::pair<std::uint32_t, std::uint32_t>;

// The world position of model point p turned as the engine turns the mesh: about y by
// rotationY, then about x by rotationX (row vectors, left-handed), in double.
std::array<double, 3> ToWorld(double x, double y, double z) {
  const double cy = std::cos(double{state.rotationY}), sy = std::sin(double{state.rotationY});
  const double cx = std::cos(double{state.rotationX}), sx = std::sin(double{state.rotationX});
  const double x1 = x * cy + z * sy, z1 = z * cy - x * sy;  // about y
  return {x1, y * cx - z1 * sx, y * sx + z1 * cx};          // about x
}

double WorldPlaneValue(double x, double y, double z) {
  const auto w = ToWorld(x, y, z);
  const auto& P = state.clipPlane;
  return P.a * w[0] + P.b * w[1] + P.c * w[2] + P.d;
}

// One drawn polygon of the section: its vertex range in the buffers.
struct Polygon {
  std::uint32_t first, count;
};

// The polygons of the built section, from its outline: each closes back to its first vertex.
std::vector<Polygon> BuiltPolygons() {
  const auto outline = enginetest::Indices(state.clipWireBuffer.get());
  std::vector<Polygon> polygons;
  for (std::uint32_t i = 0; i + 1 < 2 * state.clipLineCount; i += 2) {
    if (outline[i + 1] < outline[i]) polygons.push_back({outline[i + 1], outline[i] - outline[i + 1] + 1});
  }
  return polygons;
}

PointKey KeyOf(const engine::SectionSource& source) {
  return {std::min(source.vertexA, source.vertexB), std::max(source.vertexA, source.vertexB)};
}

// The area of the polygon where plane P meets the box from lo to hi, in double: the cut
// points of the box's twelve edges in angular order.
double BoxCutArea(const engine::Plane& P, const qem::Vertex& lo, const qem::Vertex& hi) {
  std::vector<std::array<double, 3>> points;
  auto corner = [&](int bits) {
    return std::array<double, 3>{bits & 1 ? hi.x : lo.x, bits & 2 ? hi.y : lo.y, bits & 4 ? hi.z : lo.z};
  };
  auto value = [&](const std::array<double, 3>& p) { return P.a * p[0] + P.b * p[1] + P.c * p[2] + P.d; };
  for (int a = 0; a < 8; ++a) {
    for (int bit = 1; bit < 8; bit <<= 1) {
      if (a & bit) continue;
      const auto p = corner(a), q = corner(a | bit);
      const double hp = value(p), hq = value(q);
      if ((hp < 0) == (hq < 0)) continue;
      const double t = hp / (hp - hq);
      points.push_back({p[0] + (q[0] - p[0]) * t, p[1] + (q[1] - p[1]) * t, p[2] + (q[2] - p[2]) * t});
    }
  }
  if (points.size() < 3) return 0;
  std::array<double, 3> c{0, 0, 0};
  for (const auto& p : points) {
    for (int k = 0; k < 3; ++k) c[k] += p[k] / static_cast<double>(points.size());
  }
  // Two directions in the plane.
  const double n[3] = {P.a, P.b, P.c};
  double u[3] = {points[0][0] - c[0], points[0][1] - c[1], points[0][2] - c[2]};
  const double v[3] = {n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2], n[0] * u[1] - n[1] * u[0]};
  std::sort(points.begin(), points.end(), [&](const auto& p, const auto& q) {
    auto at = [&](const auto& r) {
      const double d[3] = {r[0] - c[0], r[1] - c[1], r[2] - c[2]};
      return std::atan2(d[0] * v[0] + d[1] * v[1] + d[2] * v[2], d[0] * u[0] + d[1] * u[1] + d[2] * u[2]);
    };
    return at(p) < at(q);
  });
  double area = 0;
  for (std::size_t i = 1; i + 1 < points.size(); ++i) {
    const double a[3] = {points[i][0] - points[0][0], points[i][1] - points[0][1], points[i][2] - points[0][2]};
    const double b[3] = {points[i + 1][0] - points[0][0], points[i + 1][1] - points[0][1],
                         points[i + 1][2] - points[0][2]};
    area += std::sqrt(std::pow(a[1] * b[2] - a[2] * b[1], 2) + std::pow(a[2] * b[0] - a[0] * b[2], 2) +
                      std::pow(a[0] * b[1] - a[1] * b[0], 2)) /
            2;
  }
  return area;
}

class SectionReferenceTest : public ClipSectionTest {
 protected:
  // The cut points of every element by every edge of its triangles, nothing skipped, from
  // the plane's values in world space; one sorted key list per element with three or more.
  // Planes passing within margin of a vertex are not used (false): the two computations
  // round differently there.
  bool ReferenceCut(std::multiset<std::vector<PointKey>>& polygons) {
    std::vector<double> h(document->vertices.size());
    for (std::size_t v = 0; v < h.size(); ++v) {
      const auto& p = document->vertices[v];
      h[v] = WorldPlaneValue(p.x, p.y, p.z);
      if (std::fabs(h[v]) < 1e-4) return false;
    }
    for (const qem::Element& element : document->elements) {
      std::set<PointKey> keys;
      for (const qem::Triangle& t : element.triangles) {
        const std::uint32_t edges[3][2] = {{t.a, t.b}, {t.b, t.c}, {t.c, t.a}};
        for (const auto& e : edges) {
          if ((h[e[0]] < 0) != (h[e[1]] < 0)) keys.insert({std::min(e[0], e[1]), std::max(e[0], e[1])});
        }
      }
      if (keys.size() >= 3) polygons.insert(std::vector<PointKey>(keys.begin(), keys.end()));
    }
    return true;
  }

  // The built section checked against the reference at the current rotation and plane:
  // the same polygons, every vertex on the clip plane in world space, every colour the
  // blend of its edge's end colours at its place along the edge.
  void CompareWithReference() {
    std::multiset<std::vector<PointKey>> expected;
    if (!ReferenceCut(expected)) return;
    engine::GenerateClipBuffers();
    ASSERT_EQ(TakeTrace(), std::vector<std::string>{});
    ++compared;
    std::multiset<std::vector<PointKey>> built;
    if (state.clipVertexCount > 0) {
      const auto vertices = enginetest::Vertices(state.clipVertexBuffer.get());
      for (const Polygon& polygon : BuiltPolygons()) {
        std::vector<PointKey> keys;
        for (std::uint32_t i = polygon.first; i < polygon.first + polygon.count; ++i) {
          keys.push_back(KeyOf(state.clipSources[i]));
        }
        std::sort(keys.begin(), keys.end());
        built.insert(keys);
      }
      for (std::uint32_t i = 0; i < state.clipVertexCount; ++i) {
        const auto& q = vertices[i];
        ASSERT_NEAR(WorldPlaneValue(q.x, q.y, q.z), 0.0, 2e-6) << "vertex " << i;
        const auto key = KeyOf(state.clipSources[i]);
        const auto& a = document->vertices[key.first];
        const auto& b = document->vertices[key.second];
        const double length = std::hypot(b.x - a.x, b.y - a.y, b.z - a.z);
        const double along = key.first == key.second ? 0 : std::hypot(q.x - a.x, q.y - a.y, q.z - a.z) / length;
        const std::uint32_t expectedColour =
            engine::LerpColour(Colour(key.first), Colour(key.second), static_cast<float>(along));
        for (int shift = 0; shift < 24; shift += 8) {
          const int got = static_cast<int>((q.colour >> shift) & 0xFF);
          const int want = static_cast<int>((expectedColour >> shift) & 0xFF);
          ASSERT_NEAR(got, want, 2) << "vertex " << i << " channel " << shift << " at " << along;
        }
      }
    }
    EXPECT_EQ(built, expected);
  }

  std::uint32_t Colour(std::uint32_t vertex) {
    return engine::ValueColour(*document, document->ValueAt(vertex, state.displayTime));
  }

  int compared = 0;
};

// Many planes and rotations through regular, jittered and hexahedral boxes, at a time
// between frames so that the colours change along every edge.
TEST_F(SectionReferenceTest, SectionIsTheReferenceCutOfEveryElement) {
  qemgen::Params regular{5, 4, 3, 3, 1.0f, false, 0.0f};
  qemgen::Params jittered{6, 5, 4, 3, 1.0f, false, 0.2f};
  qemgen::Params hexahedra{4, 3, 3, 3, 1.0f, true, 0.15f};
  std::mt19937 random(12345);
  std::uniform_real_distribution<float> angle(0.0f, engine::kTwoPi), distance(-0.9f, 0.9f);
  for (const auto& params : {regular, jittered, hexahedra}) {
    SCOPED_TRACE(std::to_string(params.nx) + (params.hexahedra ? " hexahedra" : " tetrahedra") + " jitter " +
                 std::to_string(params.jitter));
    engine::ResetState();
    Load(qemgen::GenerateQem(params));
    state.displayTime = 0.13f;
    for (int i = 0; i < 40; ++i) {
      state.rotationX = angle(random);
      state.rotationY = angle(random);
      state.clipDistance = distance(random);
      engine::UpdateClipPlane();
      CompareWithReference();
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(compared, 100);
}

// Planes at the mesh's reach: a plane just inside a corner cuts what the reference cuts, one
// just outside cuts nothing, and the start-up plane builds no section index at all.
TEST_F(SectionReferenceTest, PlanesAtTheMeshsReachCutAllTheyTouch) {
  Load(qemgen::GenerateQem({3, 3, 3, 1, 1.0f, false, 0.0f}));
  state.clipDistance = engine::kSqrt3;
  engine::UpdateClipPlane();
  engine::GenerateClipBuffers();
  EXPECT_EQ(state.clipVertexCount, 0u);
  EXPECT_EQ(state.sectionIndex.document, nullptr);

  std::mt19937 random(4242);
  std::uniform_real_distribution<float> angle(0.0f, engine::kTwoPi);
  int cornersCut = 0;
  for (int round = 0; round < 20; ++round) {
    state.rotationX = angle(random);
    state.rotationY = angle(random);
    state.clipDistance = 0;
    engine::UpdateClipPlane();
    const engine::Plane centred = engine::ModelClipPlane();
    const float reach = std::fabs(centred.a) + std::fabs(centred.b) + std::fabs(centred.c);
    for (const float at : {-1.001f, -0.999f, 0.999f, 1.001f}) {
      state.clipDistance = at * reach;
      engine::UpdateClipPlane();
      engine::GenerateClipBuffers();
      ASSERT_EQ(TakeTrace(), std::vector<std::string>{});
      const engine::Plane P = engine::ModelClipPlane();
      engine::SectionIndex index;
      engine::BuildSectionIndex(*document, index);
      engine::SectionGeometry reference;
      engine::CutDocument(index, *document, P, engine::Vec3{-P.a, -P.b, -P.c}, reference);
      EXPECT_EQ(state.clipVertexCount, reference.positions.size()) << round << " at " << at;
      cornersCut += reference.positions.empty() ? 0 : 1;
    }
  }
  EXPECT_GE(cornersCut, 20) << "the planes just inside a corner cut it";
}

// The plane's area through a jittered box is covered exactly: the polygons' areas add up to
// the area of the plane's cut through the box, every vertex of the same edge or mesh vertex
// has the same bits in every polygon, and every polygon side inside the box is the side of
// exactly one other polygon.
TEST_F(SectionReferenceTest, JitteredSectionHasNoGap) {
  Load(qemgen::GenerateQem({7, 6, 5, 1, 1.0f, false, 0.24f}));
  const auto& lo = document->vertices.front();
  const auto& hi = document->vertices.back();
  std::mt19937 random(777);
  std::uniform_real_distribution<float> angle(0.0f, engine::kTwoPi), distance(-0.6f, 0.6f);
  for (int round = 0; round < 30; ++round) {
    state.rotationX = angle(random);
    state.rotationY = angle(random);
    state.clipDistance = distance(random);
    engine::UpdateClipPlane();
    engine::GenerateClipBuffers();
    ASSERT_EQ(TakeTrace(), std::vector<std::string>{});
    if (state.clipVertexCount == 0) continue;
    const auto vertices = enginetest::Vertices(state.clipVertexBuffer.get());
    const engine::Plane P = engine::ModelClipPlane();
    // Exact corners.
    std::map<PointKey, std::array<float, 3>> at;
    for (std::uint32_t i = 0; i < state.clipVertexCount; ++i) {
      const std::array<float, 3> q{vertices[i].x, vertices[i].y, vertices[i].z};
      const auto [known, fresh] = at.emplace(KeyOf(state.clipSources[i]), q);
      ASSERT_EQ(std::memcmp(known->second.data(), q.data(), sizeof q), 0) << "vertex " << i;
    }
    // Areas, in double.
    double area = 0;
    std::map<std::pair<PointKey, PointKey>, int> sides;
    for (const Polygon& polygon : BuiltPolygons()) {
      const auto& o = vertices[polygon.first];
      for (std::uint32_t k = 1; k + 1 < polygon.count; ++k) {
        const auto& b = vertices[polygon.first + k];
        const auto& c = vertices[polygon.first + k + 1];
        const double u[3] = {b.x - o.x, b.y - o.y, double{b.z} - o.z};
        const double v[3] = {c.x - o.x, c.y - o.y, double{c.z} - o.z};
        const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        // Signed along the plane's normal: a polygon wound the wrong way would subtract.
        area += (n[0] * -P.a + n[1] * -P.b + n[2] * -P.c) / 2;
      }
      for (std::uint32_t k = 0; k < polygon.count; ++k) {
        auto a = KeyOf(state.clipSources[polygon.first + k]);
        auto b = KeyOf(state.clipSources[polygon.first + (k + 1) % polygon.count]);
        ++sides[{std::min(a, b), std::max(a, b)}];
      }
    }
    EXPECT_NEAR(area, BoxCutArea(P, lo, hi), 1e-5 * BoxCutArea(P, lo, hi) + 1e-9) << "round " << round;
    auto onBoxFace = [&](const PointKey& key) {
      const auto& q = at[key];
      const float l[3] = {lo.x, lo.y, lo.z}, h[3] = {hi.x, hi.y, hi.z};
      for (int axis = 0; axis < 3; ++axis) {
        if (std::fabs(q[axis] - l[axis]) < 1e-5f || std::fabs(q[axis] - h[axis]) < 1e-5f) return true;
      }
      return false;
    };
    for (const auto& [side, count] : sides) {
      if (count == 2) continue;
      EXPECT_EQ(count, 1);
      // A side of one polygon only lies on the box's surface.
      EXPECT_TRUE(onBoxFace(side.first) && onBoxFace(side.second)) << "round " << round;
    }
  }
}

}  // namespace
