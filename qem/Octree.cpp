#include "qem/Octree.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "qem/BigAlloc.h"

namespace qem {

namespace {

constexpr std::int32_t kDeepestSplitLevel = 5;
constexpr std::uint32_t kFewestToSplit = 10;
constexpr std::size_t kProgressEvery = 4096;

// The nodes that could exist, level by level: node c of level L (c < 8^L, its children
// 8c..8c+7) has the number kFirst[L] + c among all of them.
constexpr std::uint32_t kLevels = kDeepestSplitLevel + 2;  // 0 .. 6
constexpr std::uint32_t kFirst[kLevels + 1] = {0, 1, 9, 73, 585, 4681, 37449, 299593};
constexpr std::uint32_t kSplittable = kFirst[kDeepestSplitLevel + 1];  // nodes of levels 0..5

float Pad(const Box& b) { return 0.1f * std::max(b.max.x - b.min.x, std::max(b.max.y - b.min.y, b.max.z - b.min.z)); }

Float3 CentreOf(const Box& b) {
  return {(b.min.x + b.max.x) * 0.5f, (b.min.y + b.max.y) * 0.5f, (b.min.z + b.max.z) * 0.5f};
}

// Child i's box of a node with box m..M and centre c: its octant grown by pad.
Box ChildBox(const Box& parent, const Float3& c, float pad, int i) {
  const Float3 m = parent.min, M = parent.max;
  Box octant;
  octant.min.x = (i & 1) ? c.x : m.x;
  octant.max.x = (i & 1) ? M.x : c.x;
  octant.min.z = (i & 2) ? c.z : m.z;
  octant.max.z = (i & 2) ? M.z : c.z;
  octant.min.y = (i & 4) ? c.y : m.y;
  octant.max.y = (i & 4) ? M.y : c.y;
  return octant.Grow(pad);
}

std::unique_ptr<OctreeNode> MakeChild(const OctreeNode& parent, int i, float pad) {
  auto child = std::make_unique<OctreeNode>();
  child->level = parent.level + 1;
  child->box = ChildBox(parent.box, parent.centre, pad, i);
  child->centre = CentreOf(child->box);
  return child;
}

// What deciding the child of an element at one node needs: the node's box and centre
// (for its children's cells) and the boxes of children 0, 1, 2 and 4, on the axes the
// test reads. Kept as plain floats so that the table is left untouched where no element
// goes.
struct Cell {
  Box box;
  Float3 centre;
  Box low;
  float highXMin, highXMax, highZMin, highZMax, highYMin, highYMax;
};

// The child (0..7) of a node whose whole box holds the element's box e, or 8. Containment
// holds axis by axis, so the lowest-numbered child that contains a box takes the lower
// half on every axis where that half contains it.
int ChildFor(const Cell& cell, const Box& e) {
  const Box& low = cell.low;
  const bool lowX = low.min.x <= e.min.x && e.max.x <= low.max.x;
  const bool lowZ = low.min.z <= e.min.z && e.max.z <= low.max.z;
  const bool lowY = low.min.y <= e.min.y && e.max.y <= low.max.y;
  const bool inX = lowX || (cell.highXMin <= e.min.x && e.max.x <= cell.highXMax);
  const bool inZ = lowZ || (cell.highZMin <= e.min.z && e.max.z <= cell.highZMax);
  const bool inY = lowY || (cell.highYMin <= e.min.y && e.max.y <= cell.highYMax);
  if (inX && inY && inZ) return (lowX ? 0 : 1) | (lowZ ? 0 : 2) | (lowY ? 0 : 4);
  return 8;
}

// The build never holds a box per element. Each element is moved down once, alone, from
// the root as deep as the rule would take it if every node on its way were split (the
// decision at a node depends only on the node's geometry and the element), which gives
// its path; counting the paths through each node then says which nodes are split (at
// least 10 elements reach it, it is above level 6, and one of them moves on), and each
// element ends at the first node of its path that is not split. A node's list is filled
// in element order, which is the order in which one list moved down node by node would
// have brought them.
class Build {
 public:
  Build(Document& document, LoadControl& loadControl) : doc(document), control(loadControl) {}

