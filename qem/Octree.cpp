#include "qem/Octree.h"

#include <algorithm>
#include <limits>

namespace qem {

namespace {

constexpr std::int32_t kDeepestSplitLevel = 5;
constexpr std::size_t kFewestToSplit = 10;

bool Contains(const Box& outer, const Box& inner) {
  return outer.min.x <= inner.min.x && outer.min.y <= inner.min.y && outer.min.z <= inner.min.z &&
         inner.max.x <= outer.max.x && inner.max.y <= outer.max.y && inner.max.z <= outer.max.z;
}

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

void Split(const Document& doc, OctreeNode& node, LoadControl& control) {
  control.Advance();
  if (node.level > kDeepestSplitLevel || node.elements.size() < kFewestToSplit) return;
  if (control.Cancelled()) return;

  const Box& b = node.box;
  const float pad = 0.1f * std::max(b.max.x - b.min.x, std::max(b.max.y - b.min.y, b.max.z - b.min.z));
  for (int i = 0; i < 8; ++i) node.children[i] = MakeChild(node, i, pad);

  std::vector<Element*> kept;
  bool anyMoved = false;
  for (Element* element : node.elements) {
    const Box box = ElementBox(doc, *element);
    int target = -1;
    for (int i = 0; i < 8; ++i) {
      if (Contains(node.children[i]->box, box)) {
        target = i;
        break;
      }
    }
    if (target < 0) {
      kept.push_back(element);
    } else {
      node.children[target]->elements.push_back(element);
      anyMoved = true;
    }
  }

  if (!anyMoved) {
    for (auto& child : node.children) child.reset();
    return;
  }
  node.elements = std::move(kept);
  node.elements.shrink_to_fit();
  for (auto& child : node.children) Split(doc, *child, control);
}

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
  root->elements.reserve(doc.elements.size());
  for (Element& element : doc.elements) root->elements.push_back(&element);
  doc.octree = std::move(root);
  Split(doc, *doc.octree, control);
}

std::array<std::uint32_t, 10> CountOctreeLevels(const OctreeNode* root) {
  std::array<std::uint32_t, 10> counts{};
  if (root) CountLevels(*root, counts);
  return counts;
}

}  // namespace qem
