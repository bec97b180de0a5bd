// The QEM reader: sections, element lines, numbers, every message with its position, and
// the two tokenisers (plain texts and full TVL) giving the same result.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "Common_Code/Stream.h"
#include "config/TvlError.h"
#include "qem/Loader.h"
#include "qem/QEM.h"
#include "tests/qem/QemTestUtil.h"
#include "tools/qem-generate/Generate.h"

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

using qemtest::Summary;

TEST(QemReader, EveryTruncationFailsCleanlyAndBothTokenisersAgree) {
  const std::string full = qemtest::kTetraFile;
  std::string withSeparators = full;
  for (char& c : withSeparators) {
    if (c == ' ') c = ',';
  }
  for (const std::string& source :
       {full, withSeparators, std::string("QEM VERTICES 2 1,,2;3 4 5 6 ELEMENTS 1 0 0 1\r\n FRAMES 1 5 6")}) {
    for (std::size_t n = 1; n <= source.size(); ++n) {  // (an empty text behind a comment is not at its end)
      const std::string prefix = source.substr(0, n);
      SCOPED_TRACE(prefix);
      ASSERT_EQ(Summary(prefix, 0), Summary("{/c/}" + prefix, 5));
    }
  }
}

// The pieces a file is read in change nothing: for every buffer size, down to one smaller
// than a token, the document, the error and its offset, line and column are those of the
// whole text (texts with comments go to the full reader whole).
TEST(QemReader, ReadingInPiecesGivesTheWholeTextsResultForAnyBufferSize) {
  std::string separators = qemtest::kTetraFile;
  for (char& c : separators) {
    if (c == ' ') c = ',';
  }
  const std::string longToken = "QEM VERTICES 1 " + std::string(100, '1') + " 2\t\t 3\n  ELEMENTS 0 FRAMES 1 0.5 ,7\n";
  const std::vector<std::string> texts = {
      qemtest::kTetraFile,
      separators,
      "QEM VERTICES 2 1,,2;3 4 5 6 ELEMENTS 1 0 0 1\r\n FRAMES 1 5 6",
      "QEM\r\nVERTICES 4\r\n0 0 0\r\n1 0 0\r\n0 1 0\r\n0 0 1\r\nELEMENTS 1\r\n0 2 1  0 1 3 \r\n 1 2 3  0 3 2\r\n"
      "FRAMES 1\r\n0 1 2 3 4 5\r\n",
      longToken,
      "QEM VERTICES 1 1 2 3 ELEMENTS 1 0 0 0 0 0 0 0 0 0 0 0 0 FRAMES 1 0 1 {a comment at the end}",
      "\xEF\xBB\xBF" + std::string(qemtest::kTetraFile),
  };
  for (const std::string& text : texts) {
    for (std::size_t n = 1; n <= text.size(); ++n) {
      const std::string prefix = text.substr(0, n);
      const std::string expected = Summary(prefix, 0, text.size() + 100);
      for (const std::size_t buffer : {16u, 17u, 23u, 40u, 64u}) {
        SCOPED_TRACE(prefix + " in pieces of " + std::to_string(buffer));
        ASSERT_EQ(Summary(prefix, 0, buffer), expected);
      }
    }
  }
}

// A Windows editor's byte-order mark is skipped; positions count from the byte after it,
// so they are those of the same text without it.
TEST(QemReader, ALeadingByteOrderMarkIsSkipped) {
  const std::string bom = "\xEF\xBB\xBF";
  const auto r = LoadFile(bom + qemtest::kTetraFile);
  ASSERT_FALSE(r->control.trace.IsPending()) << r->control.trace.Lines()[0];
  EXPECT_EQ(r->doc.vertices.size(), 4u);
  EXPECT_EQ(r->doc.frames.size(), 2u);
  const std::string broken = "QEM\nVERTICES x\n";
  const auto bad = LoadFile(bom + broken);
  ASSERT_TRUE(bad->control.trace.IsPending());
  EXPECT_EQ(bad->control.trace.Lines()[0], RootLine(13, 2, 10, "Błędna liczba wierzchołków"_cp));
  EXPECT_EQ(Summary(bom + broken, 0, 16), Summary(broken, 0, 16));
  EXPECT_EQ(Summary(bom + "{c}" + broken, 0, 16), Summary("{c}" + broken, 0, 16));
  // Only one, and only at the start.
  EXPECT_TRUE(Parse(bom + bom + qemtest::kTetraFile)->control.trace.IsPending());
  EXPECT_TRUE(Parse("\n" + bom + qemtest::kTetraFile)->control.trace.IsPending());
}

// An error far into a file read in pieces has the line and column of the whole file.
TEST(QemReader, AnErrorPastTheFirstPieceOfAFileHasItsLineAndColumn) {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 16;  // about 300 kB: many pieces of 4 kB
  std::string text = qemgen::GenerateQem(params);
  const std::size_t at = text.rfind("FRAMES");
  text.insert(at, "x ");
  std::uint32_t line = 1;
  for (std::size_t i = 0; i < at; ++i) line += text[i] == '\n';
  const auto r = LoadFile(text);
  ASSERT_TRUE(r->control.trace.IsPending());
  EXPECT_EQ(qemtest::NewestFirst(r->control.trace)[2],
            RootLine(static_cast<std::uint32_t>(at), line, 1, "Błędny nagłówek pliku"_cp))
      << line;
  EXPECT_EQ(Summary(text, 0, 4096), Summary(text, 0, text.size() + 1));
}

