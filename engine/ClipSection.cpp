#include "engine/ClipSection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>
#include <thread>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "engine/Camera.h"
#include "engine/Colour.h"
#include "engine/EngineLocation.h"
#include "engine/Status.h"
#include "framework/FrameObject.h"

namespace engine {

using namespace gfx;

namespace {

// One cut point of an element, named by the mesh: the vertex the plane passes through
// (vertexA == vertexB, fraction 0) or the edge the plane crosses between its ends
// (vertexA < vertexB, fraction from vertexA).
struct SectionPoint {
  Vec3 position;
  SectionSource source;
  float key = 0;
};

// Boxes that lie farther than this from the plane cannot hold a vertex on it or on its
// other side, whatever the rounding of the plane's values.
constexpr float kSkipMargin = 1e-4f;

void AddPoint(std::vector<SectionPoint>& points, const Vec3& q, std::uint32_t a, std::uint32_t b, float f) {
  for (const SectionPoint& point : points) {
    if (point.source.vertexA == a && point.source.vertexB == b) return;
  }
  points.push_back({q, {a, b, f}, 0});
}

// The cut point of the edge from vertex lo to vertex hi (lo <= hi), if any.
inline void CutEdge(const qem::Vertex* vertices, std::uint32_t lo, std::uint32_t hi, const float* planeValues,
                    std::vector<SectionPoint>& points) {
  const float hlo = planeValues[lo], hhi = planeValues[hi];
  if ((hlo > 0 && hhi > 0) || (hlo < 0 && hhi < 0)) return;
  if (hlo == 0 || hhi == 0) {
    // The plane passes through an end: that vertex is the cut point.
    if (hlo == 0) AddPoint(points, {vertices[lo].x, vertices[lo].y, vertices[lo].z}, lo, lo, 0);
    if (hhi == 0) AddPoint(points, {vertices[hi].x, vertices[hi].y, vertices[hi].z}, hi, hi, 0);
    return;
  }
  const float t = hlo / (hlo - hhi);
  const qem::Vertex& a = vertices[lo];
  const qem::Vertex& b = vertices[hi];
  AddPoint(points, {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t}, lo, hi, t);
}

// The cut points of one element, each once, in the order the edges give them.
// Whether and where an edge is cut depends only on the plane's value at its two ends (one
// value per vertex, shared by every element) and is computed from its lower-numbered end
// towards the other, so every element that shares an edge or a vertex gets the same point,
// bit for bit: the polygons of neighbours meet without cracks. Points are merged only when
// they are the same point of the mesh (the same edge, or the same vertex on the plane);
// two points that merely lie close together are both kept, so no polygon loses a corner.
void CutElement(const qem::Vertex* vertices, const qem::Element& element, const float* planeValues,
                std::vector<SectionPoint>& points) {
  points.clear();
  for (const qem::Triangle& triangle : element.triangles) {
    const std::uint32_t edges[3][2] = {{triangle.a, triangle.b}, {triangle.a, triangle.c}, {triangle.b, triangle.c}};
    for (const auto& edge : edges) {
      CutEdge(vertices, std::min(edge[0], edge[1]), std::max(edge[0], edge[1]), planeValues, points);
    }
  }
}

// The same for a tetrahedron whose triangles use all six edges, from its four vertex
// numbers in ascending order: the same points, without reading the element.
void CutTetrahedron(const qem::Vertex* vertices, const std::uint32_t* c, const float* planeValues,
                    std::vector<SectionPoint>& points) {
  points.clear();
  CutEdge(vertices, c[0], c[1], planeValues, points);
  CutEdge(vertices, c[0], c[2], planeValues, points);
  CutEdge(vertices, c[0], c[3], planeValues, points);
  CutEdge(vertices, c[1], c[2], planeValues, points);
  CutEdge(vertices, c[1], c[3], planeValues, points);
  CutEdge(vertices, c[2], c[3], planeValues, points);
}

// True when the element has vertices on both sides of the plane or on it (elements without
// a vertex list are always cut).
bool MayCut(const qem::Element& element, const float* planeValues) {
  if (element.vertexIndices.empty()) return true;
  bool notAbove = false, notBelow = false;
  for (std::uint32_t index : element.vertexIndices) {
    const float h = planeValues[index];
    notAbove = notAbove || h <= 0;
    notBelow = notBelow || h >= 0;
    if (notAbove && notBelow) return true;
  }
  return false;
}

// Whether another polygon of the section lies across its edge from p to q. The edge lies
// in the element's face through the mesh vertices of both points; when that face is a
// boundary triangle no element lies across it. Where both points are vertices on the plane
// the edge is a mesh edge lying in the plane, with no polygon across when it lies on the
// boundary. A face or an edge with a vertex off the boundary is inside the mesh.
std::uint8_t EdgeAcross(const SectionIndex& index, const SectionSource& p, const SectionSource& q) {
  std::uint32_t v[4] = {p.vertexA, p.vertexB, q.vertexA, q.vertexB};
  for (std::uint32_t x : v) {
    if (x >= index.boundaryVertex.size() || !index.boundaryVertex[x]) return kOutlineHalf;
  }
  std::sort(v, v + 4);
  const std::size_t distinct = static_cast<std::size_t>(std::unique(v, v + 4) - v);
  bool boundary = false;
  if (distinct == 3) {
    const std::array<std::uint32_t, 3> face{v[0], v[1], v[2]};
    boundary = std::binary_search(index.boundaryFaces.begin(), index.boundaryFaces.end(), face);
  } else if (distinct == 2) {
    const std::uint64_t edge = std::uint64_t{v[0]} << 32 | v[1];
    boundary = std::binary_search(index.boundaryEdges.begin(), index.boundaryEdges.end(), edge);
  }
  return boundary ? kOutlineWhole : kOutlineHalf;
}

void AddPolygon(std::vector<SectionPoint>& points, const Vec3& s, const SectionIndex& index, SectionGeometry& out) {
  const std::size_t m = points.size();
  if (m < 3) return;
  float x = 0, y = 0, z = 0;
  for (const SectionPoint& point : points) {
    x += point.position.x;
    y += point.position.y;
    z += point.position.z;
  }
  const float inverse = 1.0f / static_cast<float>(m);
  const Vec3 C{x * inverse, y * inverse, z * inverse};
  Vec3 r = points[0].position - C;
  D3DXVec3Normalize(&r, &r);
  const PolygonOrder order(s, C, r);
  for (SectionPoint& point : points) point.key = order.Key(point.position);
  // Decreasing key; the lists are a handful of points, so insertion sort.
  for (std::size_t i = 1; i < m; ++i) {
    SectionPoint moving = points[i];
    std::size_t j = i;
    while (j > 0 && points[j - 1].key < moving.key) {
      points[j] = points[j - 1];
      --j;
    }
    points[j] = moving;
  }
  const auto base = static_cast<std::uint32_t>(out.positions.size());
  for (std::uint32_t i = 2; i < m; ++i) {
    out.triangles.insert(out.triangles.end(), {base, base + i - 1, base + i});
  }
  for (std::uint32_t i = 0; i < m; ++i) {
    out.outline.insert(out.outline.end(), {base + i, base + static_cast<std::uint32_t>((i + 1) % m)});
  }
  for (std::uint32_t i = 0; i < m; ++i) {
    out.positions.push_back(points[i].position);
    out.sources.push_back(points[i].source);
    const std::uint8_t first = i == 0 ? kOutlineFirst : 0;
    out.edges.push_back(first | EdgeAcross(index, points[i].source, points[(i + 1) % m].source));
  }
}

void ColourSectionVertices(const qem::Document& document, std::size_t count, unsigned char* bytes) {
  VertexColours& colourOf = state.vertexColours;
  colourOf.Begin(document, state.displayTime);
  const SectionSource* sources = state.clipSources.data();
  for (std::size_t i = 0; i < count; ++i) {
    const SectionSource& source = sources[i];
    const std::uint32_t colour = LerpColour(colourOf(source.vertexA), colourOf(source.vertexB), source.fraction);
    std::memcpy(bytes + i * sizeof(SceneVertex) + offsetof(SceneVertex, colour), &colour, 4);
  }
}

// Kept between builds so that dragging does not allocate.
SectionGeometry geometry;

}  // namespace

namespace {

// The Morton code of a point of the normalised cube [-1, 1]^3 on a grid of 1024 per axis.
std::uint32_t MortonCode(const qem::Float3& p) {
  auto spread = [](float x) {
    const float q = (x + 1) * 512;
    std::uint32_t v = q > 0 ? (q < 1023 ? static_cast<std::uint32_t>(q) : 1023u) : 0u;
    v = (v | (v << 16)) & 0x030000FFu;
    v = (v | (v << 8)) & 0x0300F00Fu;
    v = (v | (v << 4)) & 0x030C30C3u;
    v = (v | (v << 2)) & 0x09249249u;
    return v;
  };
  return spread(p.x) | (spread(p.y) << 1) | (spread(p.z) << 2);
}

// One element on its way into the index.
struct Entry {
  std::uint32_t code;     // Morton code of its centre
  std::uint32_t element;  // its number in the file
};

// entries sorted by code, stably: three passes of ten bits.
void SortByCode(std::vector<Entry>& entries) {
  std::vector<Entry> other(entries.size());
  for (int shift = 0; shift < 30; shift += 10) {
    std::vector<std::size_t> start(1025, 0);
    for (const Entry& entry : entries) ++start[((entry.code >> shift) & 1023) + 1];
    for (std::size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    for (const Entry& entry : entries) other[start[(entry.code >> shift) & 1023]++] = entry;
    entries.swap(other);
  }
}

// The box from lo to hi as centre and half extents, the extents rounded up a little so the
// box holds every corner however the centre rounds; infinite when a bound is not finite.
SectionIndex::Box BoxOf(const float* lo, const float* hi) {
  SectionIndex::Box box;
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(lo[a]) || !std::isfinite(hi[a])) {
      box.cx = box.cy = box.cz = 0;
      box.ex = box.ey = box.ez = INFINITY;
      return box;
    }
  }
  box.cx = (lo[0] + hi[0]) / 2, box.cy = (lo[1] + hi[1]) / 2, box.cz = (lo[2] + hi[2]) / 2;
  box.ex = (hi[0] - lo[0]) / 2 * 1.0001f + 1e-6f;
  box.ey = (hi[1] - lo[1]) / 2 * 1.0001f + 1e-6f;
  box.ez = (hi[2] - lo[2]) / 2 * 1.0001f + 1e-6f;
  return box;
}

// The whole box lies farther from the plane than the rounding of the plane's values.
bool Misses(const Plane& P, const SectionIndex::Box& box) {
  const float h = P.a * box.cx + P.b * box.cy + P.c * box.cz + P.d;
  const float reach = std::fabs(P.a) * box.ex + std::fabs(P.b) * box.ey + std::fabs(P.c) * box.ez;
  return std::fabs(h) > reach + kSkipMargin;
}

}  // namespace

