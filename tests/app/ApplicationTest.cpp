// The whole program's sequence on the scripted window system and the recording device: the
// entry's failures and reports, and the routing of characters and keys.
#include "app/Application.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <deque>
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
    // The engine's state outlives a run; a program has only one, each test starts afresh
    // (the status clock of a long run would otherwise hold back the next run's document).
    engine::state = engine::State{};
    dir = std::filesystem::temp_directory_path() / ("qem-app-" + std::to_string(getpid()) + "-" +
                                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    WriteConfig(kConfig);
    // One tetrahedron, two frames.
    std::ofstream("mesh.qem") << "QEM\nVERTICES 4\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
                                 "ELEMENTS 1\n0 2 1  0 1 3  1 2 3  0 3 2\n"
                                 "FRAMES 2\n0\n0 1 2 3\n1\n3 2 1 0\n";
    services.platform.windowSystem = &window;
    services.platform.createDevice = [this](frame::WindowSystem&, const gfx::D3DPRESENT_PARAMETERS& parameters,
                                            gfx::DWORD, std::unique_ptr<gfx::Device>& out) -> HRESULT {
      auto recording = std::make_unique<gfx::RecordingDevice>();
      recording->presentParameters = parameters;  // the back buffer's size, as a real device has it
      device = recording.get();
      if (failStateBlock > 0) recording->FailCall("BeginStateBlock", E_FAIL, failStateBlock);
      out = std::move(recording);
      return D3D_OK;
    };
    services.chooseFile = [this](std::string& path) {
      ++dialogs;
      if (noDisplay) return FileChoice::kNoDisplay;
      if (dialogAnswer.empty()) return FileChoice::kCancelled;
      path = dialogAnswer;
      return FileChoice::kChosen;
    };
    services.showError = [this](std::string_view text, std::string_view caption) {
      boxes.push_back(std::string(caption) + ": " + std::string(text));
    };
    services.writeReport = [this] {
      report = PopAllLines();
      return reportWritten;
    };
    services.printError = [this](std::string_view text) { errors.emplace_back(text); };
  }

  void TearDown() override {
    g_application.engineCommands = nullptr;
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

  // Idles until the loader has finished (at most ten seconds), then until the engine has
  // taken the document: it looks at the loader every 0.2 s of frame time (which leaves
  // out long gaps between steps) and builds its buffers on the update after that.
  void WaitForDocument() {
    window.Idle(2).Do([] {
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (qem::GetLoadStage() < qem::kStageFinished && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    for (int i = 0; i < 200; ++i) {
      window.Do([] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }).Idle(1);
    }
  }

  std::filesystem::path dir, previous;
  frame::FakeWindowSystem window;
  gfx::RecordingDevice* device = nullptr;  // the device of the current run
  int failStateBlock = 0;                  // which BeginStateBlock of a new device fails (0 none)
  ProgramServices services;
  std::string dialogAnswer;
  bool noDisplay = false;
  bool reportWritten = true;
  int dialogs = 0;
  std::vector<std::string> errors;  // what went to standard error
  std::vector<std::string> boxes;
  std::vector<std::string> report;
};

const std::string kBoxText =
    "Wystąpił błąd i program musiał się zakończyć.\nSzczegóły znajdują się na końcu pliku \"Errors.log\"."_cp;
const std::string kBox = "QEM Viewer: " + kBoxText;

TEST_F(ApplicationTest, TwoArgumentsEndWithTheReport) {
  EXPECT_EQ(RunProgram({"a.qem", "b.qem"}, services), kNotRun);
  ASSERT_EQ(report.size(), 1u);
  EXPECT_TRUE(report[0].ends_with("] Za dużo parametrów"_cp)) << report[0];
  EXPECT_EQ(report[0].rfind("[Main,", 0), 0u);
  EXPECT_EQ(boxes, std::vector<std::string>{kBox});
  EXPECT_EQ(errors, std::vector<std::string>{kBoxText});  // the box's text on standard error too
  EXPECT_EQ(dialogs, 0);
}

// When Errors.log cannot be written, the box sends the user to standard error instead.
TEST_F(ApplicationTest, AnUnwritableReportIsSaidInTheBox) {
  reportWritten = false;
  EXPECT_EQ(RunProgram({"a.qem", "b.qem"}, services), kNotRun);
  const std::string text =
      "Wystąpił błąd i program musiał się zakończyć.\n"
      "Nie można zapisać pliku \"Errors.log\"; szczegóły wypisano na standardowe wyjście błędów."_cp;
  EXPECT_EQ(boxes, std::vector<std::string>{"QEM Viewer: " + text});
  EXPECT_EQ(errors, std::vector<std::string>{text});
}

TEST_F(ApplicationTest, NoDisplayForTheDialogIsSaidAndFails) {
  noDisplay = true;
  EXPECT_EQ(RunProgram({}, services), kNoDisplay);
  EXPECT_EQ(errors, std::vector<std::string>{"Brak ekranu: nie można pokazać okna wyboru pliku"_cp});
  EXPECT_TRUE(report.empty());
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(window.HasWindow());
}

// Without a display the fatal end's text goes to standard error only: no box is tried.
TEST_F(ApplicationTest, NoDisplayForTheWindowReportsWithoutABox) {
  window.failOpenDisplay = true;
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), kNoDisplay);
  EXPECT_FALSE(report.empty());
  EXPECT_EQ(errors, std::vector<std::string>{kBoxText});
  EXPECT_TRUE(boxes.empty());
}

