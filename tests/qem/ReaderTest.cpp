// The QEM reader: sections, element lines, numbers, every message with its position, and
// the two tokenisers (plain texts and full TVL) giving the same result.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "config/TvlError.h"
#include "qem/QEM.h"
#include "tests/qem/QemTestUtil.h"

namespace {

using qemtest::TempFile;

struct Loaded {
  qem::Document doc;
  qem::LoadControl control;
};

std::unique_ptr<Loaded> LoadFile(const std::string& text) {
  auto result = std::make_unique<Loaded>();
  TempFile file(text);
  qem::LoadDocument(file.path, &result->doc, result->control);
  return result;
}

std::unique_ptr<Loaded> Parse(std::string_view text) {
  auto result = std::make_unique<Loaded>();
  qem::ParseDocumentText(text, "mesh.qem", result->doc, result->control);
  return result;
}

std::string RootLine(std::uint32_t offset, std::uint32_t line, std::uint32_t column, std::string_view message,
                     int code = 3) {
  return "(tvl2," + std::to_string(code) + ") znak " + std::to_string(offset) + " wiersz " + std::to_string(line) +
         " kolumna " + std::to_string(column) + ": " + std::string(message);
}

TEST(QemReader, ReadsTheExampleTetrahedron) {
  const auto r = LoadFile(qemtest::kTetraFile);
  ASSERT_FALSE(r->control.trace.IsPending());
  ASSERT_EQ(r->doc.vertices.size(), 4u);
  EXPECT_EQ(r->doc.vertices[3].z, 1.0f);
  ASSERT_EQ(r->doc.elements.size(), 1u);
  const qem::Element& e = r->doc.elements.front();
  ASSERT_EQ(e.triangles.size(), 4u);
  EXPECT_EQ(e.triangles[0].a, 0u);
  EXPECT_EQ(e.triangles[0].b, 2u);
  EXPECT_EQ(e.triangles[0].c, 1u);
  EXPECT_EQ(e.triangles[3].c, 2u);
  EXPECT_TRUE(e.vertexIndices.empty());
  ASSERT_EQ(r->doc.frames.size(), 2u);
  EXPECT_EQ(r->doc.frames[1].time, 1.5f);
  EXPECT_EQ(r->doc.frames[1].values, (std::vector<float>{3, 2, 1, 0}));
  // Progress counts 4 vertices, 1 element and 2 frames; the total stays 0.
  EXPECT_EQ(r->control.progressCount.load(), 7u);
  EXPECT_EQ(r->control.progressTotal.load(), 0u);
}

TEST(QemReader, AnElementEndsAtTheLineBreakAfterATriangle) {
  const std::string head = "QEM\nVERTICES 0\nELEMENTS ";
  const std::string tail = "FRAMES 0\n";
  // One line of six numbers: one element of two triangles.
  auto r = Parse(head + "1\n0 1 2 3 4 5\n" + tail);
  ASSERT_FALSE(r->control.trace.IsPending()) << r->control.trace.Lines().front();
  ASSERT_EQ(r->doc.elements.size(), 1u);
  EXPECT_EQ(r->doc.elements[0].triangles.size(), 2u);
  // Three to a line: two elements.
  r = Parse(head + "2\n0 1 2\n3 4 5\n" + tail);
  ASSERT_EQ(r->doc.elements.size(), 2u);
  EXPECT_EQ(r->doc.elements[1].triangles[0].a, 3u);
  // A triangle may span a line break; only the break after its third number counts.
  r = Parse(head + "1\n0 1\n2 3 4\r\n5\n" + tail);
  ASSERT_FALSE(r->control.trace.IsPending());
  ASSERT_EQ(r->doc.elements.size(), 1u);
  EXPECT_EQ(r->doc.elements[0].triangles.size(), 2u);
}

TEST(QemReader, NumbersSeparatorsAndComments) {
  const auto r = Parse(
      "QEM {/ header /}\n"
      "VERTICES 3\n"
      "1,2,3\n"
      "abc; -1.5e1;\t+4\n"
      "{/ a comment on its own line /}\n"
      "0x10 {/ between numbers /} 1e 2.5x\n"
      "ELEMENTS 1\n"
      "0 1 2 0 1 2 0 1 2 0 1 2\n"
      "FRAMES 1 0.25 ,,, 7\n");
  ASSERT_FALSE(r->control.trace.IsPending()) << r->control.trace.Lines().front();
  ASSERT_EQ(r->doc.vertices.size(), 3u);
  EXPECT_EQ(r->doc.vertices[0].y, 2.0f);
  EXPECT_EQ(r->doc.vertices[1].x, 0.0f);  // a word that is no number reads as 0
  EXPECT_EQ(r->doc.vertices[1].y, -15.0f);
  EXPECT_EQ(r->doc.vertices[1].z, 4.0f);   // atof takes a leading "+"
  EXPECT_EQ(r->doc.vertices[2].x, 16.0f);  // and hexadecimal
  EXPECT_EQ(r->doc.vertices[2].y, 1.0f);
  EXPECT_EQ(r->doc.vertices[2].z, 2.5f);
  // Two commas in a row give an empty value, which reads as 0.
  EXPECT_EQ(r->doc.frames[0].values, (std::vector<float>{0, 0, 7}));
}

TEST(QemReader, EndsRightAfterTheLastValueWithOrWithoutLineBreak) {
  std::string text = qemtest::kTetraFile;
  EXPECT_FALSE(Parse(text)->control.trace.IsPending());
  text.pop_back();
  EXPECT_FALSE(Parse(text)->control.trace.IsPending());
  EXPECT_FALSE(Parse(text + " {/ trailing comment /}\n")->control.trace.IsPending());
  EXPECT_FALSE(Parse("QEM VERTICES 0 ELEMENTS 0 FRAMES 0")->control.trace.IsPending());
}

struct RejectCase {
  const char* text;
  const char* at;  // the text from the error's position on; "" for the end of the text
  std::string message;
  int code = 3;
};

TEST(QemReader, RejectsWithTheMessageAtTheStartOfTheMissingOrWrongToken) {
  const std::string kHeader = "Błędny nagłówek pliku"_cp;
  const std::string kNumber = "Oczekiwana liczba"_cp;
  const std::vector<RejectCase> cases = {
      {"", "", kHeader},
      {"  qem VERTICES 0", "qem VERTICES 0", kHeader},
      {"QEMX VERTICES 0", "QEMX VERTICES 0", kHeader},
      {"QEM\nVERTEX 1\n", "VERTEX 1\n", kHeader},
      {"QEM\nvertices 1\n", "vertices 1\n", kHeader},
      {"QEM\nVERTICES 2.0\n", "2.0\n", "Błędna liczba wierzchołków"_cp},
      {"QEM\nVERTICES +2\n", "+2\n", "Błędna liczba wierzchołków"_cp},
      {"QEM\nVERTICES 4294967296\n", "4294967296\n", "Błędna liczba wierzchołków"_cp},
      {"QEM\nVERTICES\n", "", "Błędna liczba wierzchołków"_cp},
      {"QEM\nVERTICES ,\n", "", "Błędna liczba wierzchołków"_cp},
      {"QEM\nVERTICES 1\n0 0\n", "", kNumber},
      {"QEM\nVERTICES 1\n0 = 0\n", "= 0\n", kNumber},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS -1\n", "-1\n", "Błędna liczba elementów"_cp},
      {"QEM\nVERTICES 1\n0 0 0\nFRAMES 0\n", "FRAMES 0\n", kHeader},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 1\n0 -1 0\n", "-1 0\n", kNumber},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 1\n0 1 2.0\n", "2.0\n", kNumber},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 1\n0 1 4294967296\n", "4294967296\n", kNumber},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 1\n0 1\n", "", kNumber},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 0\nFRAMES x\n", "x\n", "Błędna liczba klatek"_cp},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 0\nFRAMES 1\n0.5\n", "", kNumber},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 0\nFRAMES 1\n0.5 }\n", "}\n", kNumber},
      {"QEM\nVERTICES 1\n0 0 0\nELEMENTS 0\nFRAMES 1\n0.5 1\nextra\n", "extra\n", "Oczekiwany koniec"_cp},
      {"QEM\nVERTICES 0 ELEMENTS 0 FRAMES 0 {/ last /}", "{/ last /}", "Oczekiwany koniec"_cp},
      {"QEM {/ open comment", "", "Niespodziewany koniec dokumentu", 0},
      {"QEM\nVERTICES 1\n0 a\"b 0\n", "\"b 0\n", "Polaczone elementy", 2},
      {"QEM\nVERTICES 1\n0 {\\zz} 0\n", "z} 0\n", "Blad skladni znaku specjalnego", 1},
  };
  for (const RejectCase& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    const auto r = Parse(text);
    ASSERT_TRUE(r->control.trace.IsPending());
    const auto& lines = r->control.trace.Lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::uint32_t offset = static_cast<std::uint32_t>(*c.at ? text.rfind(c.at) : text.size());
    const tvl::Error where(c.code, text, offset);
    EXPECT_EQ(lines[0], RootLine(offset, where.line, where.column, c.message, c.code));
    EXPECT_EQ(lines[1], "Nie można wczytać pliku: mesh.qem"_cp);
  }
}