namespace {

// True when the element is a tetrahedron whose triangles use each of its six edges: then
// the six pairs of its four vertex numbers give exactly the cut points of its triangles.
bool PlainTetrahedron(const qem::Element& element) {
  if (element.vertexIndices.size() != 4) return false;
  const std::uint32_t* v = element.vertexIndices.begin();
  auto corner = [v](std::uint32_t x) {
    for (int k = 0; k < 4; ++k) {
      if (v[k] == x) return k;
    }
    return -1;
  };
  unsigned pairs = 0;
  for (const qem::Triangle& triangle : element.triangles) {
    const int c[3] = {corner(triangle.a), corner(triangle.b), corner(triangle.c)};
    for (int e = 0; e < 3; ++e) {
      const int x = c[e], y = c[(e + 1) % 3];
      if (x < 0 || y < 0 || x == y) continue;
      pairs |= 1u << (std::min(x, y) * 4 + std::max(x, y));
    }
  }
  // The pairs 01 02 03 12 13 23.
  return pairs == (1u << 1 | 1u << 2 | 1u << 3 | 1u << 6 | 1u << 7 | 1u << 11);
}

}  // namespace

void BuildSectionIndex(const qem::Document& document, SectionIndex& index) {
  if (index.document == &document) return;
  index = SectionIndex{};
  index.document = &document;
  const std::size_t count = document.elements.size();
  if (count == 0) return;
  // Only the code and the number move in the sort: fresh memory is what costs most here.
  std::vector<Entry> entries(count);
  std::size_t next = 0;
  document.elements.ForEach([&](const qem::Element& element) {
    entries[next] = {MortonCode(element.centre), static_cast<std::uint32_t>(next)};
    ++next;
  });
  SortByCode(entries);
  index.corners.resize(count);
  index.elements.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    const qem::Element& element = document.elements[entries[k].element];
    index.elements[k] = &element;
    auto& corners = index.corners[k];
    if (PlainTetrahedron(element)) {
      std::copy(element.vertexIndices.begin(), element.vertexIndices.end(), corners.begin());
    } else {
      corners = {SectionIndex::kNotTetrahedron, 0, 0, 0};
    }
  }
  entries = {};
  const qem::Vertex* vertices = document.vertices.data();
  const std::size_t bucketCount = (count + kSectionBucket - 1) / kSectionBucket;
  index.buckets.resize(bucketCount);
  for (std::size_t b = 0; b < bucketCount; ++b) {
    const std::size_t first = b * kSectionBucket;
    const std::size_t n = std::min<std::size_t>(kSectionBucket, count - first);
    // Every vertex of every element of the bucket (an element without a vertex list makes
    // the box infinite: never rejected).
    float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    auto add = [&](std::uint32_t v) {
      const float p[3] = {vertices[v].x, vertices[v].y, vertices[v].z};
      for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], p[a]), hi[a] = std::max(hi[a], p[a]);
    };
    for (std::size_t i = first; i < first + n; ++i) {
      const auto& corners = index.corners[i];
      if (corners[0] != SectionIndex::kNotTetrahedron) {
        for (std::uint32_t v : corners) add(v);
      } else if (index.elements[i]->vertexIndices.empty()) {
        lo[0] = -INFINITY;
      } else {
        for (std::uint32_t v : index.elements[i]->vertexIndices) add(v);
      }
    }
    index.buckets[b] = BoxOf(lo, hi);
  }
  index.boundaryVertex.assign(document.vertices.size(), 0);
  index.boundaryFaces.reserve(document.boundaryTriangles.size());
  for (const qem::Triangle* triangle : document.boundaryTriangles) {
    std::array<std::uint32_t, 3> face{triangle->a, triangle->b, triangle->c};
    std::sort(face.begin(), face.end());
    for (std::uint32_t v : face) {
      if (v < index.boundaryVertex.size()) index.boundaryVertex[v] = 1;
    }
    index.boundaryFaces.push_back(face);
    for (int k = 0; k < 3; ++k) {
      index.boundaryEdges.push_back(std::uint64_t{face[k == 2 ? 1 : 0]} << 32 | face[k == 0 ? 1 : 2]);
    }
  }
  std::sort(index.boundaryFaces.begin(), index.boundaryFaces.end());
  std::sort(index.boundaryEdges.begin(), index.boundaryEdges.end());
  index.boundaryEdges.erase(std::unique(index.boundaryEdges.begin(), index.boundaryEdges.end()),
                            index.boundaryEdges.end());
  const std::size_t groupCount = (bucketCount + kSectionBucket - 1) / kSectionBucket;
  index.groups.resize(groupCount);
  for (std::size_t g = 0; g < groupCount; ++g) {
    const std::size_t first = g * kSectionBucket;
    const std::size_t n = std::min<std::size_t>(kSectionBucket, bucketCount - first);
    float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (std::size_t b = first; b < first + n; ++b) {
      const SectionIndex::Box& box = index.buckets[b];
      const float c[3] = {box.cx, box.cy, box.cz}, e[3] = {box.ex, box.ey, box.ez};
      for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], c[a] - e[a]), hi[a] = std::max(hi[a], c[a] + e[a]);
    }
    index.groups[g] = BoxOf(lo, hi);
  }
}

