#include "Common_Code/Stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "tests/TraceLines.h"

namespace {

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalErrorTrace().Clear();
    dir = std::filesystem::temp_directory_path() /
          ("qem-stream-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    GlobalErrorTrace().Clear();
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::vector<std::string> TraceLines() { return PopAllLines(); }
  std::filesystem::path dir;
};

// Counts the Read calls ReadAll makes and the sizes they return.
class CountingFile : public stream::File {
 public:
  using stream::File::File;
  void Read(void* buffer, std::size_t& size) override {
    stream::File::Read(buffer, size);
    sizes.push_back(size);
  }
  std::vector<std::size_t> sizes;
};

TEST_F(StreamTest, WholeFileReadsEveryByteRaw) {
  std::string bytes;
  for (int i = 0; i < 3 * 65535 + 17; ++i) bytes += static_cast<char>(i * 7);
  bytes += "\r\n\0\x1a end";
  std::string out = "old";
  ReadWholeFile(Write("raw.bin", bytes), out);
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(out, bytes);

  ReadWholeFile(Write("empty.bin", ""), out);
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(out, "");
}

TEST_F(StreamTest, ReadAllStopsAtTheFirstShortBlock) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> reads;
  };
  const Case cases[] = {
      {0, {0}}, {65534, {65534}}, {65535, {65535, 0}}, {65536, {65535, 1}}, {131070, {65535, 65535, 0}}};
  for (const Case& c : cases) {
    const std::string path = Write("sized.bin", std::string(c.size, 'x'));
    CountingFile file(std::fopen(path.c_str(), "rb"));
    std::string out;
    file.ReadAll(out);
    EXPECT_EQ(out.size(), c.size);
    EXPECT_EQ(file.sizes, c.reads) << c.size;
  }
}

TEST_F(StreamTest, MissingFileLeavesOpenThenReadFailureQuotingThePath) {
  const std::string path = (dir / "no such.qem").string();
  std::string out = "kept";
  ReadWholeFile(path, out);
  ASSERT_TRUE(ErrorPending());
  const auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(lines[0].find(']')), "] Nie mozna wczytac lancucha z pliku \"" + path + "\"");
  EXPECT_EQ(lines[1].substr(lines[1].find(']')), "] Nie mozna otworzyc pliku \"" + path + "\"");
  EXPECT_EQ(lines[0].rfind("[Stream,", 0), 0u);
  EXPECT_EQ(lines[1].rfind("[Stream,", 0), 0u);
  EXPECT_EQ(out, "kept");
}

TEST_F(StreamTest, PendingTraceReadsNothingButStillAddsTheReadFailure) {
  const std::string path = Write("data.txt", "content");
  ErrorRaise("earlier", "", 0);
  std::string out = "kept";
  ReadWholeFile(path, out);
  EXPECT_EQ(out, "kept");
  const auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Nie mozna wczytac lancucha z pliku \"" + path + "\""), std::string::npos);
  EXPECT_EQ(lines[1], "earlier");
}

TEST_F(StreamTest, BaseStreamRefusesBothDirections) {
  stream::Base base;
  EXPECT_FALSE(base.Write("x", 1));
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(lines[0].find("] ") + 2), std::string("Ta klasa nie obsługuje zapisywania"_cp));
  char buffer[4];
  std::size_t size = sizeof buffer;
  base.Read(buffer, size);
  EXPECT_EQ(size, 0u);
  lines = TraceLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(lines[0].find("] ") + 2), std::string("Ta klasa nie obsługuje odczytywania"_cp));
}

TEST_F(StreamTest, SeekTellSizeAndWrite) {
  const std::string path = Write("seek.bin", "0123456789");
  stream::File file(std::fopen(path.c_str(), "r+b"));
  EXPECT_EQ(file.GetSize(), 10);
  file.Seek(-3, stream::kFromEnd);
  std::int32_t position = -1;
  file.Tell(position);
  EXPECT_EQ(position, 7);
  file.Seek(1, stream::kFromCurrent);
  file.Tell(position);
  EXPECT_EQ(position, 8);
  EXPECT_EQ(file.GetSize(), 10);  // size leaves the position where it was
  file.Tell(position);
  EXPECT_EQ(position, 8);
  file.Seek(2, stream::kFromStart);
  EXPECT_TRUE(file.Write("ab", 2));
  EXPECT_FALSE(file.Write("", 0));  // an empty block is no write and no error
  EXPECT_FALSE(ErrorPending());
  file.Seek(-1, stream::kFromStart);
  EXPECT_TRUE(ErrorPending());
  const auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("] Nie mozna przestawic pozycji w pliku"), std::string::npos);
}

}  // namespace
