#include "gfx/WireEdges.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

using ::testing::ElementsAre;

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
  std::vector<std::uint32_t> edges;
  gfx::UniqueEdgesOfTriangleList(reinterpret_cast<const std::uint8_t*>(soup.data()), sizeof(Vertex), 2, edges);
  // Five edges, not six; each (p, a, b, q). The diagonal, soup vertices 2 -> 0 in the first
  // triangle and 3 -> 4 in the second, has both triangles: (a, b, p) = (2, 0, 1) and
  // (b, a, q) = (0, 2, 5), which is the second triangle (3, 4, 5) by position.
  EXPECT_THAT(edges, ElementsAre(2, 0, 1, 0,  //
                                 0, 1, 2, 1,  //
                                 1, 2, 0, 5,  //
                                 3, 4, 5, 4,  //
                                 4, 5, 3, 5));
}

TEST(WireEdges, IndexedTrianglesShareByVertexNumber) {
  const std::uint32_t indices[6] = {0, 3, 2, 0, 2, 1};
  std::vector<std::uint32_t> edges;
  gfx::UniqueEdgesOfIndexedTriangles(indices, 2, edges);
  EXPECT_THAT(edges, ElementsAre(2, 0, 3, 0,  //
                                 0, 3, 2, 3,  //
                                 3, 2, 0, 1,  //
                                 0, 2, 1, 2,  //
                                 2, 1, 0, 1));

  // Neighbours of opposite orientation (edge 0 -> 1 in both) keep an edge each, since
  // each may be culled on its own; no shared numbers at all: six edges.
  const std::uint16_t cases[2][6] = {{0, 1, 2, 0, 1, 3}, {0, 1, 2, 3, 4, 5}};
  for (const auto& c : cases) {
    edges.clear();
    gfx::UniqueEdgesOfIndexedTriangles(c, 2, edges);
    EXPECT_EQ(edges.size(), 24u);
  }
  edges.clear();
  gfx::UniqueEdgesOfIndexedTriangles(cases[0], 0, edges);
  EXPECT_TRUE(edges.empty());
}

}  // namespace
