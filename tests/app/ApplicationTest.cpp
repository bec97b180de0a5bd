// The whole program's sequence on the scripted window system and the recording device: the
// entry's failures and reports, and the routing of characters and keys.
#include "app/Application.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "app/Console.h"
#include "app/Profiler.h"
#include "engine/EngineState.h"
#include "framework/FakeWindowSystem.h"
#include "gfx/PngFile.h"
#include "gfx/RecordingDevice.h"
#include "qem/Loader.h"
#include "tests/TraceLines.h"

namespace {

const char* kConfig =
    "Gfx { Width = 640; Height = 480; RefreshRate = 60; FullScreen = false\n"
    "  Font { Name = \"DejaVu Sans Mono\"; Height = 16; Bold = false } }\n";

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalErrorTrace().Clear();
    frame::test_seam::ResetState();
    Profiler::Reset();
    dir = std::filesystem::temp_directory_path() /
          ("qem-app-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    WriteConfig(kConfig);
    // One tetrahedron, two frames.
    std::ofstream("mesh.qem") << "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
                                 "ELEMENTS 1\n0 2 1  0 1 3  1 2 3  0 3 2\n"
                                 "FRAMES 2\n0\n0 1 2 3\n1\n3 2 1 0\n";
    services.platform.windowSystem = &window;
    services.platform.createDevice = [](frame::WindowSystem&, const gfx::D3DPRESENT_PARAMETERS& parameters,
                                        gfx::DWORD, std::unique_ptr<gfx::Device>& out) -> HRESULT {
      auto device = std::make_unique<gfx::RecordingDevice>();
      device->presentParameters = parameters;  // the back buffer's size, as a real device has it
      out = std::move(device);
      return D3D_OK;
    };
    services.chooseFile = [this](std::string& path) {
      ++dialogs;
      if (!dialogAnswer.empty()) path = dialogAnswer;
      return !dialogAnswer.empty();
    };
    services.showError = [this](std::string_view text, std::string_view caption) {
      boxes.push_back(std::string(caption) + ": " + std::string(text));
    };
    services.writeReport = [this] { report = PopAllLines(); };
  }

  void TearDown() override {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
    frame::test_seam::ResetState();
    qem::ResetLoader();
    GlobalErrorTrace().Clear();
  }

  void WriteConfig(const std::string& text) { std::ofstream("Config.tvl") << text; }

  // Characters as WM_CHAR messages.
  void Chars(std::string_view text) {
    for (char c : text) window.Send(frame::WM_CHAR, static_cast<unsigned char>(c));
  }

  // Idles until the loader has finished (the engine builds its buffers on that update).
  void WaitForDocument() {
    for (int i = 0; i < 200; ++i) {
      window.Do([] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }).Idle(1);
    }
  }

  std::filesystem::path dir, previous;
  frame::FakeWindowSystem window;
  ProgramServices services;
  std::string dialogAnswer;
  int dialogs = 0;
  std::vector<std::string> boxes;
  std::vector<std::string> report;
};

const std::string kBox = "QEM Viewer: Wystąpił błąd i program musiał się zakończyć.\nSzczegóły znajdują się na końcu pliku \"Errors.log\"."_cp;

TEST_F(ApplicationTest, TwoArgumentsEndWithTheReport) {
  EXPECT_EQ(RunProgram({"a.qem", "b.qem"}, services), kNotRun);
  ASSERT_EQ(report.size(), 1u);
  EXPECT_TRUE(report[0].ends_with("] Za dużo parametrów"_cp)) << report[0];
  EXPECT_EQ(report[0].rfind("[Main,", 0), 0u);
  EXPECT_EQ(boxes, std::vector<std::string>{kBox});
  EXPECT_EQ(dialogs, 0);
}

TEST_F(ApplicationTest, CancelledDialogEndsSilently) {
  EXPECT_EQ(RunProgram({}, services), kNotRun);
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(report.empty());
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(window.HasWindow());
}

