#include "qem/Boundary.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "qem/BigAlloc.h"

namespace qem {

namespace {

bool Matches(const Triangle& t, const Triangle& u) {
  auto in = [&](std::uint32_t v) { return v == u.a || v == u.b || v == u.c; };
  return in(t.a) && in(t.b) && in(t.c);
}

// ---- The octree search ------------------------------------------------------------------

struct Query {
  Box box;
  const Triangle* triangle;
  const Element* excluded;
};

bool Search(const OctreeNode& node, const Query& q) {
  for (const Element* x : node.elements) {
    if (x == q.excluded) continue;
    for (const Triangle& u : x->triangles) {
      if (Matches(*q.triangle, u)) return true;
    }
  }
  if (!node.children[0]) return false;
  for (const auto& child : node.children) {
    if (Overlaps(q.box, child->box) && Search(*child, q)) return true;
  }
  return false;
}

// ---- Grouping on the smallest vertex number ---------------------------------------------

void Sort3(const Triangle& t, std::uint32_t& x, std::uint32_t& y, std::uint32_t& z) {
  x = t.a, y = t.b, z = t.c;
  if (x > y) std::swap(x, y);
  if (y > z) std::swap(y, z);
  if (x > y) std::swap(x, y);
}

// A triangle with three different vertex numbers is matched only by one with the same
// three: it is entered under its smallest number with the other two and its element.
struct Face {
  std::uint32_t y, z, owner;
};

constexpr std::uint32_t kNoOwner = 0xFFFFFFFFu;

// Who holds a vertex or a pair of vertices in some triangle: the first element seen, and
// whether another one does too.
struct Holders {
  std::uint32_t owner = kNoOwner;
  bool several = false;