  void Run(OctreeNode& root) {
    const std::size_t n = doc.elements.size();
    control.ResetProgress(static_cast<std::uint32_t>(n));
    cells.reset(static_cast<Cell*>(std::malloc(sizeof(Cell) * kSplittable)));
    if (!cells) throw std::bad_alloc();
    ready.assign(kSplittable, 0);
    Cell& top = cells[0];
    top.box = root.box;
    top.centre = root.centre;
    Prepare(top);
    ready[0] = 1;
    ends.assign(kFirst[kLevels], 0);
    paths.resize(n);

    std::size_t i = 0;
    bool stopped = false;
    doc.elements.ForEach([&](const Element& element) {
      if (stopped) return;
      paths[i] = PathOf(ElementBox(doc, element));
      ++ends[kFirst[paths[i] & 7] + (paths[i] >> 3)];
      if (++i % kProgressEvery == 0) {
        control.SetProgress(static_cast<std::uint32_t>(i / 2));
        stopped = control.Cancelled();
      }
    });
    // A cancel: the elements not looked at stay in the root, which the cancel keeps a leaf.
    for (; i < n; ++i) {
      paths[i] = 0;
      ++ends[0];
    }
    cells.reset();
    ready = {};

    SumReach();
    Shape(root, 0, 0);

    i = 0;
    doc.elements.ForEach([&](Element& element) {
      const std::uint32_t path = paths[i];
      const std::uint32_t depth = path & 7, code = path >> 3;
      OctreeNode* node = &root;
      for (std::uint32_t level = 1; level <= depth && node->children[0]; ++level) {
        node = node->children[(code >> (3 * (depth - level))) & 7].get();
      }
      node->elements.push_back(&element);
      if (++i % kProgressEvery == 0) control.SetProgress(static_cast<std::uint32_t>((n + i) / 2));
    });
    control.SetProgress(static_cast<std::uint32_t>(n));
  }

 private:
  static void Prepare(Cell& cell) {
    const float pad = Pad(cell.box);
    cell.low = ChildBox(cell.box, cell.centre, pad, 0);
    const Box x = ChildBox(cell.box, cell.centre, pad, 1);
    const Box z = ChildBox(cell.box, cell.centre, pad, 2);
    const Box y = ChildBox(cell.box, cell.centre, pad, 4);
    cell.highXMin = x.min.x, cell.highXMax = x.max.x;
    cell.highZMin = z.min.z, cell.highZMax = z.max.z;
    cell.highYMin = y.min.y, cell.highYMax = y.max.y;
  }

  // The cell of node code at level (its parent's cell is ready).
  const Cell& CellAt(std::uint32_t level, std::uint32_t code) {
    const std::uint32_t index = kFirst[level] + code;
    Cell& cell = cells[index];
    if (!ready[index]) {
      const Cell& parent = cells[kFirst[level - 1] + (code >> 3)];
      cell.box = ChildBox(parent.box, parent.centre, Pad(parent.box), static_cast<int>(code & 7));
      cell.centre = CentreOf(cell.box);
      Prepare(cell);
      ready[index] = 1;
    }
    return cell;
  }

  // Depth in bits 0-2, the child numbers from level 1 down above them (3 bits each).
  std::uint32_t PathOf(const Box& e) {
    std::uint32_t code = 0, level = 0;
    while (level <= static_cast<std::uint32_t>(kDeepestSplitLevel)) {
      const int child = ChildFor(level == 0 ? cells[0] : CellAt(level, code), e);
      if (child == 8) break;
      code = code * 8 + static_cast<std::uint32_t>(child);
      ++level;
    }
    return code << 3 | level;
  }