TEST_F(ApplicationTest, MissingDisplayKeyEndsBeforeTheWindow) {
  WriteConfig("Gfx { Width = 640; Height = 480; FullScreen = false }");
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), kNotRun);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0], std::string("Nie można wczytać konfiguracji trybu wyświetlania"_cp));
  EXPECT_EQ(report[1], std::string("Nie można wczytać z konfiguracji klucza \"Gfx/RefreshRate\" typu DWORD: Nie znaleziono klucza"_cp));
  EXPECT_TRUE(window.Requests("CreateWindow").empty());
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(ApplicationTest, MissingConfigurationFile) {
  std::filesystem::remove("Config.tvl");
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), kNotRun);
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report[1], std::string("Nie można wczytać pliku konfiguracyjnego"_cp));
}

TEST_F(ApplicationTest, TheDialogsChoiceIsOpened) {
  dialogAnswer = "mesh.qem";
  window.Idle(5);
  EXPECT_EQ(RunProgram({}, services), 0);
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(report.empty());
}

TEST_F(ApplicationTest, CharactersGoToTheConsoleOrTheEngine) {
  WaitForDocument();
  bool lightingBefore = false, lightingAfterConsole = false, lightingAfterEngine = false;
  std::vector<std::string> log;
  std::size_t historyAfterSpaces = 99;
  bool ready = false;
  window.Do([&] {
    lightingBefore = engine::state.lightingOn;
    ready = engine::state.documentReady;
  });
  Chars("`");  // the backquote opens the console and reaches nobody
  Chars("l");  // typed into the console, not the engine's lighting key
  window.Do([&] { lightingAfterConsole = engine::state.lightingOn; });
  window.Send(frame::WM_KEYDOWN, frame::VK_HOME);
  Chars("echo ");
  window.Send(frame::WM_KEYDOWN, frame::VK_END);
  Chars("\r");
  Chars("   \r");  // only spaces: cleared, no history entry, no echo
  window.Do([&] {
    for (const ConsoleLine& line : g_console->lines) log.push_back(line.text);
    historyAfterSpaces = g_console->editor.history.size();
  });
  Chars("`l");  // closed again: now the engine gets the key
  window.Do([&] { lightingAfterEngine = engine::state.lightingOn; });
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), 0);
  EXPECT_TRUE(report.empty()) << report[0];
  ASSERT_TRUE(ready);
  EXPECT_EQ(lightingAfterConsole, lightingBefore);
  EXPECT_NE(lightingAfterEngine, lightingBefore);
  EXPECT_EQ(log, (std::vector<std::string>{"> echo l", "l"}));
  EXPECT_EQ(historyAfterSpaces, 1u);
}

TEST_F(ApplicationTest, F12SavesAScreenshotWithTheConsoleShownOrNot) {
  WaitForDocument();
  window.Send(frame::WM_KEYDOWN, frame::VK_F1 + 11);
  window.Idle(2);
  Chars("`ab");
  window.Send(frame::WM_KEYDOWN, frame::VK_F1 + 11);  // F12 never reaches the console's line
  window.Idle(2);
  std::vector<std::string> log;
  std::string input;
  window.Do([&] {
    for (const ConsoleLine& line : g_console->lines) log.push_back(line.text);
    input = g_console->CurrentLine();
  });
  Chars("`");
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), 0);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("qem-mesh-", 0) == 0) files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 2u) << ::testing::PrintToString(log);
  // Two names (a second one in the same second gets "-2"), each reported once.
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (std::vector<std::string>{"Zrzut ekranu zapisany do pliku \"" + files[0] + "\"",
                                           "Zrzut ekranu zapisany do pliku \"" + files[1] + "\""}));
  EXPECT_EQ(input, "ab");
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
  std::string reason;
  ASSERT_TRUE(gfx::ReadPngFile((dir / files[0]).string(), width, height, rgba, reason)) << reason;
  EXPECT_EQ(width, 640u);
  EXPECT_EQ(height, 480u);
}

TEST_F(ApplicationTest, ExitCommandEndsNormally) {
  WaitForDocument();
  Chars("`exit\r");
  window.Idle(1000);  // never reached: the close comes first
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), 0);
  EXPECT_TRUE(report.empty());
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
