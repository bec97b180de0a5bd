#pragma once
// The line lists the GL device draws for wireframe triangle lists: every edge of the
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

}  // namespace gfx
