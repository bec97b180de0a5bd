#include "engine/Screenshot.h"

#include <gmock/gmock.h>

#include <unistd.h>

#include <filesystem>
#include <set>

#include "Common_Code/Cp1250.h"
#include "app/Commands.h"
#include "engine/Engine.h"
#include "gfx/PngFile.h"
#include "tests/engine/EngineTestUtil.h"

namespace {

using engine::state;

class ScreenshotTest : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    dir = std::filesystem::temp_directory_path() / ("qem-screenshot-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    device.presentParameters.BackBufferWidth = 5;
    device.presentParameters.BackBufferHeight = 3;
    for (int i = 0; i < 5 * 3; ++i) {
      const auto v = static_cast<std::uint8_t>(i * 16);
      device.backBufferPixels.insert(device.backBufferPixels.end(), {v, static_cast<std::uint8_t>(255 - v), 7, 255});
    }
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    EngineTest::TearDown();
  }
  // One frame's screenshot point, inside the scene as the application calls it.
  void Frame() {
    device.BeginScene();
    engine::SavePendingScreenshot(device);
    EXPECT_TRUE(device.inScene);  // the console still draws in a scene
    device.EndScene();
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) out.push_back(entry.path().filename().string());
    return out;
  }
  std::filesystem::path dir;
};

TEST_F(ScreenshotTest, SavesTheBackBufferAsReadAtThatFrame) {
  const std::string path = (dir / "shot.png").string();
  engine::RequestScreenshot(path);
  device.ClearLog();
  Frame();
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
  std::string reason;
  ASSERT_TRUE(gfx::ReadPngFile(path, width, height, rgba, reason)) << reason;
  EXPECT_EQ(width, 5u);
  EXPECT_EQ(height, 3u);
  EXPECT_EQ(rgba, device.backBufferPixels);
  EXPECT_THAT(device.Texts(), ::testing::Contains(::testing::HasSubstr("ReadBackBuffer")));
  EXPECT_EQ(console.lines.back().text, "Zrzut ekranu zapisany do pliku \"" + path + "\"");
  EXPECT_EQ(console.lines.back().colour, kConsoleNormal);
  // Taken once: the next frame reads nothing back.
  device.ClearLog();
  Frame();
  EXPECT_THAT(device.Texts(), ::testing::Not(::testing::Contains(::testing::HasSubstr("ReadBackBuffer"))));
  EXPECT_EQ(Files(), std::vector<std::string>{"shot.png"});
}

TEST_F(ScreenshotTest, FailuresReplyInRedAndLeaveNoFile) {
  struct Case {
    std::string file;
    bool failRead;
  };
  const Case cases[] = {
      {(dir / "missing" / "shot.png").string(), false},  // no such directory
      {(dir / "shot.png").string(), true},               // the back buffer cannot be read
  };
  for (const Case& c : cases) {
    if (c.failRead) device.FailCall("ReadBackBuffer", D3DERR_INVALIDCALL);
    engine::RequestScreenshot(c.file);
    Frame();
    EXPECT_EQ(console.lines.back().text, "Nie można zapisać zrzutu ekranu do pliku \""_cp + c.file + "\"");
    EXPECT_EQ(console.lines.back().colour, kConsoleError);
    EXPECT_TRUE(Files().empty()) << c.file;
  }
  EXPECT_FALSE(ErrorPending());  // a failed screenshot never ends the program
}

TEST_F(ScreenshotTest, DefaultNameCarriesTheMeshAndTheTimeAndNeverOverwrites) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 10;
  local.tm_hour = 16;
  local.tm_min = 5;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  std::set<std::string> present;
  const auto exists = [&](const std::string& name) { return present.count(name) > 0; };
  EXPECT_EQ(engine::DefaultScreenshotName("/data/meshes/wing.qem", when, exists), "qem-wing-20261210-160509.png");
  present = {"qem-wing-20261210-160509.png", "qem-wing-20261210-160509-2.png"};
  EXPECT_EQ(engine::DefaultScreenshotName("/data/meshes/wing.qem", when, exists), "qem-wing-20261210-160509-3.png");
}

TEST_F(ScreenshotTest, CommandTakesAnOptionalFileName) {
  engine::Engine engineObject;
  const auto run = [&](std::string_view line) {
    ExecuteCommand(line, console, [&](const std::string& name, tvl::Reader& reader) {
      return engineObject.HandleCommand(name, reader);
    });
  };
  run("screenshot \"a b.png\" x");
  EXPECT_THAT(console.lines.back().text, ::testing::HasSubstr("Za dużo parametrów"_cp));
  EXPECT_FALSE(state.screenshotPending);
  run("screenshot \"a b.png\"");
  EXPECT_TRUE(state.screenshotPending);
  EXPECT_EQ(state.screenshotName, "a b.png");
  run("screenshot");
  EXPECT_TRUE(state.screenshotPending);
  EXPECT_EQ(state.screenshotName, "");
}

}  // namespace
