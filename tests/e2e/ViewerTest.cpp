// The real program under X, driven like a person: typed keys, drags, the window's close
// button, judged by screenshots, exit status and Errors.log. Each case is bounded in time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <thread>

#include "Common_Code/Cp1250.h"
#include "gfx/PngFile.h"
#include "tests/e2e/Harness.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

constexpr int kCancelled = 196;  // -5436 as the platform truncates an exit status

// A pixel of the colour scale: clearly saturated, unlike the grey background and white text.
bool Coloured(Rgb c) { return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 90; }
bool Greenish(Rgb c) { return c.g > 150 && c.r < 110 && c.b < 110; }
bool Violet(Rgb c) { return c.b > 120 && c.g < 90 && c.r > 40; }
bool Bright(Rgb c) { return c.r > 200 && c.g > 200; }  // white or yellow text
int Brightness(const Image& image, int x0, int y0, int x1, int y1) {
  long long sum = 0, count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const Rgb c = image.At(x, y);
      sum += c.r + c.g + c.b;
      ++count;
    }
  }
  return count ? static_cast<int>(sum / count) : 0;
}

std::filesystem::path Sample() { return SourceDir() / "samples" / "box.qem"; }

// The end of Errors.log: its last block's trace lines, without the two-space indent.
std::vector<std::string> ReportLines(const Scratch& scratch) {
  const std::string log = scratch.ReadFile("Errors.log");
  const std::string marker = "\r\n" + std::string("Błąd"_cp) + "\r\n";
  const auto at = log.rfind(marker);
  std::vector<std::string> lines;
  if (at == std::string::npos) return lines;
  std::size_t position = at + marker.size();
  while (position < log.size()) {
    const auto end = log.find("\r\n", position);
    const std::string line = log.substr(position, end - position);
    if (line.empty()) break;
    lines.push_back(line.substr(2));
    position = end + 2;
  }
  return lines;
}

// Starts the viewer on the sample and waits until the mesh is drawn.
class Session {
 public:
  explicit Session(const std::string& name, std::vector<std::string> args = {Sample().string()},
                   const std::function<void(const Scratch&)>& prepare = nullptr)
      : scratch(name), viewer(Prepared(scratch, prepare), args) {}

  // The scratch directory once prepare (when given) has changed it, before the program starts.
  static const std::filesystem::path& Prepared(const Scratch& scratch,
                                               const std::function<void(const Scratch&)>& prepare) {
    if (prepare) prepare(scratch);
    return scratch.Path();
  }