TEST(QemReader, AFailureReadsLocationWrapperAndRootNewestFirst) {
  const std::string text = "QEM\nVERTICES 1\n0 0 0\nELEMENTS 1\n0 -1 0\n";
  TempFile file(text);
  qem::Document doc;
  qem::LoadControl control;
  qem::LoadDocument(file.path, &doc, control);
  const auto lines = qemtest::NewestFirst(control.trace);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("[QEM,", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("qem::LoadDocument"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "Nie można wczytać pliku: "_cp + file.path);
  EXPECT_EQ(lines[2], RootLine(34, 5, 3, "Oczekiwana liczba"_cp));
  // What was read before the failure stays; the element being read is dropped.
  EXPECT_EQ(doc.vertices.size(), 1u);
  EXPECT_TRUE(doc.elements.empty());
  EXPECT_FALSE(ErrorPending());
}

TEST(QemReader, AMissingFileIsReportedOnTheCallingThreadsTraceOnly) {
  GlobalErrorTrace().Clear();
  qem::Document doc;
  qem::LoadControl control;
  qem::LoadDocument("/nonexistent/dir/mesh.qem", &doc, control);
  EXPECT_FALSE(control.trace.IsPending());
  ASSERT_TRUE(ErrorPending());
  const auto& lines = GlobalErrorTrace().Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Nie mozna otworzyc pliku \"/nonexistent/dir/mesh.qem\""), std::string::npos);
  EXPECT_NE(lines[1].find("Nie mozna wczytac lancucha z pliku \"/nonexistent/dir/mesh.qem\""), std::string::npos);
  EXPECT_TRUE(doc.vertices.empty());
  GlobalErrorTrace().Clear();
}

