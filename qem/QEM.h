#pragma once
// The QEM reader: a plain-text mesh file ("QEM", then the sections VERTICES, ELEMENTS and
// FRAMES) read into an empty document. Tokens follow the TVL notation (white space,
// comments, escapes, quoted strings, "," and ";" separators). Only the syntax is checked
// here; Prepare.h checks the data.
//
// Failures go to control.trace: the location of LoadDocument, "Nie można wczytać pliku: "
// + path, and the parse error's root line with its position (offset, line, column of the
// start of the token that was missing or wrong). A file that cannot be opened or read is
// reported by the stream layer on the calling thread's current trace instead (the loader
// reads under a ScopedErrorTrace), and nothing is parsed. A cancellation stops after the
// item being read and records nothing. The document keeps whatever was read before a
// failure or a cancellation.
//
// A text of 4 GiB or more (beyond the 32-bit positions of the error messages) is refused
// with "Plik jest zbyt duży" at position 0.
//
// Progress: the counter counts vertices, then elements, then frames, never reset between
// the sections; the total stays 0.

#include <string>
#include <string_view>

#include "qem/Document.h"
#include "qem/LoadControl.h"

namespace qem {

void LoadDocument(const std::string& path, Document* document, LoadControl& control);

// LoadDocument's parsing and building, without reading a file, on a text already in
// memory (tests, the fuzzer, the benchmarks): a failure leaves the parse error and the "Nie można wczytać pliku" line on
// control.trace, without LoadDocument's location line.
void ParseDocumentText(std::string_view text, std::string_view path, Document& document,
                       LoadControl& control);

}  // namespace qem
