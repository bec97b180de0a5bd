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

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "qem/BigAlloc.h"

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

// A view of count records owned by the document. Packed to 12 bytes (4-byte aligned), so
// that an element's two views and its centre take 36 bytes rather than 48: at millions of
// elements the record is a large part of the document.
template <class T>
struct __attribute__((packed, aligned(4))) Span {
  T* data = nullptr;
  std::uint32_t count = 0;

  T* begin() const { return data; }
  T* end() const { return data + count; }
  std::uint32_t size() const { return count; }
  bool empty() const { return count == 0; }
  T& operator[](std::uint32_t i) const { return data[i]; }
};

struct Element {
  Span<Triangle> triangles;           // file order
  Span<std::uint32_t> vertexIndices;  // distinct vertex numbers, ascending (after preparation)
  Float3 centre;                      // mean of those vertices, normalised units (after preparation)
};

static_assert(std::is_trivially_destructible_v<Element>, "elements are freed block by block");
static_assert(sizeof(Element) == 36, "an element record stays small");

struct TimeFrame {
  float time = 0;
  std::vector<float> values;  // one per vertex
};

// An axis-aligned box.
struct Box {
  Float3 min, max;

  // Every component of min decreased by d, of max increased by d.
  Box Grow(float d) const { return {{min.x - d, min.y - d, min.z - d}, {max.x + d, max.y + d, max.z + d}}; }
};

// Strict on every axis: boxes that only touch do not overlap.
inline bool Overlaps(const Box& a, const Box& b) {
  return b.max.x > a.min.x && b.min.x < a.max.x && b.max.y > a.min.y && b.min.y < a.max.y && b.max.z > a.min.z &&
         b.min.z < a.max.z;
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
// contiguous, uninitialised records. Blocks grow from 64 KiB to 16 MiB as the document
// does, so a small mesh stays small and a large one takes few, huge-page blocks.
template <class T>
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { Clear(); }

  T* Allocate(std::size_t n) {
    if (n > available) {
      nextBlock = nextBlock == 0 ? (std::size_t{64} << 10) / sizeof(T) : std::min(nextBlock * 2, kLargestBlock);
      const std::size_t size = n > nextBlock ? n : nextBlock;
      blocks.push_back(static_cast<T*>(AllocateBig(size * sizeof(T))));
      next = blocks.back();
      available = size;
    }
    T* result = next;
    next += n;
    available -= n;
    return result;
  }

  // Makes room for n more records in one block now, so that the next Allocate calls
  // totalling n take them one after the other from the returned address. Never throws:
  // nullptr when the memory is refused, and Allocate goes on as without it.
  T* Reserve(std::size_t n) noexcept {
    if (n <= available) return next;
    if (!TryAppendBlock(blocks, n)) return nullptr;
    next = blocks.back();
    available = n;
    return next;
  }

  void Clear() {
    for (T* block : blocks) FreeBig(block);
    blocks.clear();
    next = nullptr;
    available = 0;
    nextBlock = 0;
  }

 private:
  static constexpr std::size_t kLargestBlock = (std::size_t{16} << 20) / sizeof(T);
  std::vector<T*> blocks;
  T* next = nullptr;
  std::size_t available = 0;
  std::size_t nextBlock = 0;
};

// The document's elements in file order: records in blocks of 2^19 that never move, so
// element pointers stay valid while the list grows. Indexable and iterable like a deque.
// A block is 18 MiB, a whole number of huge pages: all of a full block is in huge pages
// and none of it is held twice, and the untouched end of the last block costs nothing.
class ElementList {
  static constexpr std::size_t kShift = 19;

 public:
  static constexpr std::size_t kBlock = std::size_t{1} << kShift;  // records per block
  static_assert(kBlock * sizeof(Element) % kHugePage == 0, "a block of whole huge pages");

  template <class E>
  class Iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = Element;
    using difference_type = std::ptrdiff_t;
    using pointer = E*;
    using reference = E&;

