#include "qem/Boundary.h"

#include <algorithm>
#include <functional>
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

// The grouping holds the faces of one range of smallest vertex numbers at a time: about
// an eighth of all faces (at least kFewestFacesPerRange), for one walk over the elements
// and a few more over those in each range.
constexpr std::size_t kDefaultRanges = 8;
constexpr std::size_t kFewestFacesPerRange = std::size_t{1} << 16;

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
      box.min = {std::min(std::min(a.x, b.x), c.x), std::min(std::min(a.y, b.y), c.y),
                 std::min(std::min(a.z, b.z), c.z)};
      box.max = {std::max(std::max(a.x, b.x), c.x), std::max(std::max(a.y, b.y), c.y),
                 std::max(std::max(a.z, b.z), c.z)};
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

namespace {

// ---- The passes of the grouping ---------------------------------------------------------

using FaceStarts = std::vector<std::uint32_t, BigAllocator<std::uint32_t>>;
using Faces = std::vector<Face, UninitAllocator<Face>>;
using HolderMap = std::unordered_map<std::uint64_t, Holders>;

// One bit per face: set when another element has the same face.
class InnerFlags {
 public:
  explicit InnerFlags(std::size_t faces) : words((faces + 63) / 64, 0) {}
  void Set(std::size_t i) { words[i >> 6] |= std::uint64_t{1} << (i & 63); }
  bool operator[](std::size_t i) const { return (words[i >> 6] >> (i & 63)) & 1; }

 private:
  std::vector<std::uint64_t, BigAllocator<std::uint64_t>> words;
};

// The smallest and largest smallest-vertex number of the faces of each run of
// kCancelEvery elements, so that a range of vertices walks only the runs that may hold
// its faces (in a mesh numbered in space, a few runs for each range).
struct RunBounds {
  std::vector<std::uint32_t> low, high;
};

// The passes share the count from 0 to the element count in quarters: counting, then
// grouping and matching (the ranges of vertices, one after the other, taking half), then
// answering. fraction is how far through its part the pass is.
struct PassProgress {
  LoadControl& control;
  std::uint64_t elementCount;