  bool Open() {
    if (viewer.WaitForWindow().empty()) return false;
    for (int i = 0; i < 100; ++i) {
      const Image shot = viewer.WindowShot();
      if (shot.width > 0 && shot.Count(0, 0, shot.width, shot.height, Coloured) > shot.width * shot.height / 50) {
        return true;
      }
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

  // What the program said when it did not come up: its standard error and Errors.log.
  std::string Diagnosis() const {
    return "stderr:\n" + viewer.Stderr() + "\nErrors.log:\n" + cp1250::ToUtf8(scratch.ReadFile("Errors.log"));
  }

  // Opens the console, types a command, confirms it and closes the console again.
  void Command(const std::string& line) {
    viewer.Key("grave");
    viewer.Type(line);
    viewer.Key("Return");
    viewer.Key("grave");
    std::this_thread::sleep_for(300ms);
  }

  Scratch scratch;
  Viewer viewer;
};

TEST(Viewer, SampleIsDrawnInTheScaleColours) {
  Session session("sample");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  const Image shot = session.viewer.WindowShot();
  EXPECT_EQ(shot.width, 1024);
  EXPECT_EQ(shot.height, 768);
  EXPECT_GT(shot.Count(0, 0, shot.width, shot.height, Greenish), 200);
  EXPECT_GT(shot.Count(0, 0, shot.width, shot.height, Violet), 200);
  session.Command("exit");
  EXPECT_EQ(session.viewer.WaitExit(10s), 0);
  EXPECT_FALSE(std::filesystem::exists(session.scratch.Path() / "Errors.log"));
}

TEST(Viewer, BackquoteOpensAndClosesTheConsole) {
  Session session("console");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  const Image before = session.viewer.WindowShot();
  session.viewer.Key("grave");
  const Image open = session.viewer.WindowShot();
  const int w = before.width, h = before.height;
  EXPECT_LT(Brightness(open, 0, 0, w, h / 2 - 40), Brightness(before, 0, 0, w, h / 2 - 40));
  EXPECT_LT(open.Differences(before, 8, 0, h / 2 + 40, w, h - 60), w * h / 200);  // lower half as it was
  session.viewer.Key("grave");
  const Image closed = session.viewer.WindowShot();
  EXPECT_LT(closed.Differences(before, 8, 0, 40, w, h / 2 - 40), w * h / 200);
}

TEST(Viewer, CommandsChangeThePicture) {
  Session session("commands");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  const int h = session.viewer.WindowShot().height, w = session.viewer.WindowShot().width;
  const Image lit = session.viewer.WindowShot();
  session.Command("lighting");
  EXPECT_GT(session.viewer.WindowShot().Differences(lit, 24, 0, 60, w, h - 60), 2000);
  session.Command("mode 640 480 60 false");
  int x, y, width, height;
  session.viewer.Geometry(x, y, width, height);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  session.Command("exit");
  EXPECT_EQ(session.viewer.WaitExit(10s), 0);
}

TEST(Viewer, DragsTurnTheMeshAndMoveThePlaneThenTheSectionAndCullingSwitch) {
  Session session("drags");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  const Image before = session.viewer.WindowShot();
  const int w = before.width, h = before.height;
  session.viewer.Drag(1, w / 2, h / 2, w / 2 + 150, h / 2 + 40);
  const Image turned = session.viewer.WindowShot();
  EXPECT_GT(turned.Differences(before, 24, 0, 60, w, h - 60), 2000);

  // The plane starts outside the mesh and moves a thousandth per pixel: a long drag up and
  // to the left (the cursor is re-centred after every move) brings it through the middle.
  session.viewer.Drag(3, w / 2, h / 2, w / 2 - 100, h / 2 - 200);
  const Image cut = session.viewer.WindowShot();
  EXPECT_GT(cut.Differences(turned, 24, 0, 60, w, h - 60), 2000);
  session.Command("clipplane");  // the section goes, the mesh stays cut open
  const Image open = session.viewer.WindowShot();
  EXPECT_GT(open.Differences(cut, 24, 0, 60, w, h - 60), 2000);
  session.Command("culling");  // the inner sides of the far walls appear
  EXPECT_GT(session.viewer.WindowShot().Differences(open, 24, 0, 60, w, h - 60), 2000);
}

// A saved screenshot as the harness's image; width 0 when it cannot be read.
Image ReadPng(const std::filesystem::path& path) {
  Image image;
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
  std::string reason;
  if (!gfx::ReadPngFile(path.string(), width, height, rgba, reason)) return image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  for (std::size_t i = 0; i < rgba.size(); i += 4)
    image.rgb.insert(image.rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
  return image;
}

// The files in dir named qem-<...>.png, waiting up to a few seconds for count of them.
std::vector<std::filesystem::path> Screenshots(const std::filesystem::path& dir, std::size_t count) {
  std::vector<std::filesystem::path> found;
  for (int i = 0; i < 50; ++i) {
    found.clear();
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("qem-box-", 0) == 0 && entry.path().extension() == ".png") found.push_back(entry.path());
    }
    if (found.size() >= count) break;
    std::this_thread::sleep_for(100ms);
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(Viewer, F12SavesTheWindowsPictureWithoutTheConsole) {
  Session session("screenshot");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  const Image window = session.viewer.WindowShot();
  const int w = window.width, h = window.height;
  session.viewer.Key("F12");
  auto files = Screenshots(session.scratch.Path(), 1);
  ASSERT_EQ(files.size(), 1u);
  const Image saved = ReadPng(files[0]);
  ASSERT_EQ(saved.width, w);
  ASSERT_EQ(saved.height, h);
  // The same picture (the frame rate's digits at the bottom left may have moved on).
  EXPECT_LT(saved.Differences(window, 8, 0, 0, w, h - 40), w * h / 1000);
  // With the console open the file still shows the scene alone, and a second one in the
  // same second gets its own name.
  session.viewer.Key("grave");
  session.viewer.Key("F12");
  files = Screenshots(session.scratch.Path(), 2);
  ASSERT_EQ(files.size(), 2u);
  for (const auto& file : files) {
    const Image again = ReadPng(file);
    EXPECT_LT(again.Differences(window, 8, 0, 0, w, h - 40), w * h / 1000) << file;
  }
  EXPECT_GT(session.viewer.WindowShot().Differences(window, 8, 0, 0, w, h / 2), w * h / 20);  // the console is shown
  session.viewer.Type("screenshot named.png");
  session.viewer.Key("Return");
  session.viewer.Type("screenshot no/such/dir.png");
  session.viewer.Key("Return");
  session.viewer.Key("grave");
  std::this_thread::sleep_for(500ms);
  const Image named = ReadPng(session.scratch.Path() / "named.png");
  EXPECT_EQ(named.width, w);
  EXPECT_EQ(named.height, h);
  EXPECT_FALSE(std::filesystem::exists(session.scratch.Path() / "no"));
  session.Command("exit");
  EXPECT_EQ(session.viewer.WaitExit(10s), 0);
}

TEST(Viewer, WheelZoomsLegendSwitchesAndTheMiddleButtonProbes) {
  Session session("reading");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  const Image start = session.viewer.WindowShot();
  const int w = start.width, h = start.height;
  // The bundled configuration shows the legend: a bar of the scale's colours at the right.
  const int barLeft = w - 3 * 16, barTop = h - 16 - h * 4 / 10;
  EXPECT_GT(start.Count(barLeft, barTop, w, h - 16, Coloured), 16 * h * 4 / 10);
  session.Command("legend");
  EXPECT_LT(session.viewer.WindowShot().Count(barLeft, barTop, w, h - 16, Coloured), 50);
  session.Command("legend");

  // Three notches away from the user: larger; the zoom command puts it back.
  for (int i = 0; i < 3; ++i) session.viewer.Click(4, w / 2, h / 2);
  const Image zoomed = session.viewer.WindowShot();
  EXPECT_GT(zoomed.Count(0, 60, w - 200, h - 60, Coloured), start.Count(0, 60, w - 200, h - 60, Coloured) * 11 / 10);
  session.Command("zoom");
  EXPECT_LT(session.viewer.WindowShot().Differences(start, 8, 0, 80, w, h - 40), w * h / 1000);

  // The middle button on the mesh adds the probe's line to the status; on the background
  // it goes again.
  const int statusBefore = start.Count(0, 0, w / 3, 120, Bright);
  session.viewer.Click(2, w / 2, h / 2);
  const Image probed = session.viewer.WindowShot();
  EXPECT_GT(probed.Count(0, 0, w / 3, 120, Bright), statusBefore + 50);
  EXPECT_LT(probed.Differences(start, 24, 0, 120, w, h - 40), w * h / 1000);  // nothing else moved
  session.viewer.Click(2, 5, h / 2);
  EXPECT_LT(session.viewer.WindowShot().Differences(start, 8, 0, 0, w, h - 40), w * h / 1000);
  session.Command("exit");
  EXPECT_EQ(session.viewer.WaitExit(10s), 0);
}

TEST(Viewer, EndAndHomeMoveThroughTime) {
  Session session("time");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  const Image start = session.viewer.WindowShot();
  const int w = start.width, h = start.height;
  session.viewer.HoldKey("End", 600ms);
  const Image end = session.viewer.WindowShot();
  EXPECT_GT(end.Differences(start, 24, 0, 60, w, h - 60), 2000);
  session.viewer.HoldKey("Home", 600ms);
  const Image back = session.viewer.WindowShot();
  EXPECT_GT(back.Differences(end, 24, 0, 60, w, h - 60), 2000);
}

// Rows of white text (the console's ordinary replies) in [0, x1) x [y0, y1), top to
// bottom: each with its first and last row and the leftmost and rightmost white column.
struct TextRow {
  int top, bottom, left, right;
};
std::vector<TextRow> WhiteRows(const Image& image, int x1, int y0, int y1) {
  const auto white = [](Rgb c) { return c.r > 200 && c.g > 200 && c.b > 200; };
  std::vector<TextRow> rows;
  bool inRow = false;
  for (int y = y0; y < y1; ++y) {
    int left = x1, right = -1;
    for (int x = 0; x < x1; ++x) {
      if (white(image.At(x, y))) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
    if (right < 0) {
      inRow = false;
      continue;
    }
    if (!inRow) rows.push_back({y, y, left, right});
    inRow = true;
    TextRow& row = rows.back();
    row.bottom = y;
    row.left = std::min(row.left, left);
    row.right = std::max(row.right, right);
  }
  return rows;
}

// "zażółć" typed on a Polish keyboard is echoed as six letters, as wide as the six plain
// letters "zazolc" and drawn differently from them (the accents): not dropped, not
// replaced by plain letters.
TEST(Viewer, PolishLettersReachTheConsole) {
  Session session("polish");
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  Shell("setxkbmap pl");
  session.viewer.Key("grave");
  session.viewer.Type("echo zazolc");
  session.viewer.Key("Return");
  session.viewer.Type("echo zażółć");
  session.viewer.Key("Return");
  std::this_thread::sleep_for(300ms);
  const Image shot = session.viewer.WindowShot();
  Shell("setxkbmap us");
  // The replies are the two lowest white rows of the console's half, above the input line;
  // the left part of the panel holds them (the mesh stays in the middle).
  const auto rows = WhiteRows(shot, shot.width / 3, shot.height / 4, shot.height / 2);
  ASSERT_GE(rows.size(), 2u);
  const TextRow plain = rows[rows.size() - 2], polish = rows.back();
  const int cell = (plain.right - plain.left + 1) / 6;
  ASSERT_GT(cell, 3);
  EXPECT_EQ(polish.left, plain.left);
  EXPECT_LE(std::abs(polish.right - plain.right), cell / 2)
      << "plain ends at " << plain.right << ", Polish at " << polish.right;
  const int height = plain.bottom - plain.top + 1;
  int differences = 0;
  for (int dy = -2; dy < height + 2; ++dy) {
    for (int x = plain.left; x <= plain.right; ++x) {
      const int a = std::clamp(plain.top + dy, 0, shot.height - 1);
      const int b = std::clamp(polish.bottom - height + 1 + dy, 0, shot.height - 1);
      const Rgb p = shot.At(x, a), q = shot.At(x, b);
      if (std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 150) ++differences;
    }
  }
  EXPECT_GT(differences, 10);
  session.viewer.Type("exit");
  session.viewer.Key("Return");
  EXPECT_EQ(session.viewer.WaitExit(10s), 0);
}

TEST(Viewer, AFileThatFailsToLoadShowsTheErrorAndTheProgramKeepsRunning) {
  Scratch scratch("badfile");
  scratch.WriteFile("bad.qem", "VERTICES 2\n0 0 0\n1 1 oops\n");
  Viewer viewer(scratch.Path(), {(scratch.Path() / "bad.qem").string()});
  ASSERT_FALSE(viewer.WaitForWindow().empty());
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(viewer.Running());
  const Image shot = viewer.WindowShot();
  // The error text is drawn, no mesh.
  EXPECT_GT(shot.Count(0, 0, shot.width / 2, shot.height / 3, Bright), 50);
  EXPECT_LT(shot.Count(0, shot.height / 3, shot.width, shot.height, Coloured), 100);
  viewer.Close();
  EXPECT_EQ(viewer.WaitExit(10s), 0);
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "Errors.log"));
}

struct FatalCase {
  const char* name;
  std::vector<std::string> args;
  std::string config;      // empty: the repository's
  std::string lastLine;    // how the root-cause line ends (after its location, if any)
  std::string lineBefore;  // optional: a line the trace must also hold
  int status;              // the exit status
};

void PrintTo(const FatalCase& c, std::ostream* out) { *out << c.name; }

class FatalStart : public ::testing::TestWithParam<FatalCase> {};

TEST_P(FatalStart, EndsWithTheMessageBoxAndTheReport) {
  const FatalCase& c = GetParam();
  Scratch scratch(c.name);
  if (!c.config.empty()) scratch.WriteConfig(c.config);
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(arg == "SAMPLE" ? Sample().string() : arg);
  Viewer viewer(scratch.Path(), args);
  // The box carries the program's caption, as the main window does while it still closes:
  // Return goes to whichever is shown until the program has ended.
  bool boxSeen = false;
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (viewer.Running() && std::chrono::steady_clock::now() < end) {
    const std::string box = viewer.WaitForWindowNamed("QEM Viewer", 2s);
    if (box.empty()) continue;
    boxSeen = true;
    Shell("xdotool windowfocus --sync " + box + " 2>/dev/null; xdotool key Return");
    viewer.WaitExit(1s);
  }
  EXPECT_TRUE(boxSeen);
  const auto status = viewer.WaitExit(1s);
  ASSERT_TRUE(status.has_value()) << viewer.Stderr();
  EXPECT_EQ(*status, c.status);
  EXPECT_NE(*status, 0);
  const auto lines = ReportLines(scratch);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().ends_with(c.lastLine)) << lines.back();
  // Standard error holds the report block (in UTF-8) and the box's text.
  const std::string err = viewer.Stderr();
  EXPECT_NE(err.find("\nBłąd\n"), std::string::npos) << err;
  EXPECT_NE(err.find(cp1250::ToUtf8(lines.back())), std::string::npos) << err;
  EXPECT_NE(err.find("Szczegóły znajdują się na końcu pliku \"Errors.log\"."), std::string::npos) << err;
  if (!c.lineBefore.empty()) {
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.lineBefore), lines.end());
  }
}

