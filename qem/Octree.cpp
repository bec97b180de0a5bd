#include "qem/Octree.h"

#include <algorithm>
#include <limits>

#include "qem/BigAlloc.h"

namespace qem {

namespace {

constexpr std::int32_t kDeepestSplitLevel = 5;
constexpr std::size_t kFewestToSplit = 10;

std::unique_ptr<OctreeNode> MakeChild(const OctreeNode& parent, int i, float pad) {
  const Float3 m = parent.box.min, c = parent.centre, M = parent.box.max;
  Box octant;
  octant.min.x = (i & 1) ? c.x : m.x;
  octant.max.x = (i & 1) ? M.x : c.x;
  octant.min.z = (i & 2) ? c.z : m.z;
  octant.max.z = (i & 2) ? M.z : c.z;
  octant.min.y = (i & 4) ? c.y : m.y;
  octant.max.y = (i & 4) ? M.y : c.y;
  auto child = std::make_unique<OctreeNode>();
  child->level = parent.level + 1;
  child->box = octant.Grow(pad);
  child->centre = {(child->box.min.x + child->box.max.x) * 0.5f, (child->box.min.y + child->box.max.y) * 0.5f,
                   (child->box.min.z + child->box.max.z) * 0.5f};
  return child;
}

// The build works on element numbers: each element's box is computed once, and a node's
// elements are a range of `order` that the split regroups, stably, into the ranges of its
// children followed by those that stay. The lists of the finished nodes hold the element
// pointers in the order the elements arrived, as one list moved down node by node would.
struct Build {
  const ElementList& elements;
  std::vector<Box, UninitAllocator<Box>> boxes;
  std::vector<std::uint32_t, UninitAllocator<std::uint32_t>> order;
  std::vector<std::uint32_t, UninitAllocator<std::uint32_t>> scratch;
  std::vector<std::uint8_t, UninitAllocator<std::uint8_t>> target;
  LoadControl& control;

  void Keep(OctreeNode& node, std::size_t first, std::size_t last) const {
    node.elements.reserve(last - first);
    for (std::size_t i = first; i < last; ++i) node.elements.push_back(&elements[order[i]]);
  }

  void Split(OctreeNode& node, std::size_t first, std::size_t last) {
    control.Advance();
    if (node.level > kDeepestSplitLevel || last - first < kFewestToSplit || control.Cancelled()) {
      Keep(node, first, last);
      return;
    }

    const Box& b = node.box;
    const float pad = 0.1f * std::max(b.max.x - b.min.x, std::max(b.max.y - b.min.y, b.max.z - b.min.z));
    for (int i = 0; i < 8; ++i) node.children[i] = MakeChild(node, i, pad);

    // Containment holds axis by axis, so the lowest-numbered child that contains a box
    // takes the lower half on every axis where that half contains it.
    const Box& low = node.children[0]->box;
    const Box& highX = node.children[1]->box;
    const Box& highZ = node.children[2]->box;
    const Box& highY = node.children[4]->box;
    std::size_t counts[9] = {};
    for (std::size_t i = first; i < last; ++i) {
      const Box& e = boxes[order[i]];
      int child = 8;
      const bool lowX = low.min.x <= e.min.x && e.max.x <= low.max.x;
      const bool lowZ = low.min.z <= e.min.z && e.max.z <= low.max.z;
      const bool lowY = low.min.y <= e.min.y && e.max.y <= low.max.y;
      const bool inX = lowX || (highX.min.x <= e.min.x && e.max.x <= highX.max.x);
      const bool inZ = lowZ || (highZ.min.z <= e.min.z && e.max.z <= highZ.max.z);
      const bool inY = lowY || (highY.min.y <= e.min.y && e.max.y <= highY.max.y);
      if (inX && inY && inZ) child = (lowX ? 0 : 1) | (lowZ ? 0 : 2) | (lowY ? 0 : 4);
      target[i] = static_cast<std::uint8_t>(child);
      ++counts[child];
    }
    if (counts[8] == last - first) {
      for (auto& child : node.children) child.reset();
      Keep(node, first, last);
      return;
    }

    std::size_t starts[10];
    starts[0] = first;
    for (int c = 0; c < 9; ++c) starts[c + 1] = starts[c] + counts[c];
    std::size_t cursor[9];
    std::copy(starts, starts + 9, cursor);
    for (std::size_t i = first; i < last; ++i) scratch[cursor[target[i]]++] = order[i];
    std::copy(scratch.begin() + static_cast<std::ptrdiff_t>(first), scratch.begin() + static_cast<std::ptrdiff_t>(last),
              order.begin() + static_cast<std::ptrdiff_t>(first));

    Keep(node, starts[8], starts[9]);
    for (int c = 0; c < 8; ++c) Split(*node.children[c], starts[c], starts[c + 1]);
  }
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
  control.ResetProgress();
  auto root = std::make_unique<OctreeNode>();
  root->level = 0;
  root->box = {{-1, -1, -1}, {1, 1, 1}};
  root->centre = {0, 0, 0};
  OctreeNode& node = *root;
  doc.octree = std::move(root);

  const std::size_t n = doc.elements.size();
  Build build{doc.elements, {}, {}, {}, {}, control};
  build.boxes.resize(n);
  build.order.resize(n);
  build.scratch.resize(n);
  build.target.resize(n);
  std::size_t i = 0;
  doc.elements.ForEach([&](const Element& element) {
    build.boxes[i] = ElementBox(doc, element);
    build.order[i] = static_cast<std::uint32_t>(i);
    ++i;
  });
  build.Split(node, 0, n);
}

std::array<std::uint32_t, 10> CountOctreeLevels(const OctreeNode* root) {
  std::array<std::uint32_t, 10> counts{};
  if (root) CountLevels(*root, counts);
  return counts;
}

}  // namespace qem
