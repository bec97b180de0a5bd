// qem-generate and qem-info as a user runs them: output files, exit codes, the JSON keys.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/qem/QemTestUtil.h"

namespace {

struct Ran {
  int status = -1;
  std::string out;
};

Ran Execute(const std::string& command) {
  Ran run;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
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
  {
    std::ofstream(polish, std::ios::binary) << "QEM\nVERTICES x\n";
  }
  const Ran named = Execute(kInfo + " '" + polish + "'");
  std::remove(polish.c_str());
  EXPECT_EQ(named.status, 1);
  EXPECT_NE(named.out.find("Nie można wczytać pliku: " + polish + "\n"), std::string::npos) << named.out;

  EXPECT_EQ(Execute(kInfo + " --help").status, 0);
  EXPECT_EQ(Execute(kInfo).status, 3);
  EXPECT_EQ(Execute(kGenerate + " --size 0 1 1").status, 2);
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
