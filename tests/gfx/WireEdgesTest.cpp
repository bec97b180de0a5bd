#include "gfx/WireEdges.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>

namespace {

using ::testing::ElementsAre;

// Edges as unordered pairs of positions (x, y) for easy comparison.
using Point = std::pair<float, float>;

struct Vertex {  // the 28-byte scene vertex
  float x, y, z, nx, ny, nz;
  std::uint32_t colour;
};

// A square split along its diagonal, written as a triangle soup (each triangle has its own
// three vertices), as the boundary buffer holds it:
//   3---2
//   | / |
//   0---1      triangles (0, 3, 2) and (0, 2, 1): the diagonal 0-2 is shared.
std::vector<Vertex> Square() {
  const Vertex v[4] = {{0, 0, 0, 0, 0, -1, 0xFF0000FF},
                       {1, 0, 0, 0, 0, -1, 0xFF00FF00},
                       {1, 1, 0, 0, 0, -1, 0xFFFF0000},
                       {0, 1, 0, 0, 0, -1, 0xFFFFFFFF}};
  return {v[0], v[3], v[2], v[0], v[2], v[1]};
}

TEST(WireEdges, SharedEdgeOfATriangleSoupIsDrawnOnce) {
  auto soup = Square();
  soup[3].colour = 0x12345678;  // colours differ at shared corners: positions decide
  std::vector<std::uint32_t> lines;
  gfx::UniqueEdgesOfTriangleList(reinterpret_cast<const std::uint8_t*>(soup.data()), sizeof(Vertex), 2, lines);
  ASSERT_EQ(lines.size(), 10u);  // five edges, not six
  std::set<std::set<Point>> edges;
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    ASSERT_LT(lines[i], 6u);
    ASSERT_LT(lines[i + 1], 6u);
    const Vertex& a = soup[lines[i]];
    const Vertex& b = soup[lines[i + 1]];
    edges.insert({Point{a.x, a.y}, Point{b.x, b.y}});
  }
  EXPECT_EQ(edges.size(), 5u);
  EXPECT_TRUE(edges.count({Point{0, 0}, Point{1, 1}}));
  // The first triangle's edges come first, in its own order.
  EXPECT_THAT(std::vector<std::uint32_t>(lines.begin(), lines.begin() + 6), ElementsAre(0, 1, 1, 2, 2, 0));
}

TEST(WireEdges, IndexedTrianglesShareByVertexNumber) {
  const std::uint32_t indices[6] = {0, 3, 2, 0, 2, 1};
  std::vector<std::uint32_t> lines;
  gfx::UniqueEdgesOfIndexedTriangles(indices, 2, lines);
  EXPECT_THAT(lines, ElementsAre(0, 3, 3, 2, 2, 0, 2, 1, 1, 0));

  const std::uint16_t apart[6] = {0, 1, 2, 3, 4, 5};  // no shared numbers: six edges
  lines.clear();
  gfx::UniqueEdgesOfIndexedTriangles(apart, 2, lines);
  EXPECT_EQ(lines.size(), 12u);
  lines.clear();
  gfx::UniqueEdgesOfIndexedTriangles(apart, 0, lines);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
