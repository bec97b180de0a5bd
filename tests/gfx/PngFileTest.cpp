// Pictures written as PNG read back the same, and a picture that cannot be written leaves
// nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "gfx/PngFile.h"

namespace {

namespace fs = std::filesystem;

class PngFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("png-test-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_all, ignored);
    fs::remove_all(dir, ignored);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    return names;
  }
  fs::path dir;
};

// 3 x 2 pixels, each of its own colour, so a swapped row, column or channel shows.
std::vector<std::uint8_t> Picture() {
  return {255, 0,  0,  255, 0,  255, 0,  255, 0,  0,  255, 255,  // top row
          10,  20, 30, 255, 40, 50,  60, 255, 70, 80, 90,  255};
}

TEST_F(PngFileTest, WrittenPictureReadsBackPixelForPixel) {
  const std::string path = (dir / "a.png").string();
  std::string reason;
  ASSERT_TRUE(gfx::WritePngFile(path, 3, 2, Picture(), reason)) << reason;
  unsigned w = 0, h = 0;
  std::vector<std::uint8_t> back;
  ASSERT_TRUE(gfx::ReadPngFile(path, w, h, back, reason)) << reason;
  EXPECT_EQ(w, 3u);
  EXPECT_EQ(h, 2u);
  EXPECT_EQ(back, Picture());
  EXPECT_EQ(Files(), std::vector<std::string>{"a.png"});  // no temporary left
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IRGRP, 0u) << "readable like any other file the user saves";
}

TEST_F(PngFileTest, OverwritesAWholeFileOnlyWhenTheNewOneIsWhole) {
  const std::string path = (dir / "a.png").string();
  std::string reason;
  ASSERT_TRUE(gfx::WritePngFile(path, 3, 2, Picture(), reason));
  std::vector<std::uint8_t> other(4 * 4, 7);
  ASSERT_TRUE(gfx::WritePngFile(path, 2, 2, other, reason));
  unsigned w = 0, h = 0;
  std::vector<std::uint8_t> back;
  ASSERT_TRUE(gfx::ReadPngFile(path, w, h, back, reason));
  EXPECT_EQ(w, 2u);
}

TEST_F(PngFileTest, FailuresLeaveNoFileAndSayWhy) {
  std::string reason;
  // A directory that cannot be written (root ignores permissions; a missing one fails for all).
  EXPECT_FALSE(gfx::WritePngFile((dir / "missing" / "a.png").string(), 3, 2, Picture(), reason));
  EXPECT_FALSE(reason.empty());
  reason.clear();
  EXPECT_FALSE(gfx::WritePngFile((dir / "a.png").string(), 3, 3, Picture(), reason)) << "size does not match";
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(gfx::WritePngFile((dir / "a.png").string(), 0, 0, {}, reason));
  // The target is a directory: the rename fails after the picture was written.
  fs::create_directories(dir / "taken.png" / "inside");
  EXPECT_FALSE(gfx::WritePngFile((dir / "taken.png").string(), 3, 2, Picture(), reason));
  EXPECT_EQ(Files(), std::vector<std::string>{"taken.png"});
}

}  // namespace