namespace {

// The polygons of the entries of count buckets, appended to out in bucket order.
void CutBuckets(const SectionIndex& index, const qem::Document& document, const Vec3& s, const float* planeValues,
                const std::uint32_t* buckets, std::size_t count, SectionGeometry& out) {
  thread_local std::vector<SectionPoint> points;
  const qem::Vertex* vertices = document.vertices.data();
  const std::size_t entries = index.elements.size();
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t first = std::size_t{buckets[k]} * kSectionBucket;
    const std::size_t last = std::min<std::size_t>(entries, first + kSectionBucket);
    for (std::size_t i = first; i < last; ++i) {
      const auto& corners = index.corners[i];
      if (corners[0] != SectionIndex::kNotTetrahedron) {
        const float h0 = planeValues[corners[0]], h1 = planeValues[corners[1]];
        const float h2 = planeValues[corners[2]], h3 = planeValues[corners[3]];
        if ((h0 > 0 && h1 > 0 && h2 > 0 && h3 > 0) || (h0 < 0 && h1 < 0 && h2 < 0 && h3 < 0)) continue;
        CutTetrahedron(vertices, corners.data(), planeValues, points);
      } else {
        const qem::Element& element = *index.elements[i];
        if (!MayCut(element, planeValues)) continue;
        CutElement(vertices, element, planeValues, points);
      }
      AddPolygon(points, s, index, out);
    }
  }
}