// A failure while the program runs (here the mesh file is missing) closes it normally
// through the framework, and still the result says it failed.
TEST_F(ApplicationTest, AFailureWhileRunningEndsWithAFailedResult) {
  WaitForDocument();
  EXPECT_EQ(RunProgram({"no-such-mesh.qem"}, services), kFatalEnd);
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(report.back().ends_with("Nie mozna otworzyc pliku \"no-such-mesh.qem\"")) << report.back();
  EXPECT_EQ(boxes, std::vector<std::string>{kBox});
  EXPECT_EQ(errors, std::vector<std::string>{kBoxText});
}

// A path with Polish letters (the file system's UTF-8) shows them in the report's text,
// which is Windows-1250; the file is looked for under its own bytes.
TEST_F(ApplicationTest, APathInTheReportShowsItsPolishLetters) {
  WaitForDocument();
  EXPECT_EQ(RunProgram({"żółw€ñ.qem"}, services), kFatalEnd);
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(report.back().ends_with("Nie mozna otworzyc pliku \"żółw€?.qem\""_cp)) << report.back();
}

// The same for the status text of a file that opens but fails to load.
TEST_F(ApplicationTest, APathInTheStatusTextShowsItsPolishLetters) {
  std::ofstream("zły_żółw.qem") << "VERTICES 2\n0 0 0\n1 1 oops\n";
  WaitForDocument();
  std::string status;
  window.Do([&] { status = qem::GetLoadStatusText(); });
  EXPECT_EQ(RunProgram({"zły_żółw.qem"}, services), 0);
  EXPECT_NE(status.find("Nie można wczytać pliku: zły_żółw.qem"_cp), std::string::npos) << cp1250::ToUtf8(status);
}

TEST_F(ApplicationTest, AScreenClearFailureEndsTheProgramWithItsLine) {
  WaitForDocument();
  window.Do([this] { device->FailCall("Clear", E_FAIL); }).Idle(5);
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), kFatalEnd);
  EXPECT_NE(std::find_if(report.begin(), report.end(),
                         [](const std::string& line) { return line.ends_with("Nie można wyczyścić ekranu"_cp); }),
            report.end())
      << ::testing::PrintToString(report);
  EXPECT_EQ(boxes, std::vector<std::string>{kBox});
}

TEST_F(ApplicationTest, CancelledDialogEndsSilently) {
  EXPECT_EQ(RunProgram({}, services), kNotRun);
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(report.empty());
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(window.HasWindow());
}

TEST_F(ApplicationTest, MissingDisplayKeyEndsBeforeTheWindow) {
  WriteConfig("Gfx { Width = 640; Height = 480; FullScreen = false }");
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), kNotRun);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0], std::string("Nie można wczytać konfiguracji trybu wyświetlania"_cp));
  EXPECT_EQ(
      report[1],
      std::string("Nie można wczytać z konfiguracji klucza \"Gfx/RefreshRate\" typu DWORD: Nie znaleziono klucza"_cp));
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

