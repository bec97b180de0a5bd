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
// The file is read with read() through one buffer of a few megabytes that is reused from
// piece to piece, so the text is never held whole beside the document, and a text of any
// size loads as far as the memory holds its document. Only a text with comments, escapes
// or quoted strings (never one the program's tools write) is read whole, for the full TVL
// reader: such a text of 4 GiB or more is refused with "Plik jest zbyt duży" at position 0
// (that reader's positions are 32-bit). Counts beyond the 32-bit numbering are refused by
// name: a count that does not fit gives its section's count message, more than 4294967295
// triangles in all "Liczba trójkątów siatki przekracza 4294967295".
//
// One UTF-8 byte-order mark at the start of the text is skipped; positions count from the
// byte after it.
//
// A file whose size means its document could never fit in the memory this process may
// use (16 times that memory, or more) is refused before anything is read by throwing
// std::bad_alloc, as an allocation that fails while the text is read does: RunLoad turns
// both into the failure kOutOfMemoryText.
//
// Progress: the counter counts vertices, then elements, then frames, never reset between
// the sections; the total stays 0.

#include <string>
#include <string_view>

#include "Common_Code/Cp1250.h"

#include "qem/Document.h"
#include "qem/LoadControl.h"

namespace qem {

// The message of a load that ran out of memory.
inline constexpr std::string_view kOutOfMemoryText = "Za mało pamięci, aby wczytać siatkę"_cp;

void LoadDocument(const std::string& path, Document* document, LoadControl& control);

// The parse of LoadDocument on a text already in memory, whole (tests, the fuzzer, the
// benchmarks): a failure leaves the parse error and the "Nie można wczytać pliku" line on
// control.trace, without LoadDocument's location line.
void ParseDocumentText(std::string_view text, std::string_view path, Document& document, LoadControl& control);

// LoadDocument reads the vertices, the elements and the frames' numbers on two threads
// where a piece holds at least this many bytes of them: the piece's second part on a
// second thread while the first part is read on the calling one, split at a line break.
// The result is the one of one thread.
inline constexpr std::size_t kSplitBytes = std::size_t{1} << 18;

// The same through LoadDocument's pieces, with a buffer of bufferBytes to start with, and
// the vertices, the elements and the frames' numbers on two threads from splitBytes on
// (tests and the fuzzer hold this to ParseDocumentText, which reads on one thread, for any
// buffer size and split).
void ParseDocumentTextInPieces(std::string_view text, std::size_t bufferBytes, std::string_view path,
                               Document& document, LoadControl& control, std::size_t splitBytes = kSplitBytes);

// Tests: from now on, the second thread of the elements does not start (the first reads
// them all), or runs out of memory at its start; kNone back to normal.
enum class SideFailure { kNone, kNoThread, kOutOfMemory };
void FailSecondReaderForTesting(SideFailure failure);

// Tests: the memory of the elements, frames and vertex sets is faulted in ahead of the
// reading from this many elements on (normally tens of thousands).
void WarmPagesFromForTesting(std::size_t elements);

}  // namespace qem
