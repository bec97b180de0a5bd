#pragma once
// Boundary extraction: the triangles that no other element shares. Triangle U of element
// X matches triangle T of element E (X != E) when each of T's vertex numbers is one of U's;
// faces are matched by vertex numbers, never by positions. T is a boundary triangle when
// no other element has a triangle matching it. The result is appended to the document's
// boundaryTriangles / boundaryElements in element order, then triangle order, vertex order
// as in the file.
//
// FindBoundary answers the question for all triangles at once by grouping them on their
// smallest vertex number, so its cost grows with the number of triangles, not with the
// crowding of the octree. It holds the faces of one range of smallest vertex numbers at a
// time (by default about an eighth of them; facesPerRange sets the most one range may
// hold, unless one vertex alone heads more), so its memory stays a fraction of the
// document's; the result does not depend on the ranges. FindBoundaryInOctree asks the
// octree, triangle by triangle, with a search box grown by the document's normalised
// epsilon; it gives the same result when that margin is positive and the positions finite
// (tests and the fuzzer hold the two to that), and is kept as the reference.
//
// Both run on the loading thread once the document is prepared (FindBoundary needs no
// octree: the loader runs it beside the octree's build). Progress: 0 / element count;
// FindBoundary's passes (counting, grouping and matching range by range, answering) move
// the count through the whole stage, FindBoundaryInOctree counts one per element done. A
// cancellation stops after the element being processed, with the arrays holding what was
// found up to then.

#include <cstddef>

#include "qem/Document.h"
#include "qem/LoadControl.h"

namespace qem {

void FindBoundary(Document& document, LoadControl& control, std::size_t facesPerRange = 0);
void FindBoundaryInOctree(Document& document, LoadControl& control);

}  // namespace qem
