#pragma once
// What the GL device needs to draw wireframe triangle lists without the edges of culled
// triangles. Line lists (indexed and user-memory lists): every edge of the
// triangles once, with the triangles on either side, so that the lines of culled triangles
// can be left out as Direct3D leaves them out (it culls before it fills). An edge that two
// triangles share is drawn once: the picture is the same, and the line count of a closed
// surface halves, which is most of the overlay's cost on a software renderer.
//
// Each edge is four vertex numbers, in the order of GL_LINES_ADJACENCY:
//   (p, a, b, q): the line a-b; (a, b, p) runs in the winding of the first triangle that
//   has the edge, (b, a, q) in the winding of the second one. An edge with no second
//   triangle whose winding agrees (a border, or a neighbour of opposite orientation, which
//   gets an edge of its own) has q = a, a triangle of no area.

#include <cstdint>
#include <vector>

namespace gfx {

// Triangles of a vertex list (vertex 3t, 3t + 1, 3t + 2 for triangle t), each vertex's
// position the first three floats of its stride-byte record: vertices at the same position
// count as one. Vertex numbers count from the first vertex of the list.
void UniqueEdgesOfTriangleList(const std::uint8_t* vertices, std::uint32_t stride, std::uint32_t triangleCount,
                               std::vector<std::uint32_t>& edges);

// Indexed triangles: vertices are the same when their numbers are.
template <class Index>
void UniqueEdgesOfIndexedTriangles(const Index* indices, std::uint32_t triangleCount,
                                   std::vector<std::uint32_t>& edges);

extern template void UniqueEdgesOfIndexedTriangles(const std::uint16_t*, std::uint32_t, std::vector<std::uint32_t>&);
extern template void UniqueEdgesOfIndexedTriangles(const std::uint32_t*, std::uint32_t, std::vector<std::uint32_t>&);

// The same triangles with their neighbours, in the order of GL_TRIANGLES_ADJACENCY: six
// vertex numbers a, p, b, q, c, r per triangle (a, b, c), p the far corner of the triangle
// paired with it across a-b as above (one running b-a), q across b-c, r across c-a; an
// edge with no such neighbour gets its own first corner (p = a: a triangle of no area).
void AdjacencyOfTriangleList(const std::uint8_t* vertices, std::uint32_t stride, std::uint32_t triangleCount,
                             std::vector<std::uint32_t>& triangles);

// The four-dimensional cross product: out . z is the determinant of the rows u, v, w, z.
// Of three points (x, y, z, 1) it is the plane through them; of the x, y and w rows of a
// projection it is the camera's centre, and the two dotted give the sign of the points'
// winding on screen (positive: counter-clockwise, y up) when all three are in front.
void Cross4(const float u[4], const float v[4], const float w[4], float out[4]);

}  // namespace gfx
