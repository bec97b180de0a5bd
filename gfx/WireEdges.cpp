#include "gfx/WireEdges.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace gfx {

namespace {

// Edges (a, b) under canonical vertex ids; the first occurrence of each id pair is kept,
// with the triangle's own vertex numbers, in triangle order.
void KeepFirstOfEachEdge(const std::vector<std::uint32_t>& canonical, const std::vector<std::uint32_t>& corners,
                         std::vector<std::uint32_t>& lines) {
  struct Edge {
    std::uint64_t key;
    std::uint32_t order;  // position among all edges, to keep triangle order
  };
  const std::size_t edgeCount = corners.size();  // three corners, three edges per triangle
  std::vector<Edge> edges(edgeCount);
  for (std::size_t t = 0; t < edgeCount / 3; ++t) {
    for (std::size_t k = 0; k < 3; ++k) {
      const std::uint32_t a = canonical[corners[3 * t + k]];
      const std::uint32_t b = canonical[corners[3 * t + (k + 1) % 3]];
      const std::uint64_t key = static_cast<std::uint64_t>(std::min(a, b)) << 32 | std::max(a, b);
      edges[3 * t + k] = {key, static_cast<std::uint32_t>(3 * t + k)};
    }
  }
  std::sort(edges.begin(), edges.end(),
            [](const Edge& x, const Edge& y) { return x.key < y.key || (x.key == y.key && x.order < y.order); });
  std::vector<std::uint32_t> kept;
  kept.reserve(edgeCount / 2 + 1);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (i == 0 || edges[i].key != edges[i - 1].key) kept.push_back(edges[i].order);
  }
  std::sort(kept.begin(), kept.end());
  lines.reserve(lines.size() + 2 * kept.size());
  for (const std::uint32_t e : kept) {
    const std::size_t t = e / 3, k = e % 3;
    lines.push_back(corners[3 * t + k]);
    lines.push_back(corners[3 * t + (k + 1) % 3]);
  }
}

}  // namespace

void UniqueEdgesOfTriangleList(const std::uint8_t* vertices, std::uint32_t stride, std::uint32_t triangleCount,
                               std::vector<std::uint32_t>& lines) {
  const std::size_t n = static_cast<std::size_t>(triangleCount) * 3;
  if (n == 0) return;
  // Vertices sorted by the bits of their positions; equal positions get the id of the first.
  using Position = std::array<std::uint32_t, 3>;
  std::vector<Position> positions(n);
  for (std::size_t i = 0; i < n; ++i) std::memcpy(positions[i].data(), vertices + i * stride, 12);
  std::vector<std::uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&positions](std::uint32_t x, std::uint32_t y) {
    return positions[x] < positions[y] || (positions[x] == positions[y] && x < y);
  });
  std::vector<std::uint32_t> canonical(n);
  for (std::size_t i = 0; i < n; ++i) {
    const bool same = i > 0 && positions[order[i]] == positions[order[i - 1]];
    canonical[order[i]] = same ? canonical[order[i - 1]] : order[i];
  }
  std::vector<std::uint32_t> corners(n);
  std::iota(corners.begin(), corners.end(), 0u);
  KeepFirstOfEachEdge(canonical, corners, lines);
}

template <class Index>
void UniqueEdgesOfIndexedTriangles(const Index* indices, std::uint32_t triangleCount,
                                   std::vector<std::uint32_t>& lines) {
  const std::size_t n = static_cast<std::size_t>(triangleCount) * 3;
  if (n == 0) return;
  std::vector<std::uint32_t> corners(indices, indices + n);
  const std::uint32_t largest = *std::max_element(corners.begin(), corners.end());
  std::vector<std::uint32_t> canonical(static_cast<std::size_t>(largest) + 1);
  std::iota(canonical.begin(), canonical.end(), 0u);
  KeepFirstOfEachEdge(canonical, corners, lines);
}

template void UniqueEdgesOfIndexedTriangles(const std::uint16_t*, std::uint32_t, std::vector<std::uint32_t>&);
template void UniqueEdgesOfIndexedTriangles(const std::uint32_t*, std::uint32_t, std::vector<std::uint32_t>&);

}  // namespace gfx