std::string ConfigWithout(const std::string& key) {
  std::string config =
      "Gfx { Width = 1024; Height = 768; RefreshRate = 60; FullScreen = false\n"
      "  Font { Name = \"DejaVu Sans Mono\"; Height = 16; Bold = false } }\n";
  const auto at = config.find(key + " = ");
  config.erase(at, config.find(';', at) - at + 1);
  return config;
}

INSTANTIATE_TEST_SUITE_P(
    Viewer, FatalStart,
    ::testing::Values(
        FatalCase{"two_arguments", {"a.qem", "b.qem"}, "", "] Za dużo parametrów"_cp, "", kCancelled},
        FatalCase{"missing_key",
                  {"SAMPLE"},
                  ConfigWithout("RefreshRate"),
                  "Nie można wczytać z konfiguracji klucza \"Gfx/RefreshRate\" typu DWORD: Nie znaleziono klucza"_cp,
                  "Nie można wczytać konfiguracji trybu wyświetlania"_cp,
                  kCancelled},
        // A load that cannot read its file ends the running program through its update step.
        FatalCase{"missing_mesh", {"no-such-mesh.qem"}, "", "Nie mozna otworzyc pliku \"no-such-mesh.qem\"", "", 1},
        FatalCase{"proportional_font",
                  {"SAMPLE"},
                  "Gfx { Width = 1024; Height = 768; RefreshRate = 60; FullScreen = false\n"
                  "  Font { Name = \"DejaVu Sans\"; Height = 16; Bold = false } }\n",
                  "Czcionka musi być stałej szerokości"_cp,
                  "",
                  256 - 6}),  // stage 2/3 failed
    [](const auto& info) { return std::string(info.param.name); });

