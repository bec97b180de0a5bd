#include "gfx/WireEdges.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "gfx/Math.h"

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

// Each triangle with the far corners of its neighbours: the square's diagonal pairs soup
// corner 2 -> 0 of the first triangle with 3 -> 4 of the second; the other edges have no
// neighbour and repeat their first corner.
TEST(WireEdges, AdjacencyGivesTheFarCornerAcrossEachEdge) {
  auto soup = Square();
  std::vector<std::uint32_t> triangles;
  gfx::AdjacencyOfTriangleList(reinterpret_cast<const std::uint8_t*>(soup.data()), sizeof(Vertex), 2, triangles);
  EXPECT_THAT(triangles, ElementsAre(0, 0, 1, 1, 2, 5,  //
                                     3, 1, 4, 4, 5, 5));
  triangles.clear();
  gfx::AdjacencyOfTriangleList(reinterpret_cast<const std::uint8_t*>(soup.data()), sizeof(Vertex), 0, triangles);
  EXPECT_TRUE(triangles.empty());
}

// The wireframe decides whether a neighbour is culled from its plane and the camera's
// centre: their product must have the sign of the triangle's winding on screen, whatever
// the side the camera looks from, for perspective and orthographic projections.
TEST(WireEdges, PlaneAndCameraGiveTheWindingOnScreen) {
  using namespace gfx;
  const float u[4] = {1, 2, 0, -1}, v[4] = {0, 1, 3, 2}, w[4] = {2, 0, 1, 1}, z[4] = {1, 1, 1, 5};
  float c[4];
  gfx::Cross4(u, v, w, c);
  // det of the rows u, v, w, z, expanded by hand.
  EXPECT_FLOAT_EQ(c[0] * z[0] + c[1] * z[1] + c[2] * z[2] + c[3] * z[3], 60.0f);

  D3DXMATRIX perspective, ortho, view, whole;
  D3DXMatrixPerspectiveFovLH(&perspective, 0.8f, 4.0f / 3.0f, 0.1f, 100.0f);
  D3DXMatrixOrthoLH(&ortho, 4, 3, 0.1f, 100.0f);
  const D3DXVECTOR3 up{0, 1, 0}, at{0.2f, -0.1f, 0.3f};
  const D3DXVECTOR3 triangle[3] = {{-0.5f, -0.4f, 0.2f}, {0.1f, 0.6f, -0.1f}, {0.7f, -0.2f, 0.4f}};
  for (const D3DXMATRIX* projection : {&perspective, &ortho}) {
    for (const D3DXVECTOR3& eye : {D3DXVECTOR3{0, 0, -5}, D3DXVECTOR3{1, 2, 6}, D3DXVECTOR3{-4, 1, 1}}) {
      D3DXMatrixLookAtLH(&view, &eye, &at, &up);
      D3DXMatrixMultiply(&whole, &view, projection);
      float rows[3][4], camera[4];
      for (int r = 0; r < 3; ++r) {
        for (int i = 0; i < 4; ++i) rows[r][i] = whole.m[i][r == 2 ? 3 : r];
      }
      gfx::Cross4(rows[0], rows[1], rows[2], camera);
      for (const bool reversed : {false, true}) {
        float points[3][4], screen[3][2];
        for (int k = 0; k < 3; ++k) {
          const D3DXVECTOR3& p = triangle[reversed ? 2 - k : k];
          points[k][0] = p.x, points[k][1] = p.y, points[k][2] = p.z, points[k][3] = 1;
          D3DXVECTOR4 clip;
          D3DXVec3Transform(&clip, &p, &whole);
          screen[k][0] = clip.x / clip.w, screen[k][1] = clip.y / clip.w;
        }
        const float area = (screen[1][0] - screen[0][0]) * (screen[2][1] - screen[0][1]) -
                           (screen[1][1] - screen[0][1]) * (screen[2][0] - screen[0][0]);
        float plane[4];
        gfx::Cross4(points[0], points[1], points[2], plane);
        const float facing = plane[0] * camera[0] + plane[1] * camera[1] + plane[2] * camera[2] + plane[3] * camera[3];
        ASSERT_NE(area, 0.0f);
        EXPECT_EQ(facing > 0, area > 0) << eye.x << " " << eye.z << " " << reversed;
      }
    }
  }
}

}  // namespace