  // reach: the elements whose path passes through each node of levels 0..5.
  void SumReach() {
    reach.assign(kSplittable, 0);
    for (std::uint32_t level = kDeepestSplitLevel + 1; level-- > 0;) {
      for (std::uint32_t code = 0; code < kFirst[level + 1] - kFirst[level]; ++code) {
        const std::uint32_t index = kFirst[level] + code;
        std::uint64_t sum = ends[index];
        for (std::uint32_t c = 0; c < 8; ++c) sum += Reach(level + 1, code * 8 + c);
        reach[index] = static_cast<std::uint32_t>(sum);
      }
    }
  }

  std::uint32_t Reach(std::uint32_t level, std::uint32_t code) const {
    const std::uint32_t index = kFirst[level] + code;
    return level > static_cast<std::uint32_t>(kDeepestSplitLevel) ? ends[index] : reach[index];
  }

  // The nodes of the tree, in the order of the node-by-node split; a cancel seen at a node
  // leaves it a leaf holding every element that reached it.
  void Shape(OctreeNode& node, std::uint32_t level, std::uint32_t code) {
    const std::uint32_t count = Reach(level, code);
    const std::uint32_t stay = ends[kFirst[level] + code];
    if (node.level > kDeepestSplitLevel || count < kFewestToSplit || stay == count || control.Cancelled()) {
      node.elements.reserve(count);
      return;
    }
    const float pad = Pad(node.box);
    for (int i = 0; i < 8; ++i) node.children[i] = MakeChild(node, i, pad);
    node.elements.reserve(stay);
    for (std::uint32_t c = 0; c < 8; ++c) Shape(*node.children[c], level + 1, code * 8 + c);
  }

  struct Free {
    void operator()(Cell* p) const { std::free(p); }
  };

  Document& doc;
  LoadControl& control;
  std::unique_ptr<Cell[], Free> cells;
  std::vector<std::uint8_t> ready;
  std::vector<std::uint32_t> ends;   // elements whose path ends at each node of levels 0..6
  std::vector<std::uint32_t> reach;  // see SumReach
  std::vector<std::uint32_t, UninitAllocator<std::uint32_t>> paths;
};

void CountLevels(const OctreeNode& node, std::array<std::uint32_t, 10>& counts) {
  if (node.level >= 0 && node.level < 10) counts[node.level] += static_cast<std::uint32_t>(node.elements.size());
  if (!node.children[0]) return;
  for (const auto& child : node.children) CountLevels(*child, counts);
}

}  // namespace

Box ElementBox(const Document& doc, const Element& element) {
  Box box;
  if (element.vertexIndices.empty()) {
    // Never the case after preparation; a box no node contains keeps such an element up.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return {{nan, nan, nan}, {nan, nan, nan}};
  }
  const Vertex& first = doc.vertices[element.vertexIndices[0]];
  box.min = box.max = {first.x, first.y, first.z};
  for (const std::uint32_t index : element.vertexIndices) {
    const Vertex& v = doc.vertices[index];
    box.min.x = std::min(box.min.x, v.x);
    box.min.y = std::min(box.min.y, v.y);
    box.min.z = std::min(box.min.z, v.z);
    box.max.x = std::max(box.max.x, v.x);
    box.max.y = std::max(box.max.y, v.y);
    box.max.z = std::max(box.max.z, v.z);
  }
  return box;
}

void BuildOctree(Document& doc, LoadControl& control) {
  auto root = std::make_unique<OctreeNode>();
  root->level = 0;
  root->box = {{-1, -1, -1}, {1, 1, 1}};
  root->centre = {0, 0, 0};
  OctreeNode& node = *root;
  doc.octree = std::move(root);
  Build(doc, control).Run(node);
}

std::array<std::uint32_t, 10> CountOctreeLevels(const OctreeNode* root) {
  std::array<std::uint32_t, 10> counts{};
  if (root) CountLevels(*root, counts);
  return counts;
}

}  // namespace qem
