#include "gfx/WireEdges.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace gfx {

namespace {

// Groups the edge occurrences by the canonical ids of their ends and writes each edge
// once, paired with the next occurrence that runs the other way; in triangle order.
void PairEdges(const std::vector<std::uint32_t>& canonical, const std::vector<std::uint32_t>& corners,
               std::vector<std::uint32_t>& edges) {
  struct Occurrence {
    std::uint64_t key;    // the two canonical ids, smaller first
    std::uint32_t order;  // 3 t + k: edge k of triangle t, from corner k to corner k + 1
    bool forward;         // the smaller id comes first in the triangle's winding
  };
  const std::size_t count = corners.size();
  auto corner = [&corners](std::uint32_t order, std::uint32_t step) {
    return corners[order - order % 3 + (order % 3 + step) % 3];
  };
  std::vector<Occurrence> occurrences(count);
  for (std::uint32_t e = 0; e < count; ++e) {
    const std::uint32_t a = canonical[corner(e, 0)], b = canonical[corner(e, 1)];
    occurrences[e] = {static_cast<std::uint64_t>(std::min(a, b)) << 32 | std::max(a, b), e, a <= b};
  }
  std::sort(occurrences.begin(), occurrences.end(), [](const Occurrence& x, const Occurrence& y) {
    return x.key < y.key || (x.key == y.key && x.order < y.order);
  });
  struct Edge {
    std::uint32_t order, partner;  // partner: the pairing occurrence, or ~0u
  };
  std::vector<Edge> kept;
  kept.reserve(count / 2 + 1);
  std::vector<bool> used(count, false);
  for (std::size_t begin = 0; begin < count;) {
    std::size_t end = begin;
    while (end < count && occurrences[end].key == occurrences[begin].key) ++end;
    for (std::size_t i = begin; i < end; ++i) {
      if (used[i]) continue;
      used[i] = true;
      Edge edge{occurrences[i].order, ~0u};
      for (std::size_t j = i + 1; j < end; ++j) {
        if (!used[j] && occurrences[j].forward != occurrences[i].forward) {
          used[j] = true;
          edge.partner = occurrences[j].order;
          break;
        }
      }
      kept.push_back(edge);
    }
    begin = end;
  }
  std::sort(kept.begin(), kept.end(), [](const Edge& x, const Edge& y) { return x.order < y.order; });
  edges.reserve(edges.size() + 4 * kept.size());
  for (const Edge& edge : kept) {
    const std::uint32_t a = corner(edge.order, 0), b = corner(edge.order, 1);
    edges.push_back(corner(edge.order, 2));
    edges.push_back(a);
    edges.push_back(b);
    edges.push_back(edge.partner == ~0u ? a : corner(edge.partner, 2));
  }
}

}  // namespace

void UniqueEdgesOfTriangleList(const std::uint8_t* vertices, std::uint32_t stride, std::uint32_t triangleCount,
                               std::vector<std::uint32_t>& edges) {
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
  PairEdges(canonical, corners, edges);
}

template <class Index>
void UniqueEdgesOfIndexedTriangles(const Index* indices, std::uint32_t triangleCount,
                                   std::vector<std::uint32_t>& edges) {
  const std::size_t n = static_cast<std::size_t>(triangleCount) * 3;
  if (n == 0) return;
  std::vector<std::uint32_t> corners(indices, indices + n);
  const std::uint32_t largest = *std::max_element(corners.begin(), corners.end());
  std::vector<std::uint32_t> canonical(static_cast<std::size_t>(largest) + 1);
  std::iota(canonical.begin(), canonical.end(), 0u);
  PairEdges(canonical, corners, edges);
}

template void UniqueEdgesOfIndexedTriangles(const std::uint16_t*, std::uint32_t, std::vector<std::uint32_t>&);
template void UniqueEdgesOfIndexedTriangles(const std::uint32_t*, std::uint32_t, std::vector<std::uint32_t>&);

}  // namespace gfx
