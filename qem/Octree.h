#pragma once
// The element octree of a prepared document: every element sits in exactly one node, the
// deepest one reached by moving it down, while its node is split, into the lowest-numbered
// child whose (enlarged) box holds the element's whole bounding box. The root is the
// normalised cube; a node of level 6 or deeper, or holding fewer than 10 elements, is never
// split. Children are numbered by bit 0 = upper x half, bit 1 = upper z half, bit 2 = upper
// y half, and each octant is grown by 10 % of its parent's largest extent.
//
// BuildOctree runs on the loading thread; the progress goes from 0 to the element count
// (its total) through the build's two walks over the elements. A cancellation leaves a
// valid partial tree, every element in one node: the node where it was seen (the root
// when it came during the first walk) stays a leaf with its elements.

#include <array>
#include <cstdint>

#include "qem/Document.h"
#include "qem/LoadControl.h"

namespace qem {

void BuildOctree(Document& document, LoadControl& control);

// The bounding box of an element's vertices (normalised positions).
Box ElementBox(const Document& document, const Element& element);

// Elements held by the nodes of each level 0..9 (the engine's tree report).
std::array<std::uint32_t, 10> CountOctreeLevels(const OctreeNode* root);

}  // namespace qem