TEST(Viewer, ClosingDuringALargeLoadEndsPromptly) {
  Scratch scratch("close_during_load");
  const auto big = scratch.Path() / "big.qem";
  int status = 0;
  const std::string generator = QEM_GENERATE_PATH;
  Shell(generator + " --size 60 60 60 --frames 10 " + big.string(), &status);
  ASSERT_EQ(status, 0);
  Viewer viewer(scratch.Path(), {big.string()});
  ASSERT_FALSE(viewer.WaitForWindow().empty());
  std::this_thread::sleep_for(300ms);
  const auto start = std::chrono::steady_clock::now();
  viewer.Close();
  EXPECT_EQ(viewer.WaitExit(10s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "Errors.log"));
}

TEST(Viewer, CancellingTheOpenDialogEndsSilently) {
  Scratch scratch("dialog");
  Viewer viewer(scratch.Path(), {});
  const std::string dialog = viewer.WaitForWindowNamed("Otwórz siatkę", 20s);  // utf-8 literal
  ASSERT_FALSE(dialog.empty());
  Shell("xdotool windowfocus --sync " + dialog + " 2>/dev/null; xdotool key Escape");
  EXPECT_EQ(viewer.WaitExit(10s), kCancelled);
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "Errors.log"));
}

// The open dialog starts in the current directory: a file name typed there is found.
TEST(Viewer, TheOpenDialogStartsInTheCurrentDirectory) {
  Scratch scratch("dialog_folder");
  std::filesystem::copy_file(Sample(), scratch.Path() / "here.qem");
  Viewer viewer(scratch.Path(), {});
  const std::string dialog = viewer.WaitForWindowNamed("Otwórz siatkę", 20s);  // utf-8 literal
  ASSERT_FALSE(dialog.empty());
  Shell("xdotool windowfocus --sync " + dialog + " 2>/dev/null; xdotool type --delay 50 here.qem");
  std::this_thread::sleep_for(500ms);
  Shell("xdotool key Return");
  // The dialog goes; then the main window comes up with the file's mesh.
  for (int i = 0; i < 50 && !viewer.WaitForWindowNamed("Otwórz siatkę", 100ms).empty(); ++i) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_FALSE(viewer.WaitForWindow().empty()) << viewer.Stderr();
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(viewer.Running()) << viewer.Stderr() << cp1250::ToUtf8(scratch.ReadFile("Errors.log"));
  viewer.Key("grave");
  viewer.Type("exit");
  viewer.Key("Return");
  EXPECT_EQ(viewer.WaitExit(10s), 0);
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "Errors.log"));
}

