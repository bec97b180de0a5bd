#include "gfx/WireEdges.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace gfx {

namespace {

// Corner step of the triangle of edge occurrence order (3 t + k: edge k of triangle t, from
// corner k to corner k + 1).
std::uint32_t Corner(const std::vector<std::uint32_t>& corners, std::uint32_t order, std::uint32_t step) {
  return corners[order - order % 3 + (order % 3 + step) % 3];
}

struct Edge {
  std::uint32_t order, partner;  // partner: the pairing occurrence, or ~0u
};

// Groups the edge occurrences by the canonical ids of their ends and keeps each edge once,
// paired with the next occurrence that runs the other way; in triangle order.
std::vector<Edge> PairedEdges(const std::vector<std::uint32_t>& canonical, const std::vector<std::uint32_t>& corners) {
  struct Occurrence {
    std::uint64_t key;    // the two canonical ids, smaller first
    std::uint32_t order;  // 3 t + k
    bool forward;         // the smaller id comes first in the triangle's winding
  };
  const std::size_t count = corners.size();
  std::vector<Occurrence> occurrences(count);
  for (std::uint32_t e = 0; e < count; ++e) {
    const std::uint32_t a = canonical[Corner(corners, e, 0)], b = canonical[Corner(corners, e, 1)];
    occurrences[e] = {static_cast<std::uint64_t>(std::min(a, b)) << 32 | std::max(a, b), e, a <= b};
  }
  std::sort(occurrences.begin(), occurrences.end(), [](const Occurrence& x, const Occurrence& y) {
    return x.key < y.key || (x.key == y.key && x.order < y.order);
  });
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
  return kept;
}

void PairEdges(const std::vector<std::uint32_t>& canonical, const std::vector<std::uint32_t>& corners,
               std::vector<std::uint32_t>& edges) {
  const std::vector<Edge> kept = PairedEdges(canonical, corners);
  edges.reserve(edges.size() + 4 * kept.size());
  for (const Edge& edge : kept) {
    const std::uint32_t a = Corner(corners, edge.order, 0), b = Corner(corners, edge.order, 1);
    edges.push_back(Corner(corners, edge.order, 2));
    edges.push_back(a);
    edges.push_back(b);
    edges.push_back(edge.partner == ~0u ? a : Corner(corners, edge.partner, 2));
  }
}

void Adjacency(const std::vector<std::uint32_t>& canonical, const std::vector<std::uint32_t>& corners,
               std::vector<std::uint32_t>& triangles) {
  const std::size_t first = triangles.size();
  triangles.resize(first + 2 * corners.size());
  std::uint32_t* out = triangles.data() + first;
  for (std::size_t i = 0; i < corners.size(); ++i) out[2 * i] = out[2 * i + 1] = corners[i];
  for (const Edge& edge : PairedEdges(canonical, corners)) {
    if (edge.partner == ~0u) continue;
    out[2 * edge.order + 1] = Corner(corners, edge.partner, 2);
    out[2 * edge.partner + 1] = Corner(corners, edge.order, 2);
  }
}

// Canonical ids of a vertex list's vertices: equal positions get the id of the first.
std::vector<std::uint32_t> CanonicalPositions(const std::uint8_t* vertices, std::uint32_t stride, std::size_t n) {
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
  return canonical;
}

template <class Index>
std::vector<std::uint32_t> IdentityIds(const Index* indices, std::size_t n) {
  const std::uint32_t largest = *std::max_element(indices, indices + n);
  std::vector<std::uint32_t> canonical(static_cast<std::size_t>(largest) + 1);
  std::iota(canonical.begin(), canonical.end(), 0u);
  return canonical;
}

}  // namespace

void UniqueEdgesOfTriangleList(const std::uint8_t* vertices, std::uint32_t stride, std::uint32_t triangleCount,
                               std::vector<std::uint32_t>& edges) {
  const std::size_t n = static_cast<std::size_t>(triangleCount) * 3;
  if (n == 0) return;
  std::vector<std::uint32_t> corners(n);
  std::iota(corners.begin(), corners.end(), 0u);
  PairEdges(CanonicalPositions(vertices, stride, n), corners, edges);
}

template <class Index>
void UniqueEdgesOfIndexedTriangles(const Index* indices, std::uint32_t triangleCount,
                                   std::vector<std::uint32_t>& edges) {
  const std::size_t n = static_cast<std::size_t>(triangleCount) * 3;
  if (n == 0) return;
  PairEdges(IdentityIds(indices, n), std::vector<std::uint32_t>(indices, indices + n), edges);
}

void AdjacencyOfTriangleList(const std::uint8_t* vertices, std::uint32_t stride, std::uint32_t triangleCount,
                             std::vector<std::uint32_t>& triangles) {
  const std::size_t n = static_cast<std::size_t>(triangleCount) * 3;
  if (n == 0) return;
  std::vector<std::uint32_t> corners(n);
  std::iota(corners.begin(), corners.end(), 0u);
  Adjacency(CanonicalPositions(vertices, stride, n), corners, triangles);
}

template void UniqueEdgesOfIndexedTriangles(const std::uint16_t*, std::uint32_t, std::vector<std::uint32_t>&);
template void UniqueEdgesOfIndexedTriangles(const std::uint32_t*, std::uint32_t, std::vector<std::uint32_t>&);

void Cross4(const float u[4], const float v[4], const float w[4], float out[4]) {
  auto minor = [&](int i, int j, int k) {
    return u[i] * (v[j] * w[k] - v[k] * w[j]) - u[j] * (v[i] * w[k] - v[k] * w[i]) + u[k] * (v[i] * w[j] - v[j] * w[i]);
  };
  out[0] = -minor(1, 2, 3);
  out[1] = minor(0, 2, 3);
  out[2] = -minor(0, 1, 3);
  out[3] = minor(0, 1, 2);
}

}  // namespace gfx
