// The octree (split rule, child table, limits) and boundary extraction (matching rule,
// output order), with the face-grouping search held to the octree search.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "qem/Boundary.h"
#include "qem/Octree.h"
#include "qem/Prepare.h"
#include "qem/QEM.h"
#include "tests/qem/QemTestUtil.h"
#include "tools/qem-generate/Generate.h"

namespace {

using qemtest::Tet;

// A document whose vertices already span the cube -1..1 (two corner vertices that no
// element uses), so preparation leaves every position as given.
struct Cube {
  std::vector<qem::Vertex> vertices = {{-1, -1, -1}, {1, 1, 1}};
  std::vector<std::vector<qem::Triangle>> elements;

  // A small tetrahedron with its lowest corner at (x, y, z) and edges of size s.
  void AddTet(float x, float y, float z, float s) {
    const auto first = static_cast<std::uint32_t>(vertices.size());
    vertices.push_back({x, y, z});
    vertices.push_back({x + s, y, z});
    vertices.push_back({x, y + s, z});
    vertices.push_back({x, y, z + s});
    elements.push_back(Tet(first, first + 1, first + 2, first + 3));
  }

  void Build(qem::Document& doc, qem::LoadControl& control) const {
    qemtest::Fill(doc, vertices, elements, {{0, std::vector<float>(vertices.size(), 0.0f)}});
    qem::PrepareDocument(doc, control);
    qem::BuildOctree(doc, control);
  }
};

std::vector<const qem::OctreeNode*> Nodes(const qem::OctreeNode& root) {
  std::vector<const qem::OctreeNode*> out = {&root};
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i]->children[0]) {
      for (const auto& child : out[i]->children) out.push_back(child.get());
    }
  }
  return out;
}

TEST(QemOctree, NineElementsStayInTheRoot) {
  Cube cube;
  for (int i = 0; i < 9; ++i) cube.AddTet(-0.9f + 0.2f * static_cast<float>(i), 0.5f, 0.5f, 0.05f);
  qem::Document doc;
  qem::LoadControl control;
  cube.Build(doc, control);
  ASSERT_TRUE(doc.octree);
  EXPECT_FALSE(doc.octree->children[0]);
  EXPECT_EQ(doc.octree->elements.size(), 9u);
  // The count goes through the elements.
  EXPECT_EQ(control.progressCount.load(), 9u);
  EXPECT_EQ(control.progressTotal.load(), 9u);
}

TEST(QemOctree, TwelveElementsOverTheOctantsSplitTheRootOnce) {
  Cube cube;
  for (int i = 0; i < 12; ++i) {
    const int octant = i % 8;
    const float x = (octant & 1) ? 0.5f : -0.5f, z = (octant & 2) ? 0.5f : -0.5f, y = (octant & 4) ? 0.5f : -0.5f;
    cube.AddTet(x + 0.1f * static_cast<float>(i / 8), y, z, 0.05f);
  }
  qem::Document doc;
  qem::LoadControl control;
  cube.Build(doc, control);
  const auto nodes = Nodes(*doc.octree);
  EXPECT_EQ(nodes.size(), 9u);
  EXPECT_EQ(control.progressCount.load(), 12u);
  EXPECT_TRUE(doc.octree->elements.empty());
  // Bit 0 upper x, bit 1 upper z, bit 2 upper y: element i went to child i % 8.
  for (int child = 0; child < 8; ++child) {
    const auto& list = doc.octree->children[child]->elements;
    ASSERT_EQ(list.size(), child < 4 ? 2u : 1u) << child;
    EXPECT_EQ(list[0], &doc.elements[child]);
  }
  const qem::OctreeNode& c6 = *doc.octree->children[6];  // lower x, upper z, upper y
  EXPECT_EQ(c6.level, 1);
  EXPECT_FLOAT_EQ(c6.box.min.x, -1.2f);
  EXPECT_FLOAT_EQ(c6.box.max.x, 0.2f);
  EXPECT_FLOAT_EQ(c6.box.min.y, -0.2f);
  EXPECT_FLOAT_EQ(c6.box.min.z, -0.2f);
  EXPECT_FLOAT_EQ(c6.centre.x, -0.5f);
}

