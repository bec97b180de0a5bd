// Drives the whole load of a QEM text (reader, validation and preparation, octree,
// boundary) over arbitrary bytes. Every input must end in a message or a sound document,
// never a crash or a hang. Besides, it holds the fast paths to their references:
// - the plain-text tokeniser to tvl::Reader (the same text behind a leading comment goes
//   through the full TVL reader): the same document and the same error, 6 bytes later;
// - the reading in pieces (a small buffer, its size taken from the input, the vertices,
//   the elements and the frames' numbers on two threads) to the reading of the whole text
//   on one: the same document and the same root line, line and column included;
// - the face-grouping boundary search to the octree search, wherever the octree search is
//   complete (finite positions, a margin well above the float resolution).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "qem/Boundary.h"
#include "qem/Loader.h"
#include "qem/QEM.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "qem_fuzz: %s\n", what);
    __builtin_trap();
  }
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void CompareDocuments(const qem::Document& a, const qem::Document& b) {
  Check(a.vertices.size() == b.vertices.size(), "vertex counts differ");
  for (std::size_t i = 0; i < a.vertices.size(); ++i) {
    Check(SameBits(a.vertices[i].x, b.vertices[i].x) && SameBits(a.vertices[i].y, b.vertices[i].y) &&
              SameBits(a.vertices[i].z, b.vertices[i].z),
          "vertices differ");
  }
  Check(a.elements.size() == b.elements.size(), "element counts differ");
  for (std::size_t i = 0; i < a.elements.size(); ++i) {
    const auto& ta = a.elements[i].triangles;
    const auto& tb = b.elements[i].triangles;
    Check(ta.size() == tb.size(), "triangle counts differ");
    for (std::uint32_t k = 0; k < ta.size(); ++k) {
      Check(ta[k].a == tb[k].a && ta[k].b == tb[k].b && ta[k].c == tb[k].c, "triangles differ");
    }
  }
  Check(a.frames.size() == b.frames.size(), "frame counts differ");
  for (std::size_t i = 0; i < a.frames.size(); ++i) {
    Check(SameBits(a.frames[i].time, b.frames[i].time), "frame times differ");
    Check(a.frames[i].values.size() == b.frames[i].values.size(), "value counts differ");
    for (std::size_t k = 0; k < a.frames[i].values.size(); ++k) {
      Check(SameBits(a.frames[i].values[k], b.frames[i].values[k]), "values differ");
    }
  }
}

// "(tvl2,<code>) znak <offset> ..." -> code, offset and the text after the position.
void SplitRoot(const std::string& root, unsigned& code, unsigned& offset, std::string& message) {
  code = offset = 0;
  std::sscanf(root.c_str(), "(tvl2,%u) znak %u", &code, &offset);
  const auto colon = root.find(": ");
  message = colon == std::string::npos ? root : root.substr(colon);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  qem::Document doc;
  qem::LoadControl control;
  qem::ParseDocumentText(text, "fuzz.qem", doc, control);

  {
    qem::Document pieces;
    qem::LoadControl piecesControl;
    // The vertices, the elements and the frames' numbers on two threads wherever a window
    // holds a few bytes of them.
    qem::ParseDocumentTextInPieces(text, 16 + (size ? data[size - 1] % 64 : 0), "fuzz.qem", pieces, piecesControl,
                                   size > 1 ? data[size - 2] % 32 : 0);
    CompareDocuments(doc, pieces);
    Check(control.trace.Lines() == piecesControl.trace.Lines(), "reading in pieces failed otherwise");
  }

  if (!text.empty()) {
    // A comment and a line break in front force the full TVL reader and shift every
    // position by six. (Without the line break, a text that is only comments would leave
    // both readers before the whole run of comments, at 0, and no shift would show.) A
    // byte-order mark stays in front: the comment goes after it.
    const std::string_view bom = "\xEF\xBB\xBF";
    const std::size_t front = text.starts_with(bom) ? bom.size() : 0;
    const std::string behindComment = std::string(text.substr(0, front)) + "{/c/}\n" + std::string(text.substr(front));
    qem::Document other;
    qem::LoadControl otherControl;
    qem::ParseDocumentText(behindComment, "fuzz.qem", other, otherControl);
    CompareDocuments(doc, other);
    Check(control.trace.IsPending() == otherControl.trace.IsPending(), "one tokeniser failed, the other not");
    if (control.trace.IsPending()) {
      unsigned codeA, offsetA, codeB, offsetB;
      std::string messageA, messageB;
      SplitRoot(control.trace.Lines().front(), codeA, offsetA, messageA);
      SplitRoot(otherControl.trace.Lines().front(), codeB, offsetB, messageB);
      Check(codeA == codeB && offsetA + 6 == offsetB && messageA == messageB, "errors differ");
    }
  }

  qem::RunLoadAfterReading(doc, control, {});
  if (control.trace.IsPending()) return 0;

  // A loaded document answers ValueAt for any vertex at any time.
  for (const float t : {doc.timeMin - 1, doc.timeMin, (doc.timeMin + doc.timeMax) * 0.5f, doc.timeMax, NAN}) {
    volatile float v = doc.ValueAt(doc.VertexCount() - 1, t);
    (void)v;
  }

  bool complete = doc.NormalisedEpsilon() >= 1e-5f;
  for (const qem::Vertex& v : doc.vertices) {
    complete = complete && std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
  }
  if (complete) {
    const auto triangles = doc.boundaryTriangles;
    const auto elements = doc.boundaryElements;
    doc.boundaryTriangles.clear();
    doc.boundaryElements.clear();
    qem::FindBoundaryInOctree(doc, control);
    Check(triangles == doc.boundaryTriangles && elements == doc.boundaryElements, "boundary searches differ");
  }
  return 0;
}
