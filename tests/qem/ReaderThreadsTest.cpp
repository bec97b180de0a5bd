// The elements read on two threads: a window's second part, from a line break near its
// middle, is read beside the first and used only where an element starts there. Whatever
// the text and wherever the split lands (at an element's start, inside an element or a
// triangle that spans lines, after a CRLF, at or after an error, past the section's end),
// the document, the error with its offset, line and column, the progress and a
// cancellation are those of one thread reading the whole text.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "qem/Boundary.h"
#include "qem/Loader.h"
#include "qem/Octree.h"
#include "qem/Prepare.h"
#include "qem/QEM.h"
#include "tests/qem/QemTestUtil.h"
#include "tools/qem-generate/Generate.h"

namespace {

using qemtest::Summary;

// Small texts whose vertex, element and frame sections hold every kind of place a split
// may land on.
std::vector<std::string> ElementTexts() {
  const std::string head = "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n";
  const std::string tail = "FRAMES 1\n0 1 2 3 4\n";
  return {
      // One element a line, LF and CRLF.
      head + "ELEMENTS 5\n0 2 1 0 1 3 1 2 3 0 3 2\n0 1 2 0 1 3\n1 2 3\n0 3 2 1 1 1\n3 2 1\n" + tail,
      "QEM\r\nVERTICES 4\r\n0 0 0\r\n1 0 0\r\n0 1 0\r\n0 0 1\r\nELEMENTS 4\r\n0 2 1  0 1 3 \r\n 1 2 3  0 3 2\r\n"
      "1 2 3\r\n3 2 1 0 0 0\r\n\r\n2 2 2\r\nFRAMES 1\r\n0 1 2 3 4\r\n",
      // Elements and triangles spanning lines: a line break where no element starts.
      head + "ELEMENTS 3\n0 1\n2 3 0\n1\n2 3 1\n0 1 2\n3\n1 2\n3 0 1 2\n" + tail,
      // Fewer elements than lines: the section ends inside the second part.
      head + "ELEMENTS 2\n0 1 2\n1 2 3\n2 3 0\n3 0 1\n" + tail,
      // More elements than lines: the count runs into FRAMES.
      head + "ELEMENTS 6\n0 1 2\n1 2 3\n2 3 0\n3 0 1\n" + tail,
      // Tokens that are no vertex numbers, early, late and at a line's start.
      head + "ELEMENTS 5\n0 1 2\n1 2 3\nx 3 0\n3 0 1\n0 1 1\n" + tail,
      head + "ELEMENTS 5\n0 1 2\n1 2 3\n2 3 0\n3 0 1\n0 1 1.5\n" + tail,
      head + "ELEMENTS 5\n0 1 2\n1 2 3\n2 3 0\n3 0 1\n0 1 99999999999\n" + tail,
      head + "ELEMENTS 5\n0 1 2\n1 2 3\n2 3 0\n3 0 1\n0,1,2\n" + tail,
      head + "ELEMENTS 5\n0 1 2\n1 2 3\n2 3 0\n3 0 1\n0 1 2 ;\n" + tail,
      // Long numbers (the eight-byte path) and blanks.
      head + "ELEMENTS 3\n0000000 1234567 12345678\n\t 1 2 3 \t\n00000001 2 3\n" + tail,
      // Frames: numbers of every form, tokens that are none, separators (two in a row give
      // an empty value), a frame spanning lines, CRLF, too few numbers, text after the last.
      head +
          "ELEMENTS 1\n0 2 1 0 1 3 1 2 3 0 3 2\nFRAMES 3\n0\n1.5 -2 .25\n-.5\n1e3 2E-2 +3 abc\n7,8;\n9 10\n"
          "2 1 2\n3 4\n",
      head + "ELEMENTS 1\n0 2 1 0 1 3 1 2 3 0 3 2\r\nFRAMES 2\r\n0 1 2\r\n3 4\r\n1,,2\r\n;3 4\r\n",
      head + "ELEMENTS 1\n0 2 1 0 1 3 1 2 3 0 3 2\nFRAMES 3\n0 1 2 3 4\n1 5 6 7 8\n2 9\n",
      head + "ELEMENTS 1\n0 2 1 0 1 3 1 2 3 0 3 2\nFRAMES 2\n0 1 2 3 4\n1 5 6 7 8\n2 9 10\nend\n",
      // Vertices: numbers of every form, a vertex spanning lines, CRLF, a token that is no
      // number, too few coordinates before ELEMENTS.
      "QEM\nVERTICES 4\n0 -0 .5\r\n1e0 +2\n3E-1\n0,1;0\n1.25 -7 9\n" +
          std::string("ELEMENTS 1\n0 2 1 0 1 3 1 2 3 0 3 2\n") + tail,
      "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 x\nELEMENTS 0\n" + tail,
      "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0\nELEMENTS 0\n" + tail,
  };
}

constexpr std::size_t kOneThread = std::numeric_limits<std::size_t>::max();

// Every prefix; under ThreadSanitizer, which makes each thread's start slow, every third.
#if defined(__SANITIZE_THREAD__)
constexpr std::size_t kPrefixStep = 3;
#else
constexpr std::size_t kPrefixStep = 1;
#endif

// Every prefix of every text, in pieces of several sizes and in one window, with the
// elements split at every window that can be: the result of one thread.
TEST(QemReaderThreads, TwoThreadsGiveTheResultOfOneForEveryTextAndSplit) {
  for (const std::string& text : ElementTexts()) {
    for (std::size_t n = 1; n <= text.size(); n += kPrefixStep) {
      const std::string prefix = text.substr(0, n);
      const std::string expected = Summary(prefix, 0, text.size() + 100, kOneThread);
      for (const std::size_t buffer : {16u, 37u, 1000u}) {
        SCOPED_TRACE(prefix + " in pieces of " + std::to_string(buffer));
        ASSERT_EQ(Summary(prefix, 0, buffer, 0), expected);
      }
    }
  }
}

// A generated mesh, as written and changed where a split may meet the change: CRLF line
// ends, elements that span lines, tokens that are no vertex numbers far in, and fewer and
// more elements than its lines hold.
std::vector<std::string> MeshTexts() {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 5;
  params.frames = 2;
  const std::string mesh = qemgen::GenerateQem(params);
  const std::size_t elements = mesh.find("ELEMENTS"), frames = mesh.find("FRAMES");
  std::vector<std::string> texts = {mesh};
  std::string crlf;
  for (const char c : mesh) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  texts.push_back(crlf);
  // Every seventh blank in the section a line break.
  std::string spanning = mesh;
  for (std::size_t i = elements, blanks = 0; i < frames; ++i) {
    if (spanning[i] == ' ' && ++blanks % 7 == 0) spanning[i] = '\n';
  }
  texts.push_back(spanning);
  // At the start, inside and at the end of a line far in.
  const std::size_t line = mesh.find('\n', elements + (frames - elements) * 2 / 3) + 1;
  const std::size_t blank = mesh.find(' ', line);
  texts.push_back(mesh.substr(0, line) + "x" + mesh.substr(line + 1));
  texts.push_back(mesh.substr(0, blank) + " 7x" + mesh.substr(blank));
  texts.push_back(mesh.substr(0, line - 1) + " 1" + mesh.substr(line - 1));
  const std::size_t count = mesh.find('\n', elements);
  const std::uint32_t n = static_cast<std::uint32_t>(std::stoul(mesh.substr(elements + 9, count - elements - 9)));
  texts.push_back(mesh.substr(0, elements) + "ELEMENTS " + std::to_string(n / 2) + mesh.substr(count));
  texts.push_back(mesh.substr(0, elements) + "ELEMENTS " + std::to_string(n + 1) + mesh.substr(count));
  return texts;
}

// The generated mesh's texts read in pieces of many sizes (so that the splits land all over
// its element lines).
TEST(QemReaderThreads, AMeshInManyPiecesGivesTheResultOfOneThread) {
  const std::vector<std::string> texts = MeshTexts();
  for (std::size_t t = 0; t < texts.size(); ++t) {
    const std::string expected = Summary(texts[t], 0, texts[t].size() + 100, kOneThread);
    for (std::size_t buffer = 300; buffer < 5000; buffer += 797) {
      for (const std::size_t split : {std::size_t{0}, std::size_t{200}}) {
        SCOPED_TRACE("text " + std::to_string(t) + " in pieces of " + std::to_string(buffer) + " split from " +
                     std::to_string(split));
        ASSERT_EQ(Summary(texts[t], 0, buffer, split), expected);
      }
    }
    ASSERT_EQ(Summary(texts[t], 0, texts[t].size() + 100, 0), expected);
  }
}

// A cancellation while the elements are read on two threads stops after the element
// being read: every element read is counted, and they are the text's first elements.
TEST(QemReaderThreads, ACancelWhileTwoThreadsReadStopsAfterTheElementBeingRead) {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 12;
  params.frames = 1;
  const std::string text = qemgen::GenerateQem(params);
  qem::Document whole;
  qem::LoadControl wholeControl;
  qem::ParseDocumentText(text, "mesh.qem", whole, wholeControl);
  ASSERT_FALSE(wholeControl.trace.IsPending());
  const std::uint32_t vertices = whole.VertexCount();
  bool stoppedInside = false;
  for (int attempt = 0; attempt < 40; ++attempt) {
    qem::Document doc;
    qem::LoadControl control;
    const std::uint32_t at = vertices + 1 + static_cast<std::uint32_t>(attempt) * 97;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
      while (control.progressCount.load() < at && !done.load()) std::this_thread::yield();
      control.Cancel();
    });
    qem::ParseDocumentTextInPieces(text, 4096, "mesh.qem", doc, control, 0);
    done = true;
    canceller.join();
    EXPECT_FALSE(control.trace.IsPending());
    EXPECT_EQ(doc.vertices.size() + doc.elements.size() + doc.frames.size(), control.progressCount.load());
    ASSERT_LE(doc.elements.size(), whole.elements.size());
    for (std::size_t i = 0; i < doc.elements.size(); ++i) {
      const qem::Element &a = doc.elements[i], &b = whole.elements[i];
      ASSERT_EQ(a.triangles.size(), b.triangles.size()) << i;
      for (std::uint32_t k = 0; k < a.triangles.size(); ++k) {
        ASSERT_EQ(a.triangles[k].a, b.triangles[k].a);
        ASSERT_EQ(a.triangles[k].b, b.triangles[k].b);
        ASSERT_EQ(a.triangles[k].c, b.triangles[k].c);
      }
    }
    stoppedInside = stoppedInside || (doc.elements.size() < whole.elements.size() && doc.frames.empty());
  }
  EXPECT_TRUE(stoppedInside);
}