// A cancellation that arrives while the text is being read stops the read after the item
// being read: what was read stays, nothing after it is read.
TEST(QemReader, ACancelInTheMiddleOfTheReadStopsIt) {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 30;
  TempFile file(qemgen::GenerateQem(params));
  bool stoppedInside = false;
  for (int attempt = 0; attempt < 20 && !stoppedInside; ++attempt) {
    qem::Document doc;
    qem::LoadControl control;
    std::thread canceller([&] {
      while (control.progressCount.load() < 1000) std::this_thread::yield();
      control.Cancel();
    });
    qem::LoadDocument(file.path, &doc, control);
    if (!control.Cancelled()) control.Cancel();
    canceller.join();
    EXPECT_FALSE(control.trace.IsPending());
    EXPECT_FALSE(ErrorPending());
    const std::size_t items = doc.vertices.size() + doc.elements.size() + doc.frames.size();
    // Every item read was counted, and the reading went no further.
    EXPECT_EQ(items, control.progressCount.load());
    stoppedInside = doc.frames.size() < static_cast<std::size_t>(params.frames);
  }
  EXPECT_TRUE(stoppedInside);
}

// A file that another program truncates while it loads gives a read failure.
TEST(QemReader, AFileThatShrinksWhileItIsReadIsAReadFailure) {
  TempFile file(std::string(1000, ' ') + qemtest::kTetraFile);
  stream::InputFile input;
  ASSERT_TRUE(input.Open(file.path));
  ASSERT_EQ(::truncate(file.path.c_str(), 500), 0);
  std::vector<char> buffer(4096);
  GlobalErrorTrace().Clear();
  EXPECT_EQ(input.Read(buffer.data(), buffer.size()), 0u);
  ASSERT_TRUE(ErrorPending());
  EXPECT_NE(GlobalErrorTrace().Lines()[0].find("Nie mozna odczytac z pliku"), std::string::npos);
  GlobalErrorTrace().Clear();
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QEM_TEST_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QEM_TEST_UNDER_SANITIZER 1
#endif
#endif

#ifndef QEM_TEST_UNDER_SANITIZER
// Bytes this process has read from files so far.
std::uint64_t BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string line;
  while (std::getline(io, line)) {
    if (line.rfind("rchar:", 0) == 0) return std::stoull(line.substr(6));
  }
  return 0;
}

// Runs the whole load of path in a child process limited to `limit` more bytes of address
// space; the child answers through its exit status: 0 when the load failed with the
// out-of-memory message alone and left no document, 1 for any other end (a crash is a
// signal). With refusedUnread, also 1 when the load read a megabyte or more of the file.
int LoadWithLimitedMemory(const std::string& path, std::size_t limit, bool refusedUnread) {
  const pid_t child = ::fork();
  if (child == 0) {
    rlimit cap{};
    std::ifstream status("/proc/self/status");
    std::string line;
    std::size_t used = 0;
    while (std::getline(status, line)) {
      if (line.rfind("VmSize:", 0) == 0) used = std::stoul(line.substr(7)) * 1024;
    }
    cap.rlim_cur = cap.rlim_max = used + limit;
    ::setrlimit(RLIMIT_AS, &cap);
    qem::Document doc;
    qem::LoadControl control;
    const std::uint64_t before = BytesRead();
    qem::RunLoad(path, doc, control, {});
    const bool unread = BytesRead() - before < (std::uint64_t{1} << 20);
    const bool ok = control.trace.Lines() == std::vector<std::string>{std::string(qem::kOutOfMemoryText)} &&
                    doc.vertices.empty() && doc.elements.empty() && !ErrorPending() && (unread || !refusedUnread);
    ::_exit(ok ? 0 : 1);
  }
  int raw = 0;
  ::waitpid(child, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}
#endif

// A file larger than the memory the process may use ends the load with a message, not the
// process: refused before any reading when its size alone rules it out, and through the
// allocation that fails otherwise (here one token as long as the file, which the read
// buffer must hold whole).
TEST(QemReader, RunningOutOfMemoryEndsTheLoadWithItsMessage) {
#ifdef QEM_TEST_UNDER_SANITIZER
  GTEST_SKIP() << "the sanitizers' shadow memory needs more address space than any useful limit";
#else
  const std::string path = "/tmp/qem_test_sparse_" + std::to_string(::getpid()) + ".qem";
  for (const std::uint64_t size : {std::uint64_t{64} << 30, std::uint64_t{512} << 20}) {
    SCOPED_TRACE(size);
    {
      const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);  // sparse: no disk used
      ::close(fd);
    }
    // 64 GiB is refused by its size before any reading; 512 MiB is read until the buffer
    // for its one token can grow no more.
    EXPECT_EQ(LoadWithLimitedMemory(path, std::size_t{128} << 20, size > (std::uint64_t{1} << 32)), 0);
  }
  std::remove(path.c_str());
#endif
}

}  // namespace
