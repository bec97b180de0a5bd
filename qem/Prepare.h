#pragma once
// Validation and preparation of a document the reader has filled, both on the loading
// thread during the stage "Sprawdzanie i przygotowanie danych...".
//
// ValidateDocument checks, in this order, and stops at the first rule broken with one
// message on control.trace (Raise with no location): at least one element; every element
// of at least 4 triangles; every triangle's vertex numbers below the vertex count (this
// also refuses elements without vertices); at least one frame; frame times strictly
// increasing; one value per vertex in every frame; finite coordinates; a mesh of non-zero
// size whose extents fit in a float. It changes nothing. A cancellation stops it without a
// message.
//
// PrepareDocument (only after a clean validation) computes the bounds, scale and centre
// in file units, normalises every vertex into the cube from -1 to 1, the time and value
// ranges, epsilon (file units), and each element's vertex set and centre. It records
// nothing; a cancellation stops it after the element being prepared.
//
// A large mesh's elements (tens of thousands or more) are checked and prepared in two
// halves, the second on a thread of its own; the result, the message included, is the
// one of one thread.
//
// Progress: each resets the counter to 0 with the element count as total, and advances it
// through the elements (validation while it checks their vertex numbers, its longest
// part; preparation as it prepares them).

#include "qem/Document.h"
#include "qem/LoadControl.h"

namespace qem {

void ValidateDocument(const Document& document, LoadControl& control);
void PrepareDocument(Document& document, LoadControl& control);

}  // namespace qem
