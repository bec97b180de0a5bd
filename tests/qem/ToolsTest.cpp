// qem-generate and qem-info as a user runs them: output files, exit codes, the JSON keys.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/qem/QemTestUtil.h"

namespace {

struct Ran {
  int status = -1;
  std::string out;
};

// out: the command's standard output, or with errorsOnly its standard error alone.
Ran Execute(const std::string& command, bool errorsOnly = false) {
  Ran run;
  FILE* pipe = popen((command + (errorsOnly ? " 2>&1 >/dev/null" : " 2>/dev/null")).c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const std::string kGenerate = QEM_GENERATE;
const std::string kInfo = QEM_INFO;

TEST(QemTools, GenerateIsDeterministicAndInfoReadsItBack) {
  qemtest::TempFile first(""), second("");
  ASSERT_EQ(Execute(kGenerate + " --size 3 2 2 --frames 4 " + first.path).status, 0);
  ASSERT_EQ(Execute(kGenerate + " --size 3 2 2 --frames 4 " + second.path).status, 0);
  EXPECT_EQ(ReadFile(first.path), ReadFile(second.path));
  EXPECT_EQ(Execute(kGenerate + " --size 3 2 2 --frames 4").out, ReadFile(first.path));  // standard output

  const Ran info = Execute(kInfo + " --json " + first.path);
  ASSERT_EQ(info.status, 0) << info.out;
  for (const char* part : {"\"vertices\": 36,", "\"elements\": 72,", "\"frames\": 4,", "\"triangles\": 288,",
                           "\"boundaryTriangles\": 64,", "\"octreeLevels\": [", "\"stageMs\": {\"read\": ",
                           "\"boundsMax\": [3, 2, 2]", "\"scale\": 1.5,", "\"peakMemoryMiB\": "}) {
    EXPECT_NE(info.out.find(part), std::string::npos) << part << "\n" << info.out;
  }
  EXPECT_EQ(info.out.substr(info.out.size() - 2), "}\n");  // a line like any other
  const Ran text = Execute(kInfo + " " + first.path);
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("boundary triangles: 64"), std::string::npos) << text.out;

  qemtest::TempFile hex("");
  ASSERT_EQ(Execute(kGenerate + " --hex --size 2 2 2 --frames 1 " + hex.path).status, 0);
  EXPECT_NE(Execute(kInfo + " --json " + hex.path).out.find("\"elements\": 8, \"frames\": 1, \"triangles\": 96"),
            std::string::npos);
}

// Every triangle of a generated element faces away from the element's centre, so the
// viewer's back-face culling shows every outer face of the box and hides none of it.
TEST(QemTools, GeneratedTrianglesFaceOutOfTheirElement) {
  for (const char* options :
       {"--size 2 2 2", "--hex --size 2 2 2", "--hex --size 3 2 2 --jitter 0.2", "--size 3 2 2 --jitter 0.2"}) {
    SCOPED_TRACE(options);
    qemtest::TempFile file("");
    ASSERT_EQ(Execute(kGenerate + " --frames 1 " + options + " " + file.path).status, 0);
    std::istringstream in(ReadFile(file.path));
    std::string word;
    std::size_t vertexCount = 0, elementCount = 0;
    in >> word >> word >> vertexCount;
    ASSERT_EQ(word, "VERTICES");
    std::vector<std::array<double, 3>> vertices(vertexCount);
    for (auto& v : vertices) in >> v[0] >> v[1] >> v[2];
    in >> word >> elementCount >> std::ws;
    ASSERT_EQ(word, "ELEMENTS");
    for (std::size_t e = 0; e < elementCount; ++e) {
      std::string line;
      std::getline(in, line);
      std::istringstream numbers(line);
      std::vector<std::array<std::size_t, 3>> triangles;
      for (std::array<std::size_t, 3> t; numbers >> t[0] >> t[1] >> t[2];) triangles.push_back(t);
      ASSERT_GE(triangles.size(), 4u) << line;
      std::array<double, 3> centre{};
      for (const auto& t : triangles)
        for (std::size_t corner : t)
          for (int a = 0; a < 3; ++a) centre[a] += vertices.at(corner)[a] / (3.0 * triangles.size());
      for (const auto& t : triangles) {
        const auto &p = vertices[t[0]], &q = vertices[t[1]], &r = vertices[t[2]];
        const std::array<double, 3> u{q[0] - p[0], q[1] - p[1], q[2] - p[2]}, v{r[0] - p[0], r[1] - p[1], r[2] - p[2]};
        const std::array<double, 3> normal{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                           u[0] * v[1] - u[1] * v[0]};
        double outwards = 0;
        for (int a = 0; a < 3; ++a) outwards += normal[a] * ((p[a] + q[a] + r[a]) / 3 - centre[a]);
        EXPECT_GT(outwards, 0) << "element " << e << ": " << t[0] << " " << t[1] << " " << t[2];
      }
    }
  }
}

TEST(QemTools, InfoExitCodesForBrokenAndMissingFiles) {
  qemtest::TempFile broken("QEM VERTICES 0 ELEMENTS 0 FRAMES 0\n");
  const Ran failed = Execute(kInfo + " " + broken.path);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "Błąd:\nSiatka musi mieć conajmniej jeden element\n");  // UTF-8 on output

  const Ran missing = Execute(kInfo + " /nonexistent/mesh.qem");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.out.find("Nie mozna otworzyc pliku \"/nonexistent/mesh.qem\""), std::string::npos);

