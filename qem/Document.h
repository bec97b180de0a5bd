#pragma once
// The mesh document: one QEM file in memory (vertices, solid elements written as
// triangles, time frames of per-vertex values) and what the loader derives from it before
// the engine may draw (bounds and normalisation, time and value ranges, element vertex
// sets and centres, the element octree, the boundary triangles).
//
// The background loader (Loader.h) creates and fills a document on its own thread; once it
// reports a finished load the document is only read, from the main thread. Nothing here
// locks.
//
// Storage: the per-element arrays live in a few large blocks owned by the document
// (Arena), not in one heap object each, so that a mesh of millions of elements costs tens
// of bytes per element. Element pointers and triangle pointers stay valid for the
// document's life: `elements` never moves its records, and an element's triangles are
// never resized after reading (boundaryTriangles points into them).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace qem {

struct Float3 {
  float x = 0, y = 0, z = 0;
};

// One vertex position: file units as read, normalised units after preparation.
struct Vertex {
  float x = 0, y = 0, z = 0;
};

// One face of an element: vertex numbers in the order the file gives them.
struct Triangle {
  std::uint32_t a = 0, b = 0, c = 0;
};

// A view of count records owned by the document.
template <class T>
struct Span {
  T* data = nullptr;
  std::uint32_t count = 0;

  T* begin() const { return data; }
  T* end() const { return data + count; }
  std::uint32_t size() const { return count; }
  bool empty() const { return count == 0; }
  T& operator[](std::uint32_t i) const { return data[i]; }
};

struct Element {
  Span<Triangle> triangles;          // file order
  Span<std::uint32_t> vertexIndices; // distinct vertex numbers, ascending (after preparation)
  Float3 centre;                     // mean of those vertices, normalised units (after preparation)
};

struct TimeFrame {
  float time = 0;
  std::vector<float> values;  // one per vertex
};

// An axis-aligned box.
struct Box {
  Float3 min, max;

  // Every component of min decreased by d, of max increased by d.
  Box Grow(float d) const {
    return {{min.x - d, min.y - d, min.z - d}, {max.x + d, max.y + d, max.z + d}};
  }
};

// Strict on every axis: boxes that only touch do not overlap.
inline bool Overlaps(const Box& a, const Box& b) {
  return b.max.x > a.min.x && b.min.x < a.max.x && b.max.y > a.min.y && b.min.y < a.max.y &&
         b.max.z > a.min.z && b.min.z < a.max.z;
}

// One node of the element octree (Octree.h). A node has no children or all eight; users
// test children[0] only.
struct OctreeNode {
  std::int32_t level = 0;
  Box box;
  Float3 centre;
  std::vector<Element*> elements;  // non-owning, in the order they arrived
  std::unique_ptr<OctreeNode> children[8];
};

// Fixed-size records handed out in large blocks that never move. Allocate(n) gives n
// contiguous, uninitialised records.
template <class T>
class Arena {
 public:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;

  T* Allocate(std::size_t n) {
    if (n > available) {
      const std::size_t size = n > kBlock ? n : kBlock;
      blocks.push_back(std::make_unique_for_overwrite<T[]>(size));
      next = blocks.back().get();
      available = size;
    }
    T* result = next;
    next += n;
    available -= n;
    return result;
  }

  void Clear() {
    blocks.clear();
    next = nullptr;
    available = 0;
  }

 private:
  std::vector<std::unique_ptr<T[]>> blocks;
  T* next = nullptr;
  std::size_t available = 0;
};

class Document {
 public:
  Document() = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document();

  std::vector<Vertex> vertices;
  std::deque<Element> elements;  // file order; records never move
  std::vector<TimeFrame> frames;

  Float3 boundsMin, boundsMax;  // file units
  float scale = 0;              // half the largest extent, file units
  Float3 centre;                // file units
  float valueMin = 0, valueMax = 0;
  float timeMin = 0, timeMax = 0;
  float epsilon = 0;  // 0.001 x the smallest extent, file units

  std::unique_ptr<OctreeNode> octree;

  std::vector<const Triangle*> boundaryTriangles;
  std::vector<const Element*> boundaryElements;  // entry k owns boundaryTriangles[k]

  // Storage behind Element::triangles and Element::vertexIndices.
  Arena<Triangle> triangleStore;
  Arena<std::uint32_t> indexStore;

  std::uint32_t VertexCount() const { return static_cast<std::uint32_t>(vertices.size()); }

  // The value of vertex at time t, linear between the two frames around t; the first
  // frame's value before timeMin and the last's from timeMax on. Needs a loaded document
  // (at least one frame, vertex below VertexCount()).
  float ValueAt(std::uint32_t vertex, float t) const;

  // epsilon in normalised units: the margin to use on normalised positions (the search
  // box of a triangle, the cross-section's point tolerance). epsilon itself is in file
  // units and would be far too large or too small there.
  float NormalisedEpsilon() const { return scale != 0 ? epsilon / scale : 0.0f; }
};

}  // namespace qem
