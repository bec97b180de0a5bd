#include "app/Commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "app/Console.h"
#include "app/Profiler.h"
#include "framework/FakeWindowSystem.h"
#include "framework/FrameObject.h"
#include "framework/Framework.h"
#include "gfx/RecordingDevice.h"

namespace {

struct Printed {
  std::string text;
  std::int32_t colour;
  bool operator==(const Printed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Printed& p) { return out << p.colour << ":" << p.text; }

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame::test_seam::ResetState();
    frame::test_seam::InstallDisplayMode({640, 480, 60, false});
    Profiler::Reset();
  }
  void TearDown() override {
    frame::test_seam::ResetState();
    Profiler::Reset();
  }

  // Runs one line and returns what it printed after the green echo.
  std::vector<Printed> Run(std::string_view line) {
    Console console;
    ExecuteCommand(line, console, [this](const std::string& name, tvl::Reader& reader) {
      engineWords.push_back(name);
      if (name != "lighting") return false;
      command::ExpectEnd(reader);
      return true;
    });
    EXPECT_FALSE(console.lines.empty());
    EXPECT_EQ(console.lines.front().text, "> " + std::string(line));
    EXPECT_EQ(console.lines.front().colour, kConsoleEcho);
    std::vector<Printed> replies;
    for (std::size_t i = 1; i < console.lines.size(); ++i)
      replies.push_back({console.lines[i].text, console.lines[i].colour});
    return replies;
  }

  std::vector<std::string> engineWords;
};

TEST_F(CommandsTest, RepliesAndSyntaxErrors) {
  struct Case {
    const char* line;
    std::vector<Printed> replies;
  };
  const std::string syntax = "Błąd składni przy \""_cp;
  const std::vector<Case> cases = {
      {"echo  a  b ", {{"a  b", 0}}},
      {"echo", {{"", 0}}},
      {"ECHO {\\41}x", {{"Ax", 0}}},
      {"echo a } b", {{syntax + "} b\": " + "Za dużo parametrów"_cp, 1}}},
      {"exit now", {{syntax + "now\": " + "Za dużo parametrów"_cp, 1}}},
      {"mode 800 x 60 true", {{syntax + "x 60 true\": " + "Błąd podczas konwersji"_cp, 1}}},
      {"mode 800 600", {{syntax + "\": " + "Ogólny błąd składni"_cp, 1}}},
      {"mode 4294967296 480 60 false", {{syntax + "4294967296 480 6\": " + "Błąd podczas konwersji"_cp, 1}}},
      {"mode 640 480 60 maybe", {{syntax + "maybe\": " + "Błąd podczas konwersji"_cp, 1}}},
      {"mode 640 480 60 false", {{"Tryb zmieniony na 640 x 480 @ 60 (okno)", 0}}},
      {"Mode 640 480 75 F", {{"Tryb zmieniony na 640 x 480 @ 75 (okno)", 0}}},
      {"modes x", {{syntax + "x\": " + "Za dużo parametrów"_cp, 1}}},
      {"saveprofile", {{syntax + "\": Oczekiwana nazwa pliku", 1}}},
      {"= 1", {{syntax + "= 1\": Oczekiwane polecenie", 1}}},
      {"{ x }", {{syntax + "{ x }\": Oczekiwane polecenie", 1}}},
      {"\"abc", {{syntax + "\": Niespodziewany koniec dokumentu", 1}}},
      {"xyz", {{"Nieznane polecenie", 1}}},
      {"lighting", {}},
      {"LIGHTING on", {{syntax + "on\": " + "Za dużo parametrów"_cp, 1}}},
      {"profile", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.line), c.replies) << c.line;
}

// Sizes below the window's minimum or past what the device draws are refused as a user
// error naming the rest of the line from the width; the mode and the device stay.
TEST_F(CommandsTest, ModeRefusesSizesTheWindowOrTheDeviceCannotShow) {
  gfx::RecordingDevice device;
  device.caps = gfx::D3DCAPS9{4096, 2048};
  frame::test_seam::InstallDevice(&device);
  frame::Settings settings;
  settings.minWidth = 320;
  settings.minHeight = 240;
  frame::test_seam::InstallSettings(settings);
  const std::string syntax = "Błąd składni przy \""_cp;
  const std::string unsupported = "\": " + std::string("Nieobsługiwany tryb wyświetlania"_cp);
  const std::pair<const char*, const char*> refused[] = {
      {"mode 0 0 60 false", "0 0 60 false"},
      {"mode 4294967295 480 60 false", "4294967295 480 6"},
      {"mode 2147483648 480 60 false", "2147483648 480 6"},
      {"mode  319 240 60 true", "319 240 60 true"},
      {"mode 320 239 60 false", "320 239 60 false"},
      {"mode 4097 768 60 false", "4097 768 60 fals"},
      {"mode 1024 2049 60 false", "1024 2049 60 fal"},
  };
  for (const auto& [line, rest] : refused) {
    EXPECT_EQ(Run(line), (std::vector<Printed>{{syntax + rest + unsupported, kConsoleError}})) << line;
    EXPECT_EQ(frame::GetDisplayMode().width, 640) << line;
    EXPECT_EQ(frame::GetDisplayMode().height, 480) << line;
  }
  EXPECT_FALSE(ErrorPending());
  // The limits themselves are sizes the program can show.
  EXPECT_TRUE(frame::IsDisplayModeSupported({320, 240, 60, false}));
  EXPECT_TRUE(frame::IsDisplayModeSupported({4096, 2048, 60, true}));
  EXPECT_EQ(Run("mode 640 480 60 false"), (std::vector<Printed>{{"Tryb zmieniony na 640 x 480 @ 60 (okno)", 0}}));
  frame::test_seam::InstallDevice(nullptr);
}

TEST_F(CommandsTest, CommandWordsAreLoweredForTheEngineButArgumentsAreNot) {
  Run("XYZ Arg");
  Run("ŁÓDŹ"_cp);
  EXPECT_EQ(engineWords, (std::vector<std::string>{"xyz", "łódź"_cp}));
}

TEST_F(CommandsTest, ExitAndQuotedCommandWordsRequestClose) {
  frame::FakeWindowSystem window;
  frame::test_seam::InstallWindow(&window);
  EXPECT_TRUE(Run("\"exit\"").empty());
  EXPECT_TRUE(Run("EXIT").empty());
  EXPECT_EQ(window.Requests("PostClose").size(), 2u);
}

TEST_F(CommandsTest, ProfileAndSaveProfile) {
  Profiler::Begin("Update");
  Profiler::End();
  const auto replies = Run("profile");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].text.rfind("Update : ", 0), 0u);

  const auto path = std::filesystem::temp_directory_path() / ("qem-saved-" + std::to_string(getpid()) + ".txt");
  const std::vector<Printed> saved = {{"Profil zapisany do pliku \"" + path.string() + "\"", 0}};
  EXPECT_EQ(Run("saveprofile \"" + path.string() + "\""), saved);
  EXPECT_TRUE(std::filesystem::exists(path));
  std::filesystem::remove(path);
  // A file that cannot be opened, and one that opens but cannot take the lines (a full
  // disk), are both refused in red.
  for (const std::string name : {"/nonexistent-dir/p.txt", "/dev/full"}) {
    const std::vector<Printed> unwritable = {{"Nie można zapisać profilu do pliku \""_cp + name + "\"", 1}};
    EXPECT_EQ(Run("saveprofile " + name), unwritable);
  }
}

}  // namespace