// Below this many entries to look at, a second thread costs more than it saves.
constexpr std::size_t kParallelEntries = 20000;

// Runs work(0) on a second thread and work(1) on this one, and waits; both on this one
// when no thread can be had.
template <class Work>
void OnTwoThreads(const Work& work) {
  std::thread worker;
  try {
    worker = std::thread([&work] { work(0); });
  } catch (const std::system_error&) {
    work(0);
  }
  work(1);
  if (worker.joinable()) worker.join();
}

void ClearGeometry(SectionGeometry& out) {
  out.positions.clear();
  out.sources.clear();
  out.triangles.clear();
  out.outline.clear();
  out.edges.clear();
}

// True when every vertex of the normalised mesh, which lies in the cube from -1 to 1, is
// strictly on one side of P: no vertex's value a x + b y + c z + d can reach zero when |d|
// exceeds |a| + |b| + |c|, with a margin far above the rounding of those values.
bool PlaneMissesTheMesh(const Plane& P) {
  const float reach = std::fabs(P.a) + std::fabs(P.b) + std::fabs(P.c);
  return std::fabs(P.d) > reach * 1.0001f + 1e-6f;
}

}  // namespace

void CutDocument(const SectionIndex& index, const qem::Document& document, const Plane& P, const Vec3& s,
                 SectionGeometry& out, int threads) {
  ClearGeometry(out);
  if (index.elements.empty()) return;
  thread_local std::vector<std::uint32_t> candidates;
  thread_local std::vector<float> planeValues;
  const bool parallel = threads >= 2;
  // The plane's value at every vertex, once: each vertex belongs to many elements and edges,
  // and every element must see the same value of a shared vertex.
  const std::size_t vertexCount = document.vertices.size();
  planeValues.resize(vertexCount);
  float* values = planeValues.data();
  const qem::Vertex* vertices = document.vertices.data();
  auto evaluate = [values, vertices, &P](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const qem::Vertex& v = vertices[i];
      values[i] = P.a * v.x + P.b * v.y + P.c * v.z + P.d;
    }
  };
  if (parallel && vertexCount >= kParallelEntries) {
    OnTwoThreads(
        [&](int part) { evaluate(part == 0 ? vertexCount / 2 : 0, part == 0 ? vertexCount : vertexCount / 2); });
  } else {
    evaluate(0, vertexCount);
  }
  // The buckets whose box the plane may touch, in index order.
  candidates.clear();
  const std::size_t bucketCount = index.buckets.size();
  for (std::size_t g = 0; g < index.groups.size(); ++g) {
    if (Misses(P, index.groups[g])) continue;
    const std::size_t last = std::min<std::size_t>(bucketCount, (g + 1) * kSectionBucket);
    for (std::size_t b = g * kSectionBucket; b < last; ++b) {
      if (!Misses(P, index.buckets[b])) candidates.push_back(static_cast<std::uint32_t>(b));
    }
  }
  const std::size_t count = candidates.size();
  if (!parallel || count * kSectionBucket < kParallelEntries) {
    CutBuckets(index, document, s, values, candidates.data(), count, out);
    return;
  }
  // The two halves of the candidate buckets side by side; the second half's polygons
  // follow the first's, so the result is the same as from one thread.
  // (The worker must not name the thread_local arrays: it would get its own, empty ones.)
  static SectionGeometry second;
  const std::size_t half = count / 2;
  const std::uint32_t* buckets = candidates.data();
  OnTwoThreads([&](int part) {
    if (part == 0) {
      ClearGeometry(second);
      CutBuckets(index, document, s, values, buckets + half, count - half, second);
    } else {
      CutBuckets(index, document, s, values, buckets, half, out);
    }
  });
  const auto base = static_cast<std::uint32_t>(out.positions.size());
  out.positions.insert(out.positions.end(), second.positions.begin(), second.positions.end());
  out.sources.insert(out.sources.end(), second.sources.begin(), second.sources.end());
  out.triangles.reserve(out.triangles.size() + second.triangles.size());
  for (std::uint32_t i : second.triangles) out.triangles.push_back(base + i);
  out.edges.insert(out.edges.end(), second.edges.begin(), second.edges.end());
  out.outline.reserve(out.outline.size() + second.outline.size());
  for (std::uint32_t i : second.outline) out.outline.push_back(base + i);
}