  void operator()(double from, double span, double fraction) const {
    control.SetProgress(static_cast<std::uint32_t>(static_cast<double>(elementCount) * (from + span * fraction) / 4));
  }
};

// Pass 1: how many faces each smallest vertex number heads, summed into the start of each
// vertex's group (start has one entry more than there are vertices). False when cancelled.
bool CountFaces(const Document& doc, FaceStarts& start, RunBounds& runs, bool& anyDegenerate,
                const PassProgress& progress) {
  const std::uint32_t vertexCount = doc.VertexCount();
  start.assign(std::size_t{vertexCount} + 1, 0);
  const std::size_t runCount = (doc.elements.size() + kCancelEvery - 1) / kCancelEvery;
  runs.low.assign(runCount, 0xFFFFFFFFu);
  runs.high.assign(runCount, 0);
  anyDegenerate = false;
  std::size_t e = 0;
  bool cancelled = false;
  doc.elements.ForEach([&](const Element& element) {
    if (cancelled) return;
    // Kept in locals: the counts written through start could otherwise be taken to alias them.
    std::uint32_t low = 0xFFFFFFFFu, high = 0;
    for (const Triangle& t : element.triangles) {
      std::uint32_t x, y, z;
      Sort3(t, x, y, z);
      if (x < y && y < z) {
        ++start[x + 1];
        low = std::min(low, x);
        high = std::max(high, x);
      } else {
        anyDegenerate = true;
      }
    }
    std::uint32_t& runLow = runs.low[e / kCancelEvery];
    std::uint32_t& runHigh = runs.high[e / kCancelEvery];
    runLow = std::min(runLow, low);
    runHigh = std::max(runHigh, high);
    if (++e % kCancelEvery == 0) {
      progress(0, 1, static_cast<double>(e) / static_cast<double>(progress.elementCount));
      cancelled = progress.control.Cancelled();
    }
  });
  if (cancelled) return false;
  for (std::size_t v = 0; v < vertexCount; ++v) start[v + 1] += start[v];
  return true;
}

// The ranges of smallest vertex numbers [bounds[k], bounds[k + 1]), each heading at most
// facesPerRange faces unless one vertex alone heads more.
std::vector<std::uint32_t> Ranges(const FaceStarts& start, std::size_t facesPerRange) {
  const std::size_t vertexCount = start.size() - 1;
  std::vector<std::uint32_t> bounds = {0};
  std::size_t v = 0;
  while (v < vertexCount) {
    std::size_t end = v + 1;
    while (end < vertexCount && start[end + 1] - start[v] <= facesPerRange) ++end;
    bounds.push_back(static_cast<std::uint32_t>(end));
    v = end;
  }
  return bounds;
}

// Pass 2, for the vertices [first, last): their faces, grouped by smallest vertex, in
// element order within a group, at faces[start[v] - start[first]]. A triangle's place
// among all faces is found again in the last pass by the same walk, so no array per
// triangle is kept.
bool GroupFaces(const Document& doc, const FaceStarts& start, const RunBounds& runs, std::uint32_t first,
                std::uint32_t last, Faces& faces, const std::function<void(double)>& progress, LoadControl& control) {
  const std::uint32_t base = start[first];
  std::vector<std::uint32_t> cursor(start.begin() + first, start.begin() + last);
  for (auto& c : cursor) c -= base;
  const std::size_t elementCount = doc.elements.size();
  for (std::size_t run = 0; run < runs.low.size(); ++run) {
    if (runs.high[run] < first || runs.low[run] >= last) continue;
    const std::size_t end = std::min(elementCount, (run + 1) * kCancelEvery);
    for (std::size_t e = run * kCancelEvery; e < end; ++e) {
      const auto owner = static_cast<std::uint32_t>(e);
      for (const Triangle& t : doc.elements[e].triangles) {
        std::uint32_t x, y, z;
        Sort3(t, x, y, z);
        if (x >= first && x < last && x < y && y < z) faces[cursor[x - first]++] = {y, z, owner};
      }
    }
    progress(static_cast<double>(run + 1) / static_cast<double>(runs.low.size()));
    // As in the other walks, the cancel is looked at after each whole run of elements.
    if (end % kCancelEvery == 0 && control.Cancelled()) return false;
  }
  return true;
}

// Marks the faces of one vertex's group (count faces from group, the first of them face
// number at among all) that another element has too. Small groups (the usual case) are
// compared pairwise; large ones sorted through order.
void MarkSharedInGroup(const Face* group, std::size_t count, std::size_t at, InnerFlags& inner,
                       std::vector<std::uint32_t>& order) {
  if (count <= 16) {
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t j = 0; j < count; ++j) {
        if (group[j].y == group[i].y && group[j].z == group[i].z && group[j].owner != group[i].owner) {
          inner.Set(at + i);
          break;
        }
      }
    }
    return;
  }
  order.resize(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = static_cast<std::uint32_t>(i);
  std::sort(order.begin(), order.end(), [&](std::uint32_t p, std::uint32_t q) {
    return group[p].y != group[q].y ? group[p].y < group[q].y : group[p].z < group[q].z;
  });
  for (std::size_t i = 0; i < order.size();) {
    std::size_t j = i + 1;
    bool shared = false;
    while (j < order.size() && group[order[j]].y == group[order[i]].y && group[order[j]].z == group[order[i]].z) {
      if (group[order[j]].owner != group[order[i]].owner) shared = true;
      ++j;
    }
    if (shared) {
      for (std::size_t k = i; k < j; ++k) inner.Set(at + order[k]);
    }
    i = j;
  }
}

// Pass 3, for the vertices [first, last): a face is inner when another element has the
// same one.
bool MarkInnerFaces(const FaceStarts& start, std::uint32_t first, std::uint32_t last, const Faces& faces,
                    InnerFlags& inner, const std::function<void(double)>& progress, LoadControl& control) {
  const std::uint32_t base = start[first];
  std::vector<std::uint32_t> order;
  for (std::size_t v = first; v < last; ++v) {
    if ((v - first) % kCancelEvery == 0) progress(static_cast<double>(v - first) / static_cast<double>(last - first));
    const std::size_t from = start[v], to = start[v + 1];
    if (to - from < 2) continue;
    MarkSharedInGroup(faces.data() + (from - base), to - from, from, inner, order);
    // Sorting a large group is where this pass spends its time: the cancel is looked at
    // after each one.
    if (to - from > 16 && control.Cancelled()) return false;
  }
  return true;
}