// When Errors.log cannot be written (here a directory stands in its place) the report
// goes to standard error and the box says so.
TEST(Viewer, AnUnwritableReportGoesToStandardError) {
  Scratch scratch("unwritable_report");
  std::filesystem::create_directory(scratch.Path() / "Errors.log");
  Viewer viewer(scratch.Path(), {"a.qem", "b.qem"});
  const std::string box = viewer.WaitForWindowNamed("QEM Viewer", 20s);
  if (!box.empty()) Shell("xdotool windowfocus --sync " + box + " 2>/dev/null; xdotool key Return");
  const auto status = viewer.WaitExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, kCancelled);
  const std::string err = viewer.Stderr();
  EXPECT_NE(err.find("] Za dużo parametrów\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Nie można zapisać pliku \"Errors.log\"; szczegóły wypisano na standardowe wyjście błędów."),
            std::string::npos)
      << err;
}

// Without a Config.tvl in the current directory the default one beside the program is read.
TEST(Viewer, StartsWithTheDefaultConfigurationBesideTheProgram) {
  Session session("default_config", {Sample().string()},
                  [](const Scratch& scratch) { std::filesystem::remove(scratch.Path() / "Config.tvl"); });
  ASSERT_TRUE(session.Open()) << session.Diagnosis();
  session.Command("exit");
  EXPECT_EQ(session.viewer.WaitExit(10s), 0);
  EXPECT_FALSE(std::filesystem::exists(session.scratch.Path() / "Errors.log"));
}