Plane ModelClipPlane() {
  const D3DXMATRIX world = WorldMatrix();
  D3DXMATRIX transposed;
  D3DXMatrixTranspose(&transposed, &world);
  Plane P;
  D3DXPlaneTransform(&P, &state.clipPlane, &transposed);
  D3DXPlaneNormalize(&P, &P);
  return P;
}

void UpdateClipPlane() {
  state.clipPlane = {0, 0, 1, state.clipDistance};
  D3DXPlaneNormalize(&state.clipPlane, &state.clipPlane);
}

namespace {

// Grows a device buffer to hold needed items (and a quarter more) when it is too small. A
// failed creation records message, leaves the buffer null and the capacity 0, so the next
// build tries again.
template <class Create>
void Grow(std::uint32_t needed, std::uint32_t& capacity, std::string_view message, const Create& create) {
  if (ErrorPending() || needed <= capacity) return;
  capacity = needed + needed / 4;
  const HRESULT hr = create(capacity);
  if (Failed(hr)) {
    capacity = 0;
    ErrorRaiseDirectX(hr, message, "", 0);
  }
}

// The three section buffers big enough for n vertices, w triangle and g outline indices.
void GrowSectionBuffers(Device& device, std::uint32_t n, std::uint32_t w, std::uint32_t g) {
  // A section beyond 16-bit reach moves both index buffers to 32-bit indices.
  if (n > 65536 && state.clipIndexFormat != D3DFMT_INDEX32) {
    state.clipIndexFormat = D3DFMT_INDEX32;
    state.clipIndexBuffer.reset();
    state.clipWireBuffer.reset();
    state.clipIndexCapacity = 0;
    state.clipWireCapacity = 0;
  }
  const D3DFORMAT format = state.clipIndexFormat;
  const UINT indexSize = format == D3DFMT_INDEX32 ? 4 : 2;
  Grow(n, state.clipVertexCapacity, "Nie można utworzyć bufora wierzchołków obcięcia"_cp, [&](std::uint32_t capacity) {
    state.clipVertexBuffer.reset();
    const HRESULT hr = device.CreateVertexBuffer(capacity * UINT{sizeof(SceneVertex)}, 0, kSceneFvf, D3DPOOL_MANAGED,
                                                 state.clipVertexBuffer);
    if (Failed(hr)) state.clipVertexBuffer.reset();
    return hr;
  });
  auto indices = [&](IndexBufferPtr& buffer) {
    return [&](std::uint32_t capacity) {
      buffer.reset();
      const HRESULT hr = device.CreateIndexBuffer(capacity * indexSize, 0, format, D3DPOOL_MANAGED, buffer);
      if (Failed(hr)) buffer.reset();
      return hr;
    };
  };
  Grow(w, state.clipIndexCapacity, "Nie można utworzyć bufora indeksów obcięcia"_cp, indices(state.clipIndexBuffer));
  Grow(g, state.clipWireCapacity, "Nie można utworzyć bufora indeksów obcięcia szkieletowego"_cp,
       indices(state.clipWireBuffer));
}

// The first bytes of a buffer locked for writing, or null after recording message.
template <class Buffer>
void* LockForWriting(Buffer& buffer, UINT bytes, std::string_view message) {
  void* data = nullptr;
  const HRESULT hr = buffer.Lock(0, bytes, &data, D3DLOCK_NOOVERWRITE);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, message, "", 0);
    return nullptr;
  }
  return data;
}