// Triangles with a repeated vertex number (rare): who holds the numbers they use.
bool FindDegenerateHolders(const Document& doc, HolderMap& holders, LoadControl& control) {
  std::vector<bool> asked(doc.VertexCount(), false);
  for (const Element& element : doc.elements) {
    for (const Triangle& t : element.triangles) {
      std::uint32_t x, y, z;
      Sort3(t, x, y, z);
      if (x < y && y < z) continue;
      holders.emplace(DegenerateKey(x, y, z), Holders{});
      asked[x] = true;
    }
  }
  std::size_t e = 0;
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
    if (++e % kCancelEvery == 0 && control.Cancelled()) return false;
  }
  return true;
}

// Pass 4: the answer for every triangle, appended in element and triangle order.
void CollectBoundary(Document& doc, const FaceStarts& start, const InnerFlags& inner, const HolderMap& holders,
                     const PassProgress& progress) {
  FaceStarts cursor(start.begin(), start.end() - 1);
  std::size_t e = 0;
  for (const Element& element : doc.elements) {
    const auto owner = static_cast<std::uint32_t>(e);
    for (const Triangle& t : element.triangles) {
      std::uint32_t x, y, z;
      Sort3(t, x, y, z);
      const bool shared =
          x < y && y < z ? inner[cursor[x]++] : holders.find(DegenerateKey(x, y, z))->second.OtherThan(owner);
      if (!shared) {
        doc.boundaryTriangles.push_back(&t);
        doc.boundaryElements.push_back(&element);
      }
    }
    ++e;
    const bool cancelled = progress.control.Cancelled();
    if (e % kCancelEvery == 0 || cancelled) {
      progress(3, 1, static_cast<double>(e) / static_cast<double>(progress.elementCount));
    }
    if (cancelled) return;
  }
}

}  // namespace

void FindBoundary(Document& doc, LoadControl& control, std::size_t facesPerRange) {
  const std::size_t elementCount = doc.elements.size();
  control.ResetProgress(static_cast<std::uint32_t>(elementCount));
  const PassProgress progress{control, elementCount};

  FaceStarts start;
  RunBounds runs;
  bool anyDegenerate = false;
  if (!CountFaces(doc, start, runs, anyDegenerate, progress)) return;
  const std::size_t faceCount = start.back();
  if (facesPerRange == 0) facesPerRange = std::max(faceCount / kDefaultRanges, kFewestFacesPerRange);
  const std::vector<std::uint32_t> bounds = Ranges(start, facesPerRange);
  std::size_t largest = 0;
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    largest = std::max<std::size_t>(largest, start[bounds[k + 1]] - start[bounds[k]]);
  }
  {
    Faces faces;
    faces.resize(largest);
    InnerFlags inner(faceCount);
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
      const std::uint32_t first = bounds[k], last = bounds[k + 1];
      // Grouping takes the first half of the range's share of the progress, matching the second.
      const double from = faceCount ? static_cast<double>(start[first]) / static_cast<double>(faceCount) : 0;
      const double share =
          faceCount ? static_cast<double>(start[last] - start[first]) / static_cast<double>(faceCount) : 0;
      auto grouping = [&](double f) { progress(1, 2, from + share * f / 2); };
      auto matching = [&](double f) { progress(1, 2, from + share * (0.5 + f / 2)); };
      if (!GroupFaces(doc, start, runs, first, last, faces, grouping, control)) return;
      if (!MarkInnerFaces(start, first, last, faces, inner, matching, control)) return;
    }
    faces = {};
    runs = {};
    HolderMap holders;
    if (anyDegenerate && !FindDegenerateHolders(doc, holders, control)) return;
    CollectBoundary(doc, start, inner, holders, progress);
  }
  if (control.Cancelled()) return;
  control.SetProgress(static_cast<std::uint32_t>(elementCount));
}

}  // namespace qem