TEST(QemOctree, ElementsAcrossTheMiddleStayInTheRoot) {
  Cube cube;
  for (int i = 0; i < 10; ++i) cube.AddTet(-0.5f, -0.9f + 0.1f * static_cast<float>(i), 0.3f, 1.0f);
  qem::Document doc;
  qem::LoadControl control;
  cube.Build(doc, control);
  EXPECT_FALSE(doc.octree->children[0]);
  EXPECT_EQ(doc.octree->elements.size(), 10u);
}

TEST(QemOctree, BorderTouchingAndOverlappingChildren) {
  Cube cube;
  // Boxes reaching exactly to child 0's grown border (x up to 0.2): still child 0.
  for (int i = 0; i < 5; ++i) cube.AddTet(0.1f, -0.9f + 0.1f * static_cast<float>(i), -0.9f, 0.1f);
  // Boxes inside both child 0 and child 1 (x from -0.2 to 0.2): the lower number wins.
  for (int i = 0; i < 5; ++i) cube.AddTet(-0.15f, -0.9f + 0.1f * static_cast<float>(i), -0.5f, 0.1f);
  qem::Document doc;
  qem::LoadControl control;
  cube.Build(doc, control);
  ASSERT_TRUE(doc.octree->children[0]);
  EXPECT_TRUE(doc.octree->elements.empty());
  const auto levels = qem::CountOctreeLevels(doc.octree.get());
  EXPECT_EQ(levels[0], 0u);
  for (const auto& child : doc.octree->children) {
    if (child.get() != doc.octree->children[0].get()) {
      EXPECT_TRUE(Nodes(*child).size() == 1 && child->elements.empty());
    }
  }
}

TEST(QemOctree, NoNodeDeeperThanLevelSix) {
  Cube cube;
  for (int i = 0; i < 200; ++i) cube.AddTet(0.5f + 1e-5f * static_cast<float>(i % 7), 0.5f, 0.5f, 1e-4f);
  qem::Document doc;
  qem::LoadControl control;
  cube.Build(doc, control);
  int deepest = 0;
  std::size_t held = 0;
  for (const auto* node : Nodes(*doc.octree)) {
    deepest = std::max(deepest, node->level);
    held += node->elements.size();
  }
  EXPECT_EQ(deepest, 6);
  EXPECT_EQ(held, 200u);
  const auto levels = qem::CountOctreeLevels(doc.octree.get());
  EXPECT_EQ(levels[6], 200u);
}

TEST(QemOctree, ACancelLeavesThePartialTreeValid) {
  Cube cube;
  for (int i = 0; i < 50; ++i) cube.AddTet(-0.9f + 0.03f * static_cast<float>(i), 0.5f, 0.5f, 0.01f);
  qem::Document doc;
  qem::LoadControl control;
  qemtest::Fill(doc, cube.vertices, cube.elements, {{0, std::vector<float>(cube.vertices.size(), 0.0f)}});
  qem::PrepareDocument(doc, control);
  control.Cancel();
  qem::BuildOctree(doc, control);
  EXPECT_FALSE(doc.octree->children[0]);
  EXPECT_EQ(doc.octree->elements.size(), 50u);
}

// The split written out as one list moved down node by node, every element box taken
// afresh: the tree that BuildOctree must reproduce exactly.
struct ReferenceNode {
  int level = 0;
  qem::Box box;
  std::vector<const qem::Element*> elements;
  std::vector<std::unique_ptr<ReferenceNode>> children;
};

void ReferenceSplit(const qem::Document& doc, ReferenceNode& node) {
  if (node.level > 5 || node.elements.size() < 10) return;
  const qem::Box& b = node.box;
  const float pad = 0.1f * std::max(b.max.x - b.min.x, std::max(b.max.y - b.min.y, b.max.z - b.min.z));
  const qem::Float3 c = {(b.min.x + b.max.x) * 0.5f, (b.min.y + b.max.y) * 0.5f, (b.min.z + b.max.z) * 0.5f};
  for (int i = 0; i < 8; ++i) {
    auto child = std::make_unique<ReferenceNode>();
    child->level = node.level + 1;
    qem::Box octant;
    octant.min = {(i & 1) ? c.x : b.min.x, (i & 4) ? c.y : b.min.y, (i & 2) ? c.z : b.min.z};
    octant.max = {(i & 1) ? b.max.x : c.x, (i & 4) ? b.max.y : c.y, (i & 2) ? b.max.z : c.z};
    child->box = octant.Grow(pad);
    node.children.push_back(std::move(child));
  }
  std::vector<const qem::Element*> kept;
  bool moved = false;
  for (const qem::Element* x : node.elements) {
    const qem::Box e = qem::ElementBox(doc, *x);
    bool placed = false;
    for (auto& child : node.children) {
      const qem::Box& k = child->box;
      if (k.min.x <= e.min.x && k.min.y <= e.min.y && k.min.z <= e.min.z && e.max.x <= k.max.x && e.max.y <= k.max.y &&
          e.max.z <= k.max.z) {
        child->elements.push_back(x);
        placed = moved = true;
        break;
      }
    }
    if (!placed) kept.push_back(x);
  }
  if (!moved) {
    node.children.clear();
    return;
  }
  node.elements = kept;
  for (auto& child : node.children) ReferenceSplit(doc, *child);
}