// A directory given as the mesh: a fatal end, said on standard error, with a failed status.
TEST(Viewer, ADirectoryAsTheMeshEndsWithAFailedStatus) {
  Scratch scratch("directory_mesh");
  std::filesystem::create_directory(scratch.Path() / "mesh.qem");
  Viewer viewer(scratch.Path(), {(scratch.Path() / "mesh.qem").string()});
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (viewer.Running() && std::chrono::steady_clock::now() < end) {
    const std::string box = viewer.WaitForWindowNamed("QEM Viewer", 2s);
    if (!box.empty()) Shell("xdotool windowfocus --sync " + box + " 2>/dev/null; xdotool key Return");
    viewer.WaitExit(1s);
  }
  const auto status = viewer.WaitExit(1s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  const std::string err = viewer.Stderr();
  EXPECT_NE(err.find("Wystąpił błąd i program musiał się zakończyć."), std::string::npos) << err;
  EXPECT_NE(err.find("\nBłąd\n"), std::string::npos) << err;
  EXPECT_FALSE(ReportLines(scratch).empty());
}

TEST(Viewer, NoDisplayAndNoArgumentSaysSo) {
  Scratch scratch("nodisplay_dialog");
  Viewer viewer(scratch.Path(), {}, {"DISPLAY="});
  const auto status = viewer.WaitExit(20s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 255);  // as without a display and with a file
  EXPECT_NE(viewer.Stderr().find("Brak ekranu: nie można pokazać okna wyboru pliku"), std::string::npos)
      << viewer.Stderr();
}

TEST(Viewer, NoDisplayEndsWithAClearMessage) {
  Scratch scratch("nodisplay");
  Viewer viewer(scratch.Path(), {Sample().string()}, {"DISPLAY="});
  const auto status = viewer.WaitExit(20s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_FALSE(viewer.Stderr().empty());
}

}  // namespace
}  // namespace e2e