    Iterator() = default;
    Iterator(const ElementList* owner, std::size_t at) : list(owner), index(at) {}
    E& operator*() const { return (*list)[index]; }
    E* operator->() const { return &(*list)[index]; }
    E& operator[](difference_type d) const { return (*list)[index + static_cast<std::size_t>(d)]; }
    Iterator& operator++() { return ++index, *this; }
    Iterator operator++(int) { return Iterator(list, index++); }
    Iterator& operator--() { return --index, *this; }
    Iterator operator--(int) { return Iterator(list, index--); }
    Iterator& operator+=(difference_type d) { return index += static_cast<std::size_t>(d), *this; }
    Iterator& operator-=(difference_type d) { return index -= static_cast<std::size_t>(d), *this; }
    Iterator operator+(difference_type d) const { return Iterator(list, index + static_cast<std::size_t>(d)); }
    Iterator operator-(difference_type d) const { return Iterator(list, index - static_cast<std::size_t>(d)); }
    friend Iterator operator+(difference_type d, const Iterator& it) { return it + d; }
    difference_type operator-(const Iterator& other) const {
      return static_cast<difference_type>(index) - static_cast<difference_type>(other.index);
    }
    bool operator==(const Iterator& other) const { return index == other.index; }
    auto operator<=>(const Iterator& other) const { return index <=> other.index; }

   private:
    const ElementList* list = nullptr;
    std::size_t index = 0;
  };
  using iterator = Iterator<Element>;
  using const_iterator = Iterator<const Element>;

  ElementList() = default;
  ElementList(const ElementList&) = delete;
  ElementList& operator=(const ElementList&) = delete;
  ~ElementList() { clear(); }

  // Allocates the blocks for n more records now, as far as the memory allows (never
  // throws); the records' addresses are then known ahead, &list[i] for i below Capacity().
  void Reserve(std::size_t n) noexcept {
    while (Capacity() - count < n) {
      if (!TryAppendBlock(blocks, kBlock)) return;
    }
  }
  std::size_t Capacity() const { return blocks.size() * kBlock; }
  // Gives back the blocks Reserve took that hold no record.
  void ReleaseUnused() {
    while (Capacity() - count >= kBlock) {
      FreeBig(blocks.back());
      blocks.pop_back();
    }
  }

  Element& emplace_back() {
    if (count == Capacity()) blocks.push_back(static_cast<Element*>(AllocateBig(kBlock * sizeof(Element))));
    Element* e = ::new (&blocks[count >> kShift][count & (kBlock - 1)]) Element();
    ++count;
    return *e;
  }

  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }
  Element& operator[](std::size_t i) const { return blocks[i >> kShift][i & (kBlock - 1)]; }
  Element& front() const { return (*this)[0]; }
  Element& back() const { return (*this)[count - 1]; }

  iterator begin() { return {this, 0}; }
  iterator end() { return {this, count}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count}; }

  // Calls f(element) for each element in order; quicker than the iterators in hot loops.
  template <class F>
  void ForEach(F&& f) const {
    for (std::size_t b = 0; b * kBlock < count; ++b) {
      const std::size_t n = std::min(kBlock, count - b * kBlock);
      Element* block = blocks[b];
      for (std::size_t i = 0; i < n; ++i) f(block[i]);
    }
  }

  void clear() {
    for (Element* block : blocks) FreeBig(block);
    blocks.clear();
    count = 0;
  }

 private:
  std::vector<Element*> blocks;
  std::size_t count = 0;
};

class Document {
 public:
  Document() = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document();

  std::vector<Vertex> vertices;
  ElementList elements;  // file order; records never move
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

  // Back to an empty document, its memory given back (a load that failed or starts again).
  void Clear();

  std::uint32_t VertexCount() const { return static_cast<std::uint32_t>(vertices.size()); }

  // The value of vertex at time t, linear between the two frames around t; the first
  // frame's value before timeMin and the last's from timeMax on. Needs a loaded document
  // (at least one frame, vertex below VertexCount()).
  float ValueAt(std::uint32_t vertex, float t) const;

  // Where time t falls among the frames, for ValueAt and for samplers of every vertex at
  // one time: the value at t is frames[first]'s value times (1 - f) plus f times
  // frames[first + 1]'s, or frames[first]'s alone when single. Needs at least one frame.
  struct FrameInterval {
    std::size_t first = 0;
    float f = 0;
    bool single = true;
  };
  FrameInterval IntervalAt(float t) const;

  // epsilon in normalised units: the margin to use on normalised positions (the search
  // box of a triangle, the cross-section's point tolerance). epsilon itself is in file
  // units and would be far too large or too small there.
  // Taken in double: a mesh of tiny extents has an epsilon below the float range's normal
  // numbers.
  float NormalisedEpsilon() const {
    return scale != 0 ? static_cast<float>(static_cast<double>(epsilon) / scale) : 0.0f;
  }
};

}  // namespace qem