void ExpectSameTree(const ReferenceNode& want, const qem::OctreeNode& got) {
  ASSERT_EQ(want.level, got.level);
  EXPECT_EQ(want.box.min.x, got.box.min.x);
  EXPECT_EQ(want.box.max.y, got.box.max.y);
  EXPECT_EQ(want.box.min.z, got.box.min.z);
  ASSERT_EQ(want.elements, std::vector<const qem::Element*>(got.elements.begin(), got.elements.end()));
  ASSERT_EQ(want.children.empty(), !got.children[0]);
  for (std::size_t i = 0; i < want.children.size(); ++i) ExpectSameTree(*want.children[i], *got.children[i]);
}

TEST(QemOctree, MatchesTheNodeByNodeSplitOnGeneratedAndRandomMeshes) {
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    qem::Document doc;
    qem::LoadControl control;
    if (round < 3) {
      qemgen::Params params;
      params.nx = 9 + round * 7, params.ny = 6, params.nz = 4 + round, params.frames = 1;
      qem::ParseDocumentText(qemgen::GenerateQem(params), "box", doc, control);
    } else {
      Cube cube;
      std::uniform_real_distribution<float> at(-1, 0.95f);
      std::uniform_real_distribution<float> size(0.001f, round % 2 ? 0.05f : 0.6f);
      for (int i = 0; i < 300 * round; ++i) cube.AddTet(at(random), at(random), at(random), size(random));
      qemtest::Fill(doc, cube.vertices, cube.elements, {{0, std::vector<float>(cube.vertices.size(), 0.0f)}});
    }
    qem::PrepareDocument(doc, control);
    qem::BuildOctree(doc, control);
    ReferenceNode root;
    root.box = {{-1, -1, -1}, {1, 1, 1}};
    for (const auto& e : doc.elements) root.elements.push_back(&e);
    ReferenceSplit(doc, root);
    SCOPED_TRACE(round);
    EXPECT_EQ(control.progressCount.load(), doc.elements.size());
    ExpectSameTree(root, *doc.octree);
  }
}

// ---- Boundary ---------------------------------------------------------------------------

struct Found {
  std::vector<std::pair<std::size_t, std::size_t>> faces;  // (element, triangle) in output order
};

// The (element, triangle) pairs of a document's boundary, in output order.
std::vector<std::pair<std::size_t, std::size_t>> BoundaryPairs(const qem::Document& doc) {
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  EXPECT_EQ(doc.boundaryTriangles.size(), doc.boundaryElements.size());
  for (std::size_t k = 0; k < doc.boundaryTriangles.size(); ++k) {
    const qem::Element* owner = doc.boundaryElements[k];
    const std::size_t e = static_cast<std::size_t>(
        std::find_if(doc.elements.begin(), doc.elements.end(), [&](const qem::Element& x) { return &x == owner; }) -
        doc.elements.begin());
    const std::size_t t = static_cast<std::size_t>(doc.boundaryTriangles[k] - owner->triangles.data);
    EXPECT_LT(t, owner->triangles.size());
    pairs.push_back({e, t});
  }
  return pairs;
}

// The faces held at once by the grouping when a test forces small ranges: one vertex's
// group, a few, and more than any fixture here has.
constexpr std::size_t kFacesPerRange[] = {1, 5, 1u << 30};

