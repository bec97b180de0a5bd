#include "app/Profiler.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

class ProfilerTest : public ::testing::Test {
 protected:
  void SetUp() override { Profiler::Reset(); }
  void TearDown() override { Profiler::Reset(); }
};

TEST_F(ProfilerTest, RepeatedSectionsShareANodePerParent) {
  for (int frame = 0; frame < 3; ++frame) {
    Profiler::Begin("Update");
    Profiler::Begin("Console");
    Profiler::End();
    Profiler::Begin("Engine");
    Profiler::End();
    Profiler::End();
    Profiler::Begin("Draw");
    Profiler::Begin("Console");
    Profiler::End();
    Profiler::End();
  }
  const ProfileNode& root = Profiler::Root();
  ASSERT_EQ(root.children.size(), 2u);
  const ProfileNode& update = *root.children[0];
  EXPECT_EQ(update.name, "Update");
  EXPECT_EQ(update.count, 3u);
  ASSERT_EQ(update.children.size(), 2u);
  EXPECT_EQ(update.children[0]->name, "Console");
  EXPECT_EQ(update.children[1]->name, "Engine");
  const ProfileNode& draw = *root.children[1];
  ASSERT_EQ(draw.children.size(), 1u);
  EXPECT_EQ(draw.children[0]->count, 3u);
  EXPECT_NE(draw.children[0].get(), update.children[0].get());  // same name, other parent

  const auto lines = Profiler::Lines();
  ASSERT_EQ(lines.size(), 5u);
  const std::regex top(R"(^(Update|Draw) : \d+\.\d{6} ms \(3\)$)");
  const std::regex child(R"(^  (Console|Engine) : \d+\.\d{6} ms \(3\)$)");
  EXPECT_TRUE(std::regex_match(lines[0], top)) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], child)) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], child)) << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], top)) << lines[3];
  EXPECT_TRUE(std::regex_match(lines[4], child)) << lines[4];
}

TEST_F(ProfilerTest, FormatAveragesInMilliseconds) {
  ProfileNode node;
  node.name = "Stat";
  EXPECT_EQ(node.Format(), "Stat : 0.000000 ms (0)");  // opened, never closed
  node.total = 0.006;
  node.count = 4;
  EXPECT_EQ(node.Format(), "Stat : 1.500000 ms (4)");
}

TEST_F(ProfilerTest, ExtraEndsLeaveTheRootAndOpenNodesStayPut) {
  Profiler::End();
  Profiler::End();
  Profiler::Begin("Update");
  const ProfileNode* update = Profiler::Root().children[0].get();
  // Many siblings appended below an open node never move it.
  for (int i = 0; i < 100; ++i) {
    Profiler::Begin("child" + std::to_string(i));
    Profiler::End();
  }
  Profiler::End();
  Profiler::End();
  EXPECT_EQ(Profiler::Root().children[0].get(), update);
  EXPECT_EQ(update->count, 1u);
  EXPECT_EQ(update->children.size(), 100u);
  EXPECT_EQ(Profiler::Root().count, 0u);
}

TEST_F(ProfilerTest, SaveWritesTheSameLines) {
  Profiler::Begin("Update");
  Profiler::Begin("Engine");
  Profiler::End();
  Profiler::End();
  const auto path = std::filesystem::temp_directory_path() / ("qem-profile-" + std::to_string(getpid()) + ".txt");
  EXPECT_TRUE(Profiler::Save(path.string()));
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  const auto lines = Profiler::Lines();
  EXPECT_EQ(content.str(), lines[0] + "\n" + lines[1] + "\n");
  std::filesystem::remove(path);
  EXPECT_FALSE(Profiler::Save("/nonexistent-dir/profile.txt"));  // no output, no error, no crash
}

}  // namespace