// The second thread's failures: one that cannot start leaves the elements to the first
// thread, with the same result; one that runs out of memory ends the load as the first
// thread's would, with the out-of-memory message and no document.
TEST(QemReaderThreads, ASecondThreadThatFailsToStartOrRunsOutOfMemory) {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 20;
  params.frames = 1;
  const std::string text = qemgen::GenerateQem(params);
  ASSERT_GT(text.rfind("FRAMES") - text.find("ELEMENTS"), 2 * qem::kSplitBytes);
  const std::string expected = Summary(text, 0, text.size() + 100, kOneThread);
  qem::FailSecondReaderForTesting(qem::SideFailure::kNoThread);
  EXPECT_EQ(Summary(text, 0, 4096, 0), expected);
  qem::FailSecondReaderForTesting(qem::SideFailure::kOutOfMemory);
  {
    qem::Document doc;
    qem::LoadControl control;
    EXPECT_THROW(qem::ParseDocumentTextInPieces(text, 4096, "mesh.qem", doc, control, 0), std::bad_alloc);
  }
  qemtest::TempFile file(text);
  qem::Document doc;
  qem::LoadControl control;
  qem::RunLoad(file.path, doc, control, {});
  qem::FailSecondReaderForTesting(qem::SideFailure::kNone);
  EXPECT_EQ(control.trace.Lines(), std::vector<std::string>{std::string(qem::kOutOfMemoryText)});
  EXPECT_TRUE(doc.elements.empty());
  EXPECT_TRUE(doc.vertices.empty());
  EXPECT_EQ(Summary(text, 0, 4096, 0), expected);
}