// The section's vertices (facing s, coloured at the display time) and its two index lists.
void WriteSection(const qem::Document& document, const Vec3& s, unsigned char* vertexData, void* indexData,
                  void* wireData) {
  const std::size_t n = geometry.positions.size();
  const std::size_t w = geometry.triangles.size();
  const std::size_t g = geometry.outline.size();
  SceneVertex vertex;
  vertex.nx = s.x;
  vertex.ny = s.y;
  vertex.nz = s.z;
  for (std::size_t i = 0; i < n; ++i) {
    vertex.x = geometry.positions[i].x;
    vertex.y = geometry.positions[i].y;
    vertex.z = geometry.positions[i].z;
    std::memcpy(vertexData + i * sizeof(SceneVertex), &vertex, sizeof vertex);
  }
  ColourSectionVertices(document, n, vertexData);
  if (state.clipIndexFormat == D3DFMT_INDEX32) {
    std::memcpy(indexData, geometry.triangles.data(), w * 4);
    std::memcpy(wireData, geometry.outline.data(), g * 4);
  } else {
    auto* triangles = static_cast<std::uint16_t*>(indexData);
    for (std::size_t i = 0; i < w; ++i) triangles[i] = static_cast<std::uint16_t>(geometry.triangles[i]);
    auto* outline = static_cast<std::uint16_t*>(wireData);
    for (std::size_t i = 0; i < g; ++i) outline[i] = static_cast<std::uint16_t>(geometry.outline[i]);
  }
}

}  // namespace