TEST(QemReader, AnEmptyFileIsAnEmptyTextWithoutHeader) {
  TempFile file("");
  qem::Document doc;
  qem::LoadControl control;
  qem::LoadDocument(file.path, &doc, control);
  EXPECT_FALSE(ErrorPending());
  const auto lines = qemtest::NewestFirst(control.trace);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Nie można wczytać pliku: "_cp + file.path);
  EXPECT_EQ(lines[2], RootLine(0, 1, 1, "Błędny nagłówek pliku"_cp));
}

// A FIFO with no writer would block an ordinary open for ever, a device or a socket
// gives no mesh text: each is refused at once as a file that cannot be opened.
TEST(QemReader, WhatIsNotARegularFileIsRefusedAtOnceAsUnopenable) {
  const std::string fifo = "/tmp/qem_test_fifo_" + std::to_string(::getpid());
  const std::string socketPath = "/tmp/qem_test_socket_" + std::to_string(::getpid());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  for (const std::string& path : {std::string("/tmp"), fifo, socketPath, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    GlobalErrorTrace().Clear();
    qem::Document doc;
    qem::LoadControl control;
    auto load = std::async(std::launch::async, [&] {
      ScopedErrorTrace scope(GlobalErrorTrace());
      qem::LoadDocument(path, &doc, control);
    });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // Blocked in open: a writer lets it go, so that the test can end.
      ::close(::open(fifo.c_str(), O_RDWR));
      load.wait();
      ADD_FAILURE() << "the load waited on " << path;
      continue;
    }
    EXPECT_FALSE(control.trace.IsPending());
    ASSERT_TRUE(ErrorPending());
    const auto& lines = GlobalErrorTrace().Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("Nie mozna otworzyc pliku \"" + path + "\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("Nie mozna wczytac lancucha z pliku \"" + path + "\""), std::string::npos) << lines[1];
  }
  GlobalErrorTrace().Clear();
  ::close(listener);
  ::unlink(socketPath.c_str());
  ::unlink(fifo.c_str());
}