// Memory faulted in ahead of the reading (here from the first element on, normally from
// tens of thousands) changes nothing: every text gives the same document or error, and a
// mesh of tetrahedra, whose vertex sets go into memory reserved while its frames are
// read, the same vertex sets, centres, octree and boundary. A loaded document keeps no
// element block it reserved beyond its elements.
TEST(QemReaderThreads, MemoryWarmedAheadChangesNothingRead) {
  struct Restore {
    ~Restore() { qem::WarmPagesFromForTesting(65536); }
  } restore;
  std::vector<std::string> texts = ElementTexts();
  for (std::string& text : MeshTexts()) texts.push_back(std::move(text));
  for (std::size_t t = 0; t < texts.size(); ++t) {
    SCOPED_TRACE("text " + std::to_string(t));
    qem::WarmPagesFromForTesting(std::numeric_limits<std::size_t>::max());
    const std::string expected = Summary(texts[t], 0, texts[t].size() + 100, kOneThread);
    qem::WarmPagesFromForTesting(1);
    EXPECT_EQ(Summary(texts[t], 0, texts[t].size() + 100, kOneThread), expected);
    EXPECT_EQ(Summary(texts[t], 0, 1000, 0), expected);
  }

  qemgen::Params params;
  params.nx = params.ny = params.nz = 20;
  params.frames = 3;
  const std::string text = qemgen::GenerateQem(params);
  auto load = [&](std::size_t warmFrom) {
    qem::WarmPagesFromForTesting(warmFrom);
    auto doc = std::make_unique<qem::Document>();
    qem::LoadControl control;
    qem::ParseDocumentTextInPieces(text, 1 << 16, "mesh.qem", *doc, control, 0);
    qem::ValidateDocument(*doc, control);
    qem::PrepareDocument(*doc, control);
    qem::BuildOctree(*doc, control);
    qem::FindBoundary(*doc, control);
    EXPECT_FALSE(control.trace.IsPending());
    EXPECT_LT(doc->elements.Capacity() - doc->elements.size(), qem::ElementList::kBlock);
    return doc;
  };
  const auto plain = load(std::numeric_limits<std::size_t>::max());
  const auto warmed = load(1);
  ASSERT_EQ(warmed->elements.size(), plain->elements.size());
  for (std::size_t e = 0; e < plain->elements.size(); ++e) {
    const qem::Element &a = warmed->elements[e], &b = plain->elements[e];
    ASSERT_EQ(std::vector<std::uint32_t>(a.vertexIndices.begin(), a.vertexIndices.end()),
              std::vector<std::uint32_t>(b.vertexIndices.begin(), b.vertexIndices.end()))
        << e;
    ASSERT_EQ(a.centre.x, b.centre.x) << e;
    ASSERT_EQ(a.centre.y, b.centre.y) << e;
    ASSERT_EQ(a.centre.z, b.centre.z) << e;
  }
  EXPECT_EQ(qem::CountOctreeLevels(warmed->octree.get()), qem::CountOctreeLevels(plain->octree.get()));
  ASSERT_EQ(warmed->boundaryTriangles.size(), plain->boundaryTriangles.size());
  for (std::size_t k = 0; k < plain->boundaryTriangles.size(); ++k) {
    const qem::Triangle &a = *warmed->boundaryTriangles[k], &b = *plain->boundaryTriangles[k];
    ASSERT_TRUE(a.a == b.a && a.b == b.b && a.c == b.c) << k;
  }
  for (std::size_t f = 0; f < plain->frames.size(); ++f) EXPECT_EQ(warmed->frames[f].values, plain->frames[f].values);
}

