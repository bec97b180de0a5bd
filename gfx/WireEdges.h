#pragma once
// The line lists the GL device draws for wireframe triangle lists: every edge of the
// triangles once, as pairs of vertex numbers. An edge two triangles share is drawn once
// (the picture is the same; the line count of a closed surface halves, which is most of
// the overlay's cost on a software renderer).

#include <cstdint>
#include <vector>

namespace gfx {

// Triangles of a vertex list (vertex 3t, 3t + 1, 3t + 2 for triangle t), each vertex's
// position the first three floats of its stride-byte record: vertices at the same position
// count as one, so an edge between the same two points is listed once. Line vertices are
// numbered from the first vertex of the list.
void UniqueEdgesOfTriangleList(const std::uint8_t* vertices, std::uint32_t stride, std::uint32_t triangleCount,
                               std::vector<std::uint32_t>& lines);

// Indexed triangles: an edge between the same two vertex numbers is listed once.
template <class Index>
void UniqueEdgesOfIndexedTriangles(const Index* indices, std::uint32_t triangleCount,
                                   std::vector<std::uint32_t>& lines);

extern template void UniqueEdgesOfIndexedTriangles(const std::uint16_t*, std::uint32_t, std::vector<std::uint32_t>&);
extern template void UniqueEdgesOfIndexedTriangles(const std::uint32_t*, std::uint32_t, std::vector<std::uint32_t>&);

}  // namespace gfx