TEST(QemReader, ACancelledReadStopsAfterTheItemBeingRead) {
  qem::Document doc;
  qem::LoadControl control;
  control.Cancel();
  qem::ParseDocumentText(qemtest::kTetraFile, "x", doc, control);
  EXPECT_TRUE(doc.vertices.empty());
  EXPECT_FALSE(control.trace.IsPending());
}

TEST(QemReader, HugeCountsWithLittleDataFailWithoutReservingForThem) {
  const auto r = Parse("QEM\nVERTICES 4294967295\n1 2 3\n");
  ASSERT_TRUE(r->control.trace.IsPending());
  EXPECT_EQ(r->doc.vertices.size(), 1u);
  EXPECT_LT(r->doc.vertices.capacity(), 100u);
}

// Parses text and the same text behind a leading comment (which sends it through the full
// TVL reader) and returns a summary of each: the document and the error with its offset
// taken back to the plain text's.
std::string Summary(std::string_view text, std::uint32_t shift) {
  const auto r = Parse(text);
  std::string s = std::to_string(r->doc.vertices.size()) + "v " + std::to_string(r->doc.elements.size()) + "e " +
                  std::to_string(r->doc.frames.size()) + "f";
  for (const auto& v : r->doc.vertices) s += " " + std::to_string(v.x) + "," + std::to_string(v.y) + "," + std::to_string(v.z);
  for (const auto& e : r->doc.elements) {
    s += " [";
    for (const auto& t : e.triangles) s += std::to_string(t.a) + "." + std::to_string(t.b) + "." + std::to_string(t.c) + " ";
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
    s += " error " + std::to_string(code) + "@" + std::to_string(offset - shift) + root.substr(root.find(':'));
  }
  return s;
}

TEST(QemReader, EveryTruncationFailsCleanlyAndBothTokenisersAgree) {
  const std::string full = qemtest::kTetraFile;
  std::string withSeparators = full;
  for (char& c : withSeparators) {
    if (c == ' ') c = ',';
  }
  for (const std::string& source : {full, withSeparators, std::string("QEM VERTICES 2 1,,2;3 4 5 6 ELEMENTS 1 0 0 1\r\n FRAMES 1 5 6")}) {
    for (std::size_t n = 1; n <= source.size(); ++n) {  // (an empty text behind a comment is not at its end)
      const std::string prefix = source.substr(0, n);
      SCOPED_TRACE(prefix);
      ASSERT_EQ(Summary(prefix, 0), Summary("{/c/}" + prefix, 5));
    }
  }
}

}  // namespace