// The frame objects are registered in the order line, rectangle, sprite and font batchers,
// resource manager, engine, application, so their hooks run in that order: the n-th state
// block a new device records is the n-th batcher's.
TEST_F(ApplicationTest, TheBatchersHooksRunInRegistrationOrder) {
  const std::string expected[] = {
      "Nie można rozpocząć rejestracji bloku stanów urządzenia"_cp,
      "Nie można zainicjalizować rysowania prostokątów"_cp,
      "Nie można zainicjalizować rysowania spritów"_cp,
      "Nie można zainicjować rysowania czcionek"_cp,
  };
  for (int n = 1; n <= 4; ++n) {
    failStateBlock = n;
    frame::test_seam::ResetState();
    qem::ResetLoader();
    engine::state = engine::State{};
    report.clear();
    RunProgram({"mesh.qem"}, services);
    const std::string& line = expected[n - 1];
    EXPECT_NE(std::find_if(report.begin(), report.end(),
                           [&](const std::string& text) { return text.find(line) != std::string::npos; }),
              report.end())
        << "state block " << n << ": " << cp1250::ToUtf8(::testing::PrintToString(report));
  }
}

// The line is in the history by the time its command runs (a command may look at it).
TEST_F(ApplicationTest, TheLineEntersTheHistoryBeforeItsCommandRuns) {
  std::vector<std::deque<std::string>> seen;
  g_application.engineCommands = [&](const std::string& name, tvl::Reader&) {
    if (name != "look") return false;
    seen.push_back(g_console->editor.history);
    return true;
  };
  WaitForDocument();
  Chars("`look 1\r");
  window.Idle(1);
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::deque<std::string>{"look 1"});
}

// Buttons reach the engine as 0 left, 1 middle, 2 right: the left button turns the mesh,
// the right one drags the clip plane, the middle one (the probe) drags nothing.
TEST_F(ApplicationTest, ButtonsReachTheEngineAsLeftMiddleRight) {
  WaitForDocument();
  struct Drags {
    bool left, right;
    bool operator==(const Drags&) const = default;
  };
  window.Send(frame::WM_ACTIVATE, frame::WA_ACTIVE);
  std::vector<Drags> drags;
  const auto record = [&] { drags.push_back({engine::state.leftDrag, engine::state.rightDrag}); };
  bool ready = false;
  window.Do([&] { ready = engine::state.documentReady && frame::IsActive(); });
  window.Send(frame::WM_RBUTTONDOWN).Do(record).Send(frame::WM_RBUTTONUP).Do(record);
  window.Send(frame::WM_MBUTTONDOWN).Do(record).Send(frame::WM_MBUTTONUP);
  window.Send(frame::WM_LBUTTONDOWN).Do(record).Send(frame::WM_LBUTTONUP).Do(record);
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), 0);
  ASSERT_TRUE(ready);
  const std::vector<Drags> expected = {{false, true}, {false, false}, {false, false}, {true, false}, {false, false}};
  EXPECT_TRUE(drags == expected) << [&] {
    std::string t;
    for (auto d : drags) t += std::to_string(d.left) + std::to_string(d.right) + " ";
    return t;
  }();
}

// While a drag holds the cursor, every move is measured from the window's centre and the
// cursor is put back there; the move message that putting it back causes is skipped, not
// taken for the user's.
TEST_F(ApplicationTest, TheMoveAfterARecentringIsSkipped) {
  WaitForDocument();
  window.Send(frame::WM_ACTIVATE, frame::WA_ACTIVE);
  std::vector<float> turns;
  const auto record = [&] { turns.push_back(engine::state.rotationY); };
  const std::intptr_t corner = frame::MakeLParam(5, 7);  // well away from the centre
  window.Send(frame::WM_LBUTTONDOWN, 0, corner).Do(record);
  window.Send(frame::WM_MOUSEMOVE, 0, corner).Do(record);  // the user's move: the mesh turns
  window.Send(frame::WM_MOUSEMOVE, 0, corner).Do(record);  // the re-centring's echo: skipped
  window.Send(frame::WM_MOUSEMOVE, 0, corner).Do(record);  // the user's again
  window.Send(frame::WM_LBUTTONUP, 0, corner);
  EXPECT_EQ(RunProgram({"mesh.qem"}, services), 0);
  ASSERT_EQ(turns.size(), 4u);
  EXPECT_NE(turns[1], turns[0]);
  EXPECT_EQ(turns[2], turns[1]);
  EXPECT_NE(turns[3], turns[2]);
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