// Runs both searches, the grouping with ranges of every size above too, and checks that
// they agree; returns the result.
Found Boundary(const std::vector<qem::Vertex>& vertices, const std::vector<std::vector<qem::Triangle>>& elements) {
  Found result[2 + std::size(kFacesPerRange)];
  for (std::size_t method = 0; method < std::size(result); ++method) {
    qem::Document doc;
    qem::LoadControl control;
    qemtest::Fill(doc, vertices, elements, {{0, std::vector<float>(vertices.size(), 0.0f)}});
    qem::ValidateDocument(doc, control);
    EXPECT_FALSE(control.trace.IsPending());
    qem::PrepareDocument(doc, control);
    qem::BuildOctree(doc, control);
    if (method == 0) {
      qem::FindBoundary(doc, control);
    } else if (method == 1) {
      qem::FindBoundaryInOctree(doc, control);
    } else {
      qem::FindBoundary(doc, control, kFacesPerRange[method - 2]);
    }
    EXPECT_EQ(control.progressCount.load(), elements.size());
    EXPECT_EQ(control.progressTotal.load(), elements.size());
    result[method].faces = BoundaryPairs(doc);
  }
  for (std::size_t method = 1; method < std::size(result); ++method) {
    EXPECT_EQ(result[0].faces, result[method].faces) << method;
  }
  return result[0];
}

const std::vector<qem::Vertex> kFive = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {-1, -1, -1}};

using Pairs = std::vector<std::pair<std::size_t, std::size_t>>;