// Validation and preparation of a mesh large enough for two threads: the first broken
// element in file order is named whichever half holds it, and every element's vertex set
// and centre are those worked out one element at a time.
TEST(QemPrepareThreads, TwoHalvesNameTheFirstBadElementAndPrepareEveryElement) {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 20;
  params.frames = 1;
  const std::string text = qemgen::GenerateQem(params);
  auto validate = [&](const std::vector<std::pair<std::size_t, std::uint32_t>>& changes) {
    qem::Document doc;
    qem::LoadControl control;
    qem::ParseDocumentText(text, "mesh.qem", doc, control);
    for (const auto& [element, vertex] : changes) {
      if (vertex == 0) {
        doc.elements[element].triangles.count = 3;
      } else {
        doc.elements[element].triangles[1].b = vertex;
      }
    }
    qem::ValidateDocument(doc, control);
    return control.trace.IsPending() ? control.trace.Lines()[0] : std::string();
  };
  auto badVertex = [](std::size_t e, std::uint32_t v) {
    return "Element o indeksie "_cp + std::to_string(e) + " odwołuje się do nieistniejącego wierzchołka "_cp +
           std::to_string(v);
  };
  qem::Document doc;
  qem::LoadControl control;
  qem::ParseDocumentText(text, "mesh.qem", doc, control);
  const std::size_t n = doc.elements.size(), last = n - 1;
  ASSERT_GE(n, std::size_t{1} << 15);
  EXPECT_EQ(validate({}), "");
  EXPECT_EQ(validate({{last, 1u << 30}}), badVertex(last, 1u << 30));
  EXPECT_EQ(validate({{n / 2 + 5000, 1u << 30}, {last, 1u << 29}}), badVertex(n / 2 + 5000, 1u << 30));
  EXPECT_EQ(validate({{3, 1u << 29}, {n / 2 + 5000, 1u << 30}}), badVertex(3, 1u << 29));
  EXPECT_EQ(validate({{n / 2 - 1, 1u << 29}, {n / 2, 1u << 30}}), badVertex(n / 2 - 1, 1u << 29));
  EXPECT_EQ(validate({{3, 1u << 29}, {last, 0}}), "Element o indeksie "_cp + std::to_string(last) +
                                                      " składa się tylko z 3 trójkątów - powinien conajmniej z 4"_cp);

  qem::ValidateDocument(doc, control);
  qem::PrepareDocument(doc, control);
  ASSERT_FALSE(control.trace.IsPending());
  EXPECT_EQ(control.progressCount.load(), n);
  for (std::size_t e = 0; e < n; ++e) {
    const qem::Element& element = doc.elements[e];
    std::vector<std::uint32_t> set;
    for (const qem::Triangle& t : element.triangles) set.insert(set.end(), {t.a, t.b, t.c});
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    ASSERT_EQ(std::vector<std::uint32_t>(element.vertexIndices.begin(), element.vertexIndices.end()), set) << e;
    qem::Float3 sum;
    for (const std::uint32_t v : set) {
      sum.x += doc.vertices[v].x;
      sum.y += doc.vertices[v].y;
      sum.z += doc.vertices[v].z;
    }
    const float inverse = 1.0f / static_cast<float>(set.size());
    ASSERT_EQ(element.centre.x, sum.x * inverse) << e;
    ASSERT_EQ(element.centre.y, sum.y * inverse) << e;
    ASSERT_EQ(element.centre.z, sum.z * inverse) << e;
  }
}

}  // namespace