void GenerateClipBuffers() {
  state.sectionDirty = false;
  const qem::Document* document = CurrentDocument();
  Device* device = frame::GetDevice();
  if (!document || !device) return;
  const Plane P = ModelClipPlane();
  const Vec3 s{-P.a, -P.b, -P.c};
  if (PlaneMissesTheMesh(P)) {
    // The start-up plane, at the bounding sphere's radius, and a plane dragged out of the
    // mesh cut nothing: the index, costly on a large mesh, waits for a plane that may cut.
    ClearGeometry(geometry);
  } else {
    BuildSectionIndex(*document, state.sectionIndex);
    CutDocument(state.sectionIndex, *document, P, s, geometry, 2);
  }
  state.clipSources.swap(geometry.sources);  // the old arrays are reused by the next build
  state.clipOutline.swap(geometry.edges);

  const auto n = static_cast<std::uint32_t>(geometry.positions.size());
  const auto w = static_cast<std::uint32_t>(geometry.triangles.size());
  const auto g = static_cast<std::uint32_t>(geometry.outline.size());
  state.clipVertexCount = n;
  state.clipTriangleCount = w / 3;
  state.clipLineCount = g / 2;
  state.clipLargestPolygon = 0;
  for (std::size_t first = 0, i = 1; first < state.clipOutline.size(); ++i) {
    if (i == state.clipOutline.size() || (state.clipOutline[i] & gfx::kOutlineFirst)) {
      state.clipLargestPolygon = std::max(state.clipLargestPolygon, static_cast<std::uint32_t>(i - first));
      first = i;
    }
  }
  GrowSectionBuffers(*device, n, w, g);

  if (!ErrorPending() && n != 0 && w != 0 && g != 0) {
    // Only the part in use is locked, so only that much goes to the device.
    const UINT indexSize = state.clipIndexFormat == D3DFMT_INDEX32 ? 4 : 2;
    void* vertexData = LockForWriting(*state.clipVertexBuffer, n * UINT{sizeof(SceneVertex)},
                                      "Nie można zablokować bufora wierzchołków obcięcia 1"_cp);
    void* indexData = vertexData ? LockForWriting(*state.clipIndexBuffer, w * indexSize,
                                                  "Nie można zablokować bufora indeksów obcięcia"_cp)
                                 : nullptr;
    void* wireData = indexData ? LockForWriting(*state.clipWireBuffer, g * indexSize,
                                                "Nie można zablokować bufora indeksów obcięcia szkieletowego"_cp)
                               : nullptr;
    if (wireData) WriteSection(*document, s, static_cast<unsigned char*>(vertexData), indexData, wireData);
    if (wireData) state.clipWireBuffer->Unlock();
    if (indexData) state.clipIndexBuffer->Unlock();
    if (vertexData) state.clipVertexBuffer->Unlock();
  }
  if (ErrorPending()) ENGINE_ADD_LOCATION();
}

void RecolourSection() {
  const qem::Document* document = CurrentDocument();
  if (!state.clipIndexBuffer || !state.clipVertexBuffer || !document) return;
  void* data = nullptr;
  const HRESULT hr = state.clipVertexBuffer->Lock(0, 0, &data, 0);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można zablokować bufora wierzchołków obcięcia 1"_cp, "", 0);
    return;
  }
  // Never past the buffer, should a build have stopped between creating and filling it.
  std::size_t count = state.clipSources.size();
  if (count > state.clipVertexCapacity) count = state.clipVertexCapacity;
  ColourSectionVertices(*document, count, static_cast<unsigned char*>(data));
  state.clipVertexBuffer->Unlock();
}

void MoveClipPlane(int dx, int dy) {
  state.clipDistance = Clamp(-kSqrt3, state.clipDistance + static_cast<float>(dx + dy) * 0.001f, kSqrt3);
  UpdateClipPlane();
  state.sectionDirty = true;
  RefreshStatus();
}

void RebuildDirtySection() {
  if (!state.sectionDirty) return;
  GenerateClipBuffers();
  if (ErrorPending()) ENGINE_ADD_LOCATION();
}

}  // namespace engine