TEST(QemBoundary, OneTetrahedronIsAllBoundary) {
  EXPECT_EQ(Boundary(kFive, {Tet(0, 1, 2, 3)}).faces, (Pairs{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
}

TEST(QemBoundary, ASharedFaceInAnyOrderIsLeftOutOfBoth) {
  // Tetrahedra 0-1-2-3 and 1-2-3-4 share face 1-2-3, written 1 2 3 and 3 1 2.
  const auto faces =
      Boundary(kFive, {{{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}}, {{3, 1, 2}, {1, 2, 4}, {1, 3, 4}, {2, 3, 4}}})
          .faces;
  EXPECT_EQ(faces, (Pairs{{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {1, 3}}));
}

TEST(QemBoundary, DuplicatedVerticesDoNotShareTheFace) {
  // Vertex 6 sits where vertex 3 does: same positions, different numbers.
  auto vertices = kFive;
  vertices.push_back(vertices[3]);
  EXPECT_EQ(Boundary(vertices, {Tet(0, 1, 2, 3), Tet(4, 1, 2, 6)}).faces.size(), 8u);
}

TEST(QemBoundary, AFaceOfThreeElementsBelongsToNone) {
  // Face 0-1-2 in three tetrahedra with apexes 3, 4 and 5.
  const auto faces = Boundary(kFive, {Tet(0, 1, 2, 3), Tet(0, 1, 2, 4), Tet(0, 1, 2, 5)}).faces;
  EXPECT_EQ(faces.size(), 9u);
  for (const auto& [element, triangle] : faces) EXPECT_NE(triangle, 0u) << element;
}

TEST(QemBoundary, ATriangleTwiceInOneElementIsBoundaryTwice) {
  EXPECT_EQ(Boundary(kFive, {{{0, 1, 2}, {0, 1, 2}, {0, 1, 3}, {1, 2, 3}}}).faces.size(), 4u);
}

TEST(QemBoundary, RepeatedVertexNumbersMatchAnyTriangleHoldingThem) {
  // Element 0's triangle 1 1 2 uses vertices 1 and 2, which element 1's face 1 2 4 holds:
  // not boundary. Its triangle 0 0 0 uses vertex 0, which only element 0 holds: boundary.
  // Element 1's 3 3 1 is held by element 0's 0 1 3, but 0 1 3 is not matched back: a
  // triangle of three different numbers needs all three in the other.
  const auto faces =
      Boundary(kFive, {{{1, 1, 2}, {0, 0, 0}, {0, 1, 3}, {1, 2, 3}}, {{1, 2, 4}, {1, 3, 4}, {2, 3, 4}, {3, 3, 1}}})
          .faces;
  EXPECT_EQ(faces, (Pairs{{0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2}}));
}

TEST(QemBoundary, ACancelStopsAfterTheElementBeingProcessed) {
  qem::Document doc;
  qem::LoadControl control;
  qemtest::Fill(doc, kFive, {Tet(0, 1, 2, 3), Tet(1, 2, 3, 4)}, {{0, std::vector<float>(6, 0.0f)}});
  qem::PrepareDocument(doc, control);
  qem::BuildOctree(doc, control);
  control.Cancel();
  qem::FindBoundary(doc, control);
  EXPECT_EQ(doc.boundaryTriangles.size(), 3u);
  EXPECT_EQ(control.progressCount.load(), 1u);
}

TEST(QemBoundary, GeneratedBoxesHaveTheirSurfaceAsBoundary) {
  for (const bool hex : {false, true}) {
    qemgen::Params params;
    params.nx = 5, params.ny = 3, params.nz = 4, params.frames = 2, params.hexahedra = hex;
    const std::string text = qemgen::GenerateQem(params);
    qem::Document doc;
    qem::LoadControl control;
    qem::ParseDocumentText(text, "box", doc, control);
    qem::ValidateDocument(doc, control);
    ASSERT_FALSE(control.trace.IsPending());
    qem::PrepareDocument(doc, control);
    qem::BuildOctree(doc, control);
    qem::FindBoundary(doc, control);
    const std::size_t surface = 2 * 2 * (5 * 3 + 3 * 4 + 5 * 4);
    EXPECT_EQ(doc.boundaryTriangles.size(), surface) << hex;
    EXPECT_EQ(doc.elements.size(), qemgen::ElementCount(params));
  }
}

// Boxes of several runs of 4096 elements, numbered along x (the generator's order) and
// backwards: grouping in ranges of any size, with the walks skipping the runs that hold no
// face of a range, gives the boundary of one range, and the progress ends at the count.
TEST(QemBoundary, GroupingInRangesOfVerticesGivesTheBoundaryOfOneRange) {
  for (const bool reversed : {false, true}) {
    qemgen::Params params;
    params.nx = 14, params.ny = 9, params.nz = 11, params.frames = 1;
    qem::Document source;
    qem::LoadControl control;
    qem::ParseDocumentText(qemgen::GenerateQem(params), "box", source, control);
    std::vector<qem::Vertex> vertices(source.vertices.begin(), source.vertices.end());
    std::vector<std::vector<qem::Triangle>> elements;
    for (const qem::Element& e : source.elements) elements.emplace_back(e.triangles.begin(), e.triangles.end());
    if (reversed) std::reverse(elements.begin(), elements.end());
    ASSERT_GT(elements.size(), 2 * 4096u);
    std::vector<std::pair<std::size_t, std::size_t>> whole;
    for (const std::size_t facesPerRange : {std::size_t{1} << 30, std::size_t{0}, std::size_t{1}, std::size_t{700}}) {
      qem::Document doc;
      qem::LoadControl c;
      qemtest::Fill(doc, vertices, elements, {{0, std::vector<float>(vertices.size(), 0.0f)}});
      qem::PrepareDocument(doc, c);
      qem::FindBoundary(doc, c, facesPerRange);
      EXPECT_EQ(c.progressCount.load(), elements.size());
      const auto pairs = BoundaryPairs(doc);
      if (whole.empty()) {
        whole = pairs;
        EXPECT_EQ(whole.size(), std::size_t{2 * 2 * (14 * 9 + 9 * 11 + 14 * 11)});
      } else {
        EXPECT_EQ(pairs, whole) << reversed << " " << facesPerRange;
      }
    }
  }
}

TEST(QemBoundary, FaceGroupingAgreesWithTheOctreeOnRandomSoups) {
  std::mt19937 random(12345);
  for (int round = 0; round < 40; ++round) {
    std::uniform_real_distribution<float> position(-5, 5);
    const std::uint32_t vertexCount = 6 + random() % 30;
    std::vector<qem::Vertex> vertices(vertexCount);
    for (auto& v : vertices) v = {position(random), position(random), position(random)};
    std::vector<std::vector<qem::Triangle>> elements;
    const std::size_t elementCount = 1 + random() % 60;
    for (std::size_t e = 0; e < elementCount; ++e) {
      std::uint32_t a = random() % vertexCount, b = random() % vertexCount, c = random() % vertexCount,
                    d = random() % vertexCount;
      auto tet = Tet(a, b, c, d);
      if (random() % 4 == 0) tet.push_back({b, a, b});  // a triangle with a repeated number
      if (random() % 5 == 0) tet.push_back({d, c, a});  // one written twice
      elements.push_back(tet);
    }
    SCOPED_TRACE(round);
    Boundary(vertices, elements);
  }
}

}  // namespace