  const Ran json = Execute(kInfo + " --json " + broken.path);
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out.rfind("{\"error\": \"Błąd:\\nSiatka", 0), 0u) << json.out;
  EXPECT_EQ(json.out.back(), '\n');

  // A file name with Polish letters is opened as given and shown as given.
  const std::string polish = "/tmp/qem_test_siatka_zażółć.qem";
  { std::ofstream(polish, std::ios::binary) << "QEM\nVERTICES x\n"; }
  const Ran named = Execute(kInfo + " '" + polish + "'");
  std::remove(polish.c_str());
  EXPECT_EQ(named.status, 1);
  EXPECT_NE(named.out.find("Nie można wczytać pliku: " + polish + "\n"), std::string::npos) << named.out;

  EXPECT_EQ(Execute(kInfo + " --help").status, 0);
  EXPECT_EQ(Execute(kInfo).status, 3);
}

// Arguments that would give a mesh the viewer refuses, or no mesh at all, end with the
// usage status and a line naming the argument; before, several wrote a file and said 0.
TEST(QemTools, GenerateRefusesBadArgumentsSayingWhich) {
  const struct {
    const char* arguments;
    const char* says;
  } cases[] = {
      {"--frames 0", "--frames 0: a mesh needs"},
      {"--frames x", "--frames x:"},
      {"--cube 0", "--cube 0: the edge must be a positive finite number"},
      {"--cube -1", "--cube -1: the edge must be"},
      {"--cube abc", "--cube abc: the edge must be"},
      {"--cube 2abc", "--cube 2abc: the edge must be"},
      {"--cube nan", "--cube nan: the edge must be"},
      {"--cube inf", "--cube inf: the edge must be"},
      {"--cube 1e39", "--cube 1e39: the edge must be"},
      {"--size 0 1 1", "--size: every size must be at least 1"},
      {"--size 1 x 1", "--size 1 x 1: the sizes must be whole numbers"},
      {"--size 4000000 4000000 4000000", "--size 4000000 4000000 4000000: gives 384000000000000000000 elements"},
      {"--size 2 1 1 --cube 3e38", "--cube: the box is too large for float coordinates"},
      {"--jitter 0.25", "--jitter 0.25: the jitter must be a number from 0 to below 0.25"},
      {"--jitter -0.1", "--jitter -0.1: the jitter must be"},
      {"--jitter nan", "--jitter nan: the jitter must be"},
      {"--bogus", "unknown or incomplete option --bogus"},
  };
  for (const auto& c : cases) {
    const Ran run = Execute(kGenerate + " " + c.arguments, true);
    EXPECT_EQ(run.status, 3) << c.arguments;
    EXPECT_NE(run.out.find(std::string("qem-generate: ") + c.says), std::string::npos) << c.arguments << "\n"
                                                                                       << run.out;
  }
}

// --jitter moves the vertices inside the box and no other, the same way on every run, and
// the mesh loads.
TEST(QemTools, GenerateJitterMovesOnlyInsideVerticesDeterministically) {
  qemtest::TempFile regular(""), jittered(""), again("");
  ASSERT_EQ(Execute(kGenerate + " --size 3 3 3 --frames 2 " + regular.path).status, 0);
  ASSERT_EQ(Execute(kGenerate + " --size 3 3 3 --frames 2 --jitter 0.2 " + jittered.path).status, 0);
  ASSERT_EQ(Execute(kGenerate + " --size 3 3 3 --frames 2 --jitter 0.2 " + again.path).status, 0);
  EXPECT_EQ(ReadFile(jittered.path), ReadFile(again.path));
  auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  };
  const auto a = lines(ReadFile(regular.path)), b = lines(ReadFile(jittered.path));
  ASSERT_EQ(a.size(), b.size());
  // Lines 2 .. 65 are the 4 x 4 x 4 vertices, x fastest; only the 2 x 2 x 2 inside move.
  int moved = 0;
  for (int v = 0; v < 64; ++v) {
    const int i = v % 4, j = v / 4 % 4, k = v / 16;
    const bool inside = i % 3 != 0 && j % 3 != 0 && k % 3 != 0;
    const std::string& before = a[2 + static_cast<std::size_t>(v)];
    const std::string& after = b[2 + static_cast<std::size_t>(v)];
    if (!inside) {
      EXPECT_EQ(before, after) << v;
      continue;
    }
    float x, y, z;
    ASSERT_EQ(std::sscanf(after.c_str(), "%f %f %f", &x, &y, &z), 3) << after;
    EXPECT_LE(std::fabs(x - static_cast<float>(i)), 0.2f) << after;
    EXPECT_LE(std::fabs(y - static_cast<float>(j)), 0.2f) << after;
    EXPECT_LE(std::fabs(z - static_cast<float>(k)), 0.2f) << after;
    moved += before != after;
  }
  EXPECT_EQ(moved, 8);
  // Everything after the vertices (elements, frames) is the regular mesh's.
  EXPECT_TRUE(std::equal(a.begin() + 66, a.end(), b.begin() + 66));
  const Ran info = Execute(kInfo + " --json " + jittered.path);
  ASSERT_EQ(info.status, 0) << info.out;
  EXPECT_NE(info.out.find("\"boundaryTriangles\": 108,"), std::string::npos) << info.out;
}

// A file the memory cannot hold (a sparse file of 64 GiB, an address-space limit of
// 256 MiB) is a mesh that does not load: exit status 1 and the viewer's message.
TEST(QemTools, InfoRunningOutOfMemoryExitsOneWithTheMessage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' shadow memory needs more address space than any useful limit";
#endif
  const std::string path = "/tmp/qem_test_info_sparse_" + std::to_string(::getpid()) + ".qem";
  {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{64} << 30), 0);
    ::close(fd);
  }
  const Ran limited = Execute("prlimit --as=" + std::to_string(std::uint64_t{256} << 20) + " " + kInfo + " " + path);
  std::remove(path.c_str());
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.out, "Błąd:\nZa mało pamięci, aby wczytać siatkę\n");
}

}  // namespace