  void Add(std::uint32_t element) {
    if (owner == kNoOwner) {
      owner = element;
    } else if (owner != element) {
      several = true;
    }
  }
  bool OtherThan(std::uint32_t element) const { return owner != kNoOwner && (owner != element || several); }
};

std::uint64_t SingleKey(std::uint32_t a) { return (std::uint64_t{a} << 32) | 0xFFFFFFFFu; }
std::uint64_t PairKey(std::uint32_t a, std::uint32_t b) { return (std::uint64_t{a} << 32) | b; }

// The key a triangle with a repeated vertex number asks about: the one or two numbers it
// uses. Any triangle of another element that uses them all matches it.
std::uint64_t DegenerateKey(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  if (x == z) return SingleKey(x);
  return PairKey(x, x == y ? z : y);
}

constexpr std::size_t kCancelEvery = 4096;

}  // namespace

void FindBoundaryInOctree(Document& doc, LoadControl& control) {
  control.ResetProgress(static_cast<std::uint32_t>(doc.elements.size()));
  if (!doc.octree) return;
  const float margin = doc.NormalisedEpsilon();
  for (const Element& element : doc.elements) {
    for (const Triangle& t : element.triangles) {
      const Vertex& a = doc.vertices[t.a];
      const Vertex& b = doc.vertices[t.b];
      const Vertex& c = doc.vertices[t.c];
      Box box;
      box.min = {std::min(std::min(a.x, b.x), c.x), std::min(std::min(a.y, b.y), c.y), std::min(std::min(a.z, b.z), c.z)};
      box.max = {std::max(std::max(a.x, b.x), c.x), std::max(std::max(a.y, b.y), c.y), std::max(std::max(a.z, b.z), c.z)};
      const Query q{box.Grow(margin), &t, &element};
      if (!Search(*doc.octree, q)) {
        doc.boundaryTriangles.push_back(&t);
        doc.boundaryElements.push_back(&element);
      }
    }
    control.Advance();
    if (control.Cancelled()) return;
  }
}

void FindBoundary(Document& doc, LoadControl& control) {
  const std::size_t elementCount = doc.elements.size();
  control.ResetProgress(static_cast<std::uint32_t>(elementCount));
  const std::uint32_t vertexCount = doc.VertexCount();
  // The four passes share the count from 0 to the element count: pass k (0..3), `done`
  // of `of` items through it, stands at (k + done / of) / 4 of the way.
  auto progress = [&](std::uint64_t pass, std::uint64_t done, std::uint64_t of) {
    const std::uint64_t n = elementCount;
    control.SetProgress(static_cast<std::uint32_t>((pass * n + (of ? done * n / of : 0)) / 4));
  };

  // Pass 1: how many faces each smallest vertex number heads.
  std::vector<std::uint32_t, BigAllocator<std::uint32_t>> start(std::size_t{vertexCount} + 1, 0);
  bool anyDegenerate = false;
  std::size_t e = 0;
  for (const Element& element : doc.elements) {
    for (const Triangle& t : element.triangles) {
      std::uint32_t x, y, z;
      Sort3(t, x, y, z);
      if (x < y && y < z) {
        ++start[x + 1];
      } else {
        anyDegenerate = true;
      }
    }
    if (++e % kCancelEvery == 0) {
      progress(0, e, elementCount);
      if (control.Cancelled()) return;
    }
  }
  for (std::size_t v = 0; v < vertexCount; ++v) start[v + 1] += start[v];
  const std::size_t faceCount = start[vertexCount];

  // Pass 2: the faces, grouped by smallest vertex, in element order within a group. A
  // triangle's place among them is found again in pass 4 by the same walk, so no array
  // per triangle is kept.
  std::vector<Face, UninitAllocator<Face>> faces(faceCount);
  std::vector<std::uint32_t, BigAllocator<std::uint32_t>> cursor(start.begin(), start.end() - 1);
  e = 0;
  for (const Element& element : doc.elements) {
    const auto owner = static_cast<std::uint32_t>(e);
    for (const Triangle& t : element.triangles) {
      std::uint32_t x, y, z;
      Sort3(t, x, y, z);
      if (x < y && y < z) faces[cursor[x]++] = {y, z, owner};
    }
    if (++e % kCancelEvery == 0) {
      progress(1, e, elementCount);
      if (control.Cancelled()) return;
    }
  }

  // Pass 3: a face is inner when another element has the same one.
  std::vector<std::uint8_t, BigAllocator<std::uint8_t>> inner(faceCount, 0);
  std::vector<std::uint32_t> order;
  for (std::size_t v = 0; v < vertexCount; ++v) {
    if (v % kCancelEvery == 0) progress(2, v, vertexCount);
    const std::size_t first = start[v], last = start[v + 1];
    if (last - first < 2) continue;
    if (last - first <= 16) {
      for (std::size_t i = first; i < last; ++i) {
        for (std::size_t j = first; j < last; ++j) {
          if (faces[j].y == faces[i].y && faces[j].z == faces[i].z && faces[j].owner != faces[i].owner) {
            inner[i] = 1;
            break;
          }
        }
      }
      continue;
    }
    order.resize(last - first);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(first + i);
    std::sort(order.begin(), order.end(), [&](std::uint32_t p, std::uint32_t q) {
      return faces[p].y != faces[q].y ? faces[p].y < faces[q].y : faces[p].z < faces[q].z;
    });
    for (std::size_t i = 0; i < order.size();) {
      std::size_t j = i + 1;
      bool shared = false;
      while (j < order.size() && faces[order[j]].y == faces[order[i]].y && faces[order[j]].z == faces[order[i]].z) {
        if (faces[order[j]].owner != faces[order[i]].owner) shared = true;
        ++j;
      }
      if (shared) {
        for (std::size_t k = i; k < j; ++k) inner[order[k]] = 1;
      }
      i = j;
    }
    if (control.Cancelled()) return;
  }

  // Triangles with a repeated vertex number (rare): who holds the numbers they use.
  std::unordered_map<std::uint64_t, Holders> holders;
  if (anyDegenerate) {
    std::vector<bool> asked(vertexCount, false);
    for (const Element& element : doc.elements) {
      for (const Triangle& t : element.triangles) {
        std::uint32_t x, y, z;
        Sort3(t, x, y, z);
        if (x < y && y < z) continue;
        holders.emplace(DegenerateKey(x, y, z), Holders{});
        asked[x] = true;
      }
    }
    e = 0;
    for (const Element& element : doc.elements) {
      const auto owner = static_cast<std::uint32_t>(e);
      for (const Triangle& t : element.triangles) {
        std::uint32_t s[3];
        Sort3(t, s[0], s[1], s[2]);
        const std::size_t n = static_cast<std::size_t>(std::unique(s, s + 3) - s);
        for (std::size_t i = 0; i < n; ++i) {
          if (!asked[s[i]]) continue;
          if (const auto it = holders.find(SingleKey(s[i])); it != holders.end()) it->second.Add(owner);
          for (std::size_t j = i + 1; j < n; ++j) {
            if (const auto it = holders.find(PairKey(s[i], s[j])); it != holders.end()) it->second.Add(owner);
          }
        }
      }
      if (++e % kCancelEvery == 0 && control.Cancelled()) return;
    }
  }

  // Pass 4: the answer for every triangle, in element and triangle order.
  std::copy(start.begin(), start.end() - 1, cursor.begin());
  e = 0;
  for (const Element& element : doc.elements) {
    const auto owner = static_cast<std::uint32_t>(e);
    for (const Triangle& t : element.triangles) {
      std::uint32_t x, y, z;
      Sort3(t, x, y, z);
      const bool shared =
          x < y && y < z ? inner[cursor[x]++] != 0 : holders.find(DegenerateKey(x, y, z))->second.OtherThan(owner);
      if (!shared) {
        doc.boundaryTriangles.push_back(&t);
        doc.boundaryElements.push_back(&element);
      }
    }
    if (++e % kCancelEvery == 0) progress(3, e, elementCount);
    if (control.Cancelled()) {
      progress(3, e, elementCount);
      return;
    }
  }
  control.SetProgress(static_cast<std::uint32_t>(elementCount));
}

}  // namespace qem
