#pragma once
// Small helpers for the mesh model's tests: fixture files on disk, a document built from
// literal arrays, and the steps run on a text.

#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qem/Document.h"
#include "qem/LoadControl.h"
#include "qem/QEM.h"

namespace qemtest {

// A file under the system's temporary folder, removed when the object dies.
class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    char name[] = "/tmp/qem_test_XXXXXX";
    const int fd = mkstemp(name);
    path = name;
    if (fd >= 0) {
      std::size_t done = 0;
      while (done < content.size()) {
        const auto n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
    }
  }
  ~TempFile() { std::remove(path.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::string path;
};

using Tri = std::initializer_list<std::uint32_t>;  // three vertex numbers

// A document as the reader would leave it: vertices, elements (each a list of triangles)
// and frames (time, then one value per vertex).
inline void Fill(qem::Document& doc, const std::vector<qem::Vertex>& vertices,
                 const std::vector<std::vector<qem::Triangle>>& elements,
                 const std::vector<std::pair<float, std::vector<float>>>& frames) {
  doc.vertices = vertices;
  for (const auto& triangles : elements) {
    qem::Element& element = doc.elements.emplace_back();
    element.triangles.data = doc.triangleStore.Allocate(triangles.size());
    element.triangles.count = static_cast<std::uint32_t>(triangles.size());
    for (std::size_t i = 0; i < triangles.size(); ++i) element.triangles.data[i] = triangles[i];
  }
  for (const auto& [time, values] : frames) doc.frames.push_back({time, values});
}

// The four faces of the tetrahedron a b c d.
inline std::vector<qem::Triangle> Tet(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return {{a, b, c}, {a, b, d}, {a, c, d}, {b, c, d}};
}

// The loader trace's lines, newest first.
inline std::vector<std::string> NewestFirst(const ErrorTrace& trace) {
  return {trace.Lines().rbegin(), trace.Lines().rend()};
}

// The example file of one tetrahedron with two frames.
inline const char* kTetraFile =
    "QEM\n"
    "VERTICES 4\n"
    "0 0 0\n"
    "1 0 0\n"
    "0 1 0\n"
    "0 0 1\n"
    "ELEMENTS 1\n"
    "0 2 1  0 1 3  1 2 3  0 3 2\n"
    "FRAMES 2\n"
    "0.0   0 1 2 3\n"
    "1.5   3 2 1 0\n";

// A summary of what reading text gives: the document, and the error with its offset less
// shift (for the same text behind a leading comment, which sends it through the full TVL
// reader). Read whole on one thread, or with pieces, through a buffer of that size with
// the elements on two threads from splitBytes on; then also the error's line and column.
inline std::string Summary(std::string_view text, std::uint32_t shift, std::size_t pieces = 0,
                           std::size_t splitBytes = qem::kSplitBytes) {
  struct Loaded {
    qem::Document doc;
    qem::LoadControl control;
  };
  auto r = std::make_unique<Loaded>();
  if (pieces == 0) {
    qem::ParseDocumentText(text, "mesh.qem", r->doc, r->control);
  } else {
    qem::ParseDocumentTextInPieces(text, pieces, "mesh.qem", r->doc, r->control, splitBytes);
  }
  std::string s = std::to_string(r->doc.vertices.size()) + "v " + std::to_string(r->doc.elements.size()) + "e " +
                  std::to_string(r->doc.frames.size()) + "f";
  for (const auto& v : r->doc.vertices)
    s += " " + std::to_string(v.x) + "," + std::to_string(v.y) + "," + std::to_string(v.z);
  for (const auto& e : r->doc.elements) {
    s += " [";
    for (const auto& t : e.triangles)
      s += std::to_string(t.a) + "." + std::to_string(t.b) + "." + std::to_string(t.c) + " ";
    s += "]";
  }
  for (const auto& f : r->doc.frames) {
    s += " t" + std::to_string(f.time);
    for (float v : f.values) s += " " + std::to_string(v);
  }
  if (r->control.trace.IsPending()) {
    unsigned code = 0, offset = 0;
    const std::string& root = r->control.trace.Lines()[0];
    std::sscanf(root.c_str(), "(tvl2,%u) znak %u", &code, &offset);
    s += " error " + std::to_string(code) + "@" + std::to_string(offset - shift) +
         root.substr(root.find(pieces == 0 ? ":" : " wiersz"));
  }
  return s;
}

}  // namespace qemtest
