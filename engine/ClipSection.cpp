#include "engine/ClipSection.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>
#include <algorithm>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "engine/Camera.h"
#include "engine/Colour.h"
#include "engine/Status.h"
#include "framework/FrameObject.h"

namespace engine {

using namespace gfx;

namespace {

struct SectionPoint {
  Vec3 position;
  SectionSource source;
  float key = 0;
};

// Elements whose vertices all lie farther than this from the plane, on one side, cannot
// give a cut point: the edge parameter of such an element misses [0, L] by far more than
// its rounding error, so skipping them changes no result.
constexpr float kSkipMargin = 1e-4f;

// The cut points of one element, deduplicated, in the order the edges give them.
void CutElement(const qem::Document& document, const qem::Element& element, const Plane& P,
                const float* planeValues, float tol, std::vector<SectionPoint>& points) {
  points.clear();
  const qem::Vertex* vertices = document.vertices.data();
  for (const qem::Triangle& triangle : element.triangles) {
    const std::uint32_t edges[3][2] = {
        {triangle.a, triangle.b}, {triangle.a, triangle.c}, {triangle.b, triangle.c}};
    for (const auto& edge : edges) {
      // Both ends clearly on one side: no cut point, whatever the rounding below.
      const float ha = planeValues[edge[0]], hb = planeValues[edge[1]];
      if ((ha > kSkipMargin && hb > kSkipMargin) || (ha < -kSkipMargin && hb < -kSkipMargin)) continue;
      const qem::Vertex& a = vertices[edge[0]];
      const qem::Vertex& b = vertices[edge[1]];
      const Vec3 A{a.x, a.y, a.z};
      const Vec3 D{b.x - a.x, b.y - a.y, b.z - a.z};
      const float L = std::sqrt(D.x * D.x + D.y * D.y + D.z * D.z);
      const Vec3 u = D * (1.0f / L);
      const float h = ha;  // P.a A.x + P.b A.y + P.c A.z + P.d
      const float k = P.a * u.x + P.b * u.y + P.c * u.z;
      const float t = -(h / k);
      if (!(t >= 0 && t <= L)) continue;
      const Vec3 Q = A + u * t;
      bool seen = false;
      for (const SectionPoint& point : points) {
        if (SamePoint(point.position, Q, tol)) {
          seen = true;
          break;
        }
      }
      if (!seen) points.push_back({Q, {edge[0], edge[1], t / L}});
    }
  }
}

// True when some vertex of the element lies near the plane or the vertices lie on both
// sides of it (elements without a vertex list are always cut).
bool MayCut(const qem::Element& element, const float* planeValues) {
  if (element.vertexIndices.empty()) return true;
  bool above = false, below = false;
  for (std::uint32_t index : element.vertexIndices) {
    const float h = planeValues[index];
    if (h > kSkipMargin) {
      above = true;
    } else if (h < -kSkipMargin) {
      below = true;
    } else {
      return true;
    }
    if (above && below) return true;
  }
  return false;
}

void AddPolygon(std::vector<SectionPoint>& points, const Vec3& s, SectionGeometry& out) {
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
  for (const SectionPoint& point : points) {
    out.positions.push_back(point.position);
    out.sources.push_back(point.source);
  }
}

void ColourSectionVertices(const qem::Document& document, std::size_t count, unsigned char* bytes) {
  VertexColours& colourOf = state.vertexColours;
  colourOf.Begin(document, state.displayTime);
  const SectionSource* sources = state.clipSources.data();
  for (std::size_t i = 0; i < count; ++i) {
    const SectionSource& source = sources[i];
    const std::uint32_t colour =
        LerpColour(colourOf(source.vertexA), colourOf(source.vertexB), source.fraction);
    std::memcpy(bytes + i * sizeof(SceneVertex) + offsetof(SceneVertex, colour), &colour, 4);
  }
}

// Grows buffer to hold needed items (capacity + a quarter) when it is too small. A failed
// creation leaves the buffer null and the capacity 0, so the next build tries again.
template <class Create>
void Grow(std::uint32_t needed, std::uint32_t& capacity, Create create) {
  if (ErrorPending() || needed <= capacity) return;
  capacity = needed + needed / 4;
  if (!create(capacity)) capacity = 0;
}

// Kept between builds so that dragging does not allocate.
SectionGeometry geometry;

}  // namespace

void BuildSectionIndex(const qem::Document& document, SectionIndex& index) {
  if (index.document == &document) return;
  index = SectionIndex{};
  index.document = &document;
  if (!document.octree) return;
  std::vector<const qem::OctreeNode*> order{document.octree.get()};
  index.nodes.push_back({document.octree->box, 0, 0, 0});
  for (std::size_t head = 0; head < order.size(); ++head) {
    const qem::OctreeNode* node = order[head];
    index.nodes[head].begin = static_cast<std::uint32_t>(index.elements.size());
    for (const qem::Element* element : node->elements) {
      float radius = std::numeric_limits<float>::infinity();
      if (!element->vertexIndices.empty()) {
        float largest = 0;
        for (std::uint32_t v : element->vertexIndices) {
          const qem::Vertex& p = document.vertices[v];
          const float dx = p.x - element->centre.x, dy = p.y - element->centre.y,
                      dz = p.z - element->centre.z;
          largest = std::max(largest, dx * dx + dy * dy + dz * dz);
        }
        // A little more than the farthest vertex, to cover the rounding of the test.
        radius = std::sqrt(largest) * 1.001f + 1e-6f;
      }
      index.spheres.insert(index.spheres.end(),
                           {element->centre.x, element->centre.y, element->centre.z, radius});
      index.elements.push_back(element);
    }
    index.nodes[head].end = static_cast<std::uint32_t>(index.elements.size());
    if (node->children[0]) {
      index.nodes[head].firstChild = static_cast<std::uint32_t>(index.nodes.size());
      for (const auto& child : node->children) {
        order.push_back(child.get());
        index.nodes.push_back({child->box, 0, 0, 0});
      }
    }
  }
}

namespace {

struct Range {
  std::uint32_t begin, end;
};

// The polygons of the index entries in ranges, from the entry at skip on, up to count
// entries, appended to out in entry order.
void CutRanges(const SectionIndex& index, const qem::Document& document, const Plane& P,
               const Vec3& s, float tol, const float* planeValues, const std::vector<Range>& ranges,
               std::size_t skip, std::size_t count, SectionGeometry& out) {
  thread_local std::vector<SectionPoint> points;
  for (const Range& range : ranges) {
    const std::size_t size = range.end - range.begin;
    if (skip >= size) {
      skip -= size;
      continue;
    }
    const auto first = static_cast<std::uint32_t>(range.begin + skip);
    const auto last = static_cast<std::uint32_t>(std::min<std::size_t>(range.end, first + count));
    count -= last - first;
    skip = 0;
    const float* sphere = index.spheres.data() + 4 * std::size_t{first};
    for (std::uint32_t i = first; i < last; ++i, sphere += 4) {
      // The whole element lies farther from the plane than its bounding sphere reaches.
      const float h = P.a * sphere[0] + P.b * sphere[1] + P.c * sphere[2] + P.d;
      if (std::fabs(h) > sphere[3] + kSkipMargin) continue;
      const qem::Element& element = *index.elements[i];
      if (!MayCut(element, planeValues)) continue;
      CutElement(document, element, P, planeValues, tol, points);
      AddPolygon(points, s, out);
    }
    if (count == 0) break;
  }
}

// Below this many entries to look at, a second thread costs more than it saves.
constexpr std::size_t kParallelEntries = 20000;

}  // namespace

void CutDocument(const SectionIndex& index, const qem::Document& document, const Plane& P,
                 const Vec3& s, float tol, SectionGeometry& out, int threads) {
  out.positions.clear();
  out.sources.clear();
  out.triangles.clear();
  out.outline.clear();
  if (index.nodes.empty()) return;
  thread_local std::vector<std::uint32_t> queue;
  thread_local std::vector<Range> ranges;
  thread_local std::vector<float> planeValues;
  // The plane's value at every vertex, once: each vertex belongs to many elements and edges.
  planeValues.resize(document.vertices.size());
  for (std::size_t i = 0; i < planeValues.size(); ++i) {
    const qem::Vertex& v = document.vertices[i];
    planeValues[i] = P.a * v.x + P.b * v.y + P.c * v.z + P.d;
  }
  // The walk is breadth-first from the root, children in order, each child visited when the
  // plane cuts its box; every visited node's elements in their list order.
  queue.clear();
  ranges.clear();
  queue.push_back(0);
  std::size_t entries = 0;
  for (std::size_t head = 0; head < queue.size(); ++head) {
    const SectionIndex::Node& node = index.nodes[queue[head]];
    if (node.end > node.begin) {
      ranges.push_back({node.begin, node.end});
      entries += node.end - node.begin;
    }
    if (node.firstChild != 0) {
      for (std::uint32_t child = node.firstChild; child < node.firstChild + 8; ++child) {
        if (PlaneCutsBox(P, index.nodes[child].box)) queue.push_back(child);
      }
    }
  }
  if (threads < 2 || entries < kParallelEntries) {
    CutRanges(index, document, P, s, tol, planeValues.data(), ranges, 0, entries, out);
    return;
  }
  // Two halves of the entries side by side; the second half's polygons follow the first's,
  // so the result is the same as from one thread.
  // (The worker must not name the thread_local arrays: it would get its own, empty ones.)
  static SectionGeometry second;
  const std::size_t half = entries / 2;
  const float* values = planeValues.data();
  const std::vector<Range>& visited = ranges;
  std::thread worker;
  try {
    worker = std::thread([&index, &document, &P, &s, tol, values, &visited, half, entries] {
      second.positions.clear();
      second.sources.clear();
      second.triangles.clear();
      second.outline.clear();
      CutRanges(index, document, P, s, tol, values, visited, half, entries - half, second);
    });
  } catch (const std::system_error&) {
    // No thread to be had: the whole cut on this one.
    CutRanges(index, document, P, s, tol, values, visited, 0, entries, out);
    return;
  }
  CutRanges(index, document, P, s, tol, planeValues.data(), ranges, 0, half, out);
  worker.join();
  const auto base = static_cast<std::uint32_t>(out.positions.size());
  out.positions.insert(out.positions.end(), second.positions.begin(), second.positions.end());
  out.sources.insert(out.sources.end(), second.sources.begin(), second.sources.end());
  for (std::uint32_t i : second.triangles) out.triangles.push_back(base + i);
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

void GenerateClipBuffers() {
  const qem::Document* document = CurrentDocument();
  Device* device = frame::GetDevice();
  if (!document || !device) return;
  const Plane P = ModelClipPlane();
  const Vec3 s{-P.a, -P.b, -P.c};
  BuildSectionIndex(*document, state.sectionIndex);
  CutDocument(state.sectionIndex, *document, P, s, document->NormalisedEpsilon(), geometry, 2);
  state.clipSources.swap(geometry.sources);  // the old array is reused by the next build

  const auto n = static_cast<std::uint32_t>(geometry.positions.size());
  const auto w = static_cast<std::uint32_t>(geometry.triangles.size());
  const auto g = static_cast<std::uint32_t>(geometry.outline.size());
  state.clipVertexCount = n;
  state.clipTriangleCount = w / 3;
  state.clipLineCount = g / 2;

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

  Grow(n, state.clipVertexCapacity, [&](std::uint32_t capacity) {
    state.clipVertexBuffer.reset();
    const HRESULT hr = device->CreateVertexBuffer(capacity * UINT{sizeof(SceneVertex)}, 0, kSceneFvf,
                                                  D3DPOOL_MANAGED, state.clipVertexBuffer);
    if (Succeeded(hr)) return true;
    state.clipVertexBuffer.reset();
    ErrorRaiseDirectX(hr, "Nie można utworzyć bufora wierzchołków obcięcia"_cp, "", 0);
    return false;
  });
  Grow(w, state.clipIndexCapacity, [&](std::uint32_t capacity) {
    state.clipIndexBuffer.reset();
    const HRESULT hr = device->CreateIndexBuffer(capacity * indexSize, 0, format, D3DPOOL_MANAGED,
                                                 state.clipIndexBuffer);
    if (Succeeded(hr)) return true;
    state.clipIndexBuffer.reset();
    ErrorRaiseDirectX(hr, "Nie można utworzyć bufora indeksów obcięcia"_cp, "", 0);
    return false;
  });
  Grow(g, state.clipWireCapacity, [&](std::uint32_t capacity) {
    state.clipWireBuffer.reset();
    const HRESULT hr = device->CreateIndexBuffer(capacity * indexSize, 0, format, D3DPOOL_MANAGED,
                                                 state.clipWireBuffer);
    if (Succeeded(hr)) return true;
    state.clipWireBuffer.reset();
    ErrorRaiseDirectX(hr, "Nie można utworzyć bufora indeksów obcięcia szkieletowego"_cp, "", 0);
    return false;
  });

  if (!ErrorPending() && n != 0 && w != 0 && g != 0) {
    void* vertexData = nullptr;
    void* indexData = nullptr;
    void* wireData = nullptr;
    bool vertexLocked = false, indexLocked = false, wireLocked = false;
    HRESULT hr = state.clipVertexBuffer->Lock(0, 0, &vertexData, D3DLOCK_NOOVERWRITE);
    if (Failed(hr)) {
      ErrorRaiseDirectX(hr, "Nie można zablokować bufora wierzchołków obcięcia 1"_cp, "", 0);
    } else {
      vertexLocked = true;
      hr = state.clipIndexBuffer->Lock(0, 0, &indexData, D3DLOCK_NOOVERWRITE);
      if (Failed(hr)) {
        ErrorRaiseDirectX(hr, "Nie można zablokować bufora indeksów obcięcia"_cp, "", 0);
      } else {
        indexLocked = true;
        hr = state.clipWireBuffer->Lock(0, 0, &wireData, D3DLOCK_NOOVERWRITE);
        if (Failed(hr)) {
          ErrorRaiseDirectX(hr, "Nie można zablokować bufora indeksów obcięcia szkieletowego"_cp, "", 0);
        } else {
          wireLocked = true;
        }
      }
    }
    if (vertexLocked && indexLocked && wireLocked) {
      auto* bytes = static_cast<unsigned char*>(vertexData);
      for (std::uint32_t i = 0; i < n; ++i) {
        SceneVertex vertex;
        vertex.x = geometry.positions[i].x;
        vertex.y = geometry.positions[i].y;
        vertex.z = geometry.positions[i].z;
        vertex.nx = s.x;
        vertex.ny = s.y;
        vertex.nz = s.z;
        std::memcpy(bytes + i * sizeof(SceneVertex), &vertex, sizeof vertex);
      }
      ColourSectionVertices(*document, n, bytes);
      if (format == D3DFMT_INDEX32) {
        std::memcpy(indexData, geometry.triangles.data(), std::size_t{w} * 4);
        std::memcpy(wireData, geometry.outline.data(), std::size_t{g} * 4);
      } else {
        auto* triangles = static_cast<std::uint16_t*>(indexData);
        for (std::uint32_t i = 0; i < w; ++i) triangles[i] = static_cast<std::uint16_t>(geometry.triangles[i]);
        auto* outline = static_cast<std::uint16_t*>(wireData);
        for (std::uint32_t i = 0; i < g; ++i) outline[i] = static_cast<std::uint16_t>(geometry.outline[i]);
      }
    }
    if (wireLocked) state.clipWireBuffer->Unlock();
    if (indexLocked) state.clipIndexBuffer->Unlock();
    if (vertexLocked) state.clipVertexBuffer->Unlock();
  }
  if (ErrorPending()) ERROR_ADD_LOCATION();
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
  state.clipDistance =
      Clamp(-kSqrt3, state.clipDistance + static_cast<float>(dx + dy) * 0.001f, kSqrt3);
  UpdateClipPlane();
  GenerateClipBuffers();
  if (ErrorPending()) return;
  RefreshStatus();
}

}  // namespace engine
