// qem-render as a user runs it, always with no display (DISPLAY and WAYLAND_DISPLAY taken
// out of its environment): the pictures it writes, what each option changes and what it
// leaves alone, the numbered pictures of --frames, the exit codes and messages, and that a
// failed run leaves no picture behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/PngFile.h"
#include "tools/qem-render/Options.h"

namespace {

namespace fs = std::filesystem;

const std::string kRender = QEM_RENDER;
const std::string kSample = std::string(QEM_SOURCE_DIR) + "/samples/box.qem";

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

// A directory of its own per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/qem_render_test_XXXXXX";
    path = mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return (fs::path(path) / name).string(); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string path;
};

// Runs qem-render with the arguments (a shell word list) and no display; extra goes before
// the program (environment settings).
Ran Render(const std::string& args, const std::string& extra = "") {
  Ran run;
  char errName[] = "/tmp/qem_render_err_XXXXXX";
  const int fd = mkstemp(errName);
  if (fd >= 0) close(fd);
  const std::string command =
      "env -u DISPLAY -u WAYLAND_DISPLAY " + extra + " " + kRender + " " + args + " 2>" + errName;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe) {
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::ifstream in(errName, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  run.err = s.str();
  std::remove(errName);
  return run;
}

struct Picture {
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
  bool ok = false;

  std::array<int, 3> At(unsigned x, unsigned y) const {
    const std::size_t i = (std::size_t{y} * width + x) * 4;
    return {rgba[i], rgba[i + 1], rgba[i + 2]};
  }
};

Picture Load(const std::string& path) {
  Picture p;
  std::string reason;
  p.ok = gfx::ReadPngFile(path, p.width, p.height, p.rgba, reason);
  return p;
}

// Pixels whose colour differs in any channel.
int Differences(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  int n = 0;
  for (std::size_t i = 0; i + 3 < a.rgba.size(); i += 4) {
    if (a.rgba[i] != b.rgba[i] || a.rgba[i + 1] != b.rgba[i + 1] || a.rgba[i + 2] != b.rgba[i + 2]) ++n;
  }
  return n;
}

// Pixels of the colour scale: clearly saturated, unlike the slate background, the white
// wire and the texts.
int Coloured(const Picture& p) {
  int n = 0;
  for (std::size_t i = 0; i + 3 < p.rgba.size(); i += 4) {
    const int hi = std::max({p.rgba[i], p.rgba[i + 1], p.rgba[i + 2]});
    const int lo = std::min({p.rgba[i], p.rgba[i + 1], p.rgba[i + 2]});
    if (hi - lo > 90) ++n;
  }
  return n;
}

// The value of a numeric key in a one-line JSON object.
double JsonNumber(const std::string& json, const std::string& key) {
  const auto at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return -1e30;
  return std::atof(json.c_str() + at + key.size() + 4);
}

TEST(QemRender, DrawsTheSampleWithNoDisplay) {
  TempDir dir;
  const Ran run = Render(kSample + " -o " + (dir / "box.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");  // nothing on standard output without --json
  const Picture p = Load(dir / "box.png");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.width, 1024u);
  EXPECT_EQ(p.height, 768u);
  // The bundled settings' background, 0xFF202428, in the corners; the mesh in the middle.
  EXPECT_EQ(p.At(0, 0), (std::array<int, 3>{0x20, 0x24, 0x28}));
  EXPECT_EQ(p.At(1023, 767), (std::array<int, 3>{0x20, 0x24, 0x28}));
  EXPECT_GT(Coloured(p), 1024 * 768 / 10);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"box.png"});  // no temporary left
}

TEST(QemRender, JsonTellsWhatWasDrawn) {
  TempDir dir;
  const Ran run = Render(kSample + " --json --size 320x200 --clip 0 -o " + (dir / "a.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* part : {"\"width\": 320, \"height\": 200, \"vertices\": 1071,", "\"boundaryTriangles\": ",
                           "\"timeMin\": ", "\"valueMax\": ", "\"clipDistance\": 0,", "\"pictures\": [{\"file\": \""}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  }
  EXPECT_GT(JsonNumber(run.out, "sectionTriangles"), 0) << run.out;  // the plane at 0 cuts the box
  EXPECT_NE(run.out.find(dir / "a.png"), std::string::npos);
  const Picture p = Load(dir / "a.png");
  EXPECT_EQ(p.width, 320u);
  EXPECT_EQ(p.height, 200u);

  const Ran whole = Render(kSample + " --json -o " + (dir / "b.png"));
  EXPECT_EQ(JsonNumber(whole.out, "sectionTriangles"), 0) << whole.out;  // at the default nothing is cut
}

struct OptionCase {
  std::string base, variant;
  bool same;  // the variant must give the base's picture to the pixel
};

// Renders each distinct option string once and compares the pairs.
void CheckOptionCases(const std::vector<OptionCase>& cases) {
  TempDir dir;
  std::map<std::string, Picture> pictures;
  auto picture = [&](const std::string& options) -> const Picture& {
    auto found = pictures.find(options);
    if (found != pictures.end()) return found->second;
    const std::string file = dir / ("p" + std::to_string(pictures.size()) + ".png");
    const Ran run = Render(kSample + " " + options + " -o " + file);
    EXPECT_EQ(run.status, 0) << options << "\n" << run.err;
    return pictures.emplace(options, Load(file)).first->second;
  };
  for (const OptionCase& c : cases) {
    const int differ = Differences(picture(c.base), picture(c.variant));
    if (c.same) {
      EXPECT_EQ(differ, 0) << "'" << c.base << "' against '" << c.variant << "'";
    } else {
      EXPECT_GT(differ, 500) << "'" << c.base << "' against '" << c.variant << "'";
    }
  }
}

// Each switch must change the picture from its base.
TEST(QemRender, EachOptionChangesThePicture) {
  TempDir dir;
  const Ran info = Render(kSample + " --json -o " + (dir / "info.png"));
  ASSERT_EQ(info.status, 0) << info.err;
  char middle[64];
  std::snprintf(middle, sizeof middle, "--time %.9g", JsonNumber(info.out, "timeMax") / 2);
  CheckOptionCases({
      {"", "--no-wire", false},
      {"", "--no-lighting", false},
      {"", "--ortho", false},
      {"", "--rotate 10 20", false},
      {"", "--clip 0", false},
      {"--clip 0", "--clip 0 --no-section", false},
      {"--clip 0 --no-section", "--clip 0 --no-section --no-culling", false},
      {"", middle, false},
      {"", "--text", false},
      {"", "--legend", false},
      {"--text", "--text --legend", false},
  });
}

// The viewer's start-up state spelled out gives the start-up picture.
TEST(QemRender, TheDefaultsSpelledOutGiveTheSamePicture) {
  CheckOptionCases({
      {"", "--rotate -17.188734 -40.107044", true},  // -0.3 and -0.7 radians
      {"", "--frame 0", true},
      {"", "--clip 1.7320508", true},
      {"", "--clip 5", true},  // beyond the mesh the plane stops where the drag stops it
      {"", "--size 1024x768", true},
  });
}

TEST(QemRender, FramesAreNumberedAndSpreadOverTheTimeRange) {
  TempDir dir;
  const Ran run = Render(kSample + " --json --frames 3 --size 400x300 -o " + (dir / "movie.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"movie-0000.png", "movie-0001.png", "movie-0002.png"}));
  const double timeMax = JsonNumber(run.out, "timeMax");
  char last[64];
  std::snprintf(last, sizeof last, "--time %.9g", timeMax);
  ASSERT_EQ(Render(kSample + " --frame 0 --size 400x300 -o " + (dir / "first.png")).status, 0);
  ASSERT_EQ(Render(kSample + " " + last + " --size 400x300 -o " + (dir / "last.png")).status, 0);
  const Picture p0 = Load(dir / "movie-0000.png"), p1 = Load(dir / "movie-0001.png"), p2 = Load(dir / "movie-0002.png");
  EXPECT_EQ(Differences(p0, Load(dir / "first.png")), 0);
  EXPECT_EQ(Differences(p2, Load(dir / "last.png")), 0);
  EXPECT_GT(Differences(p0, p1), 500);
  EXPECT_GT(Differences(p1, p2), 500);
}

TEST(QemRender, PictureNames) {
  EXPECT_EQ(render::PictureName("out.png", 0, 0), "out.png");
  EXPECT_EQ(render::PictureName("out.png", 7, 10), "out-0007.png");
  EXPECT_EQ(render::PictureName("dir/Out.PNG", 12, 100), "dir/Out-0012.PNG");
  EXPECT_EQ(render::PictureName("out", 3, 5), "out-0003.png");
  EXPECT_EQ(render::PictureName(".png", 1, 2), ".png-0001.png");
}

TEST(QemRender, ConfigGivesTheBackground) {
  TempDir dir;
  {
    std::ofstream(dir / "green.tvl") << "Engine { BkgColor = 0xFF00FF00 }\nGfx { Font { Name = \"DejaVu Sans Mono\" "
                                        "Height = 20 Bold = true } }\n";
    std::ofstream(dir / "none.tvl") << "Gfx { Width = 10 }\n";
    std::ofstream(dir / "broken.tvl") << "Engine { BkgColor = \n";
  }
  ASSERT_EQ(Render(kSample + " --text --config " + (dir / "green.tvl") + " -o " + (dir / "g.png")).status, 0);
  EXPECT_EQ(Load(dir / "g.png").At(0, 767), (std::array<int, 3>{0, 255, 0}));
  // Without the key the viewer clears to opaque black; so does qem-render.
  ASSERT_EQ(Render(kSample + " --config " + (dir / "none.tvl") + " -o " + (dir / "n.png")).status, 0);
  EXPECT_EQ(Load(dir / "n.png").At(0, 0), (std::array<int, 3>{0, 0, 0}));

  const Ran broken = Render(kSample + " --config " + (dir / "broken.tvl") + " -o " + (dir / "b.png"));
  EXPECT_EQ(broken.status, 2);
  const Ran missing = Render(kSample + " --config " + (dir / "missing.tvl") + " -o " + (dir / "m.png"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find(dir / "missing.tvl"), std::string::npos) << missing.err;
  // A font that is no fixed-width face is refused as the viewer refuses it.
  std::ofstream(dir / "serif.tvl") << "Gfx { Font { Name = \"DejaVu Serif\" Height = 16 Bold = false } }\n";
  EXPECT_EQ(Render(kSample + " --text --config " + (dir / "serif.tvl") + " -o " + (dir / "s.png")).status, 2);
  // The failed runs left no picture.
  EXPECT_EQ(dir.Files(),
            (std::vector<std::string>{"broken.tvl", "g.png", "green.tvl", "n.png", "none.tvl", "serif.tvl"}));
}

TEST(QemRender, WrongArgumentsExitWithThreeAndWriteNothing) {
  TempDir dir;
  const std::string out = " -o " + (dir / "x.png");
  for (const std::string& args : std::vector<std::string>{
           "",
           kSample,                        // no output
           "-o " + (dir / "x.png"),        // no mesh
           kSample + " " + kSample + out,  // two meshes
           kSample + out + " --bogus", kSample + out + " --size 0x768", kSample + out + " --size 1024",
           kSample + out + " --size 1024x", kSample + out + " --frames 0", kSample + out + " --frames",
           kSample + out + " --time abc", kSample + out + " --time 1 --frame 0", kSample + out + " --frames 3 --time 0",
           kSample + out + " --rotate 10", kSample + out + " --frame -1",
           kSample + out + " --frame 99999",  // past the last frame: known after loading
           kSample + out + " --time 1e9",     // outside the time range
       }) {
    const Ran run = Render(args);
    EXPECT_EQ(run.status, 3) << args << "\n" << run.err;
    EXPECT_FALSE(run.err.empty()) << args;
  }
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_EQ(Render("--help").status, 0);
}

TEST(QemRender, FailuresNameTheCauseAndLeaveNoPicture) {
  TempDir dir;
  { std::ofstream(dir / "broken.qem") << "QEM VERTICES 0 ELEMENTS 0 FRAMES 0\n"; }
  const Ran broken = Render((dir / "broken.qem") + " -o " + (dir / "b.png"));
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.err, "Błąd:\nSiatka musi mieć conajmniej jeden element\n");  // UTF-8

  const Ran json = Render((dir / "broken.qem") + " --json -o " + (dir / "b.png"));
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out.rfind("{\"error\": \"Błąd:\\nSiatka", 0), 0u) << json.out;
  EXPECT_NE(json.out.find("\"exitCode\": 1}"), std::string::npos) << json.out;

  const Ran missing = Render((dir / "none.qem") + " -o " + (dir / "m.png"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("\"" + (dir / "none.qem") + "\""), std::string::npos) << missing.err;

  const Ran unwritable = Render(kSample + " -o " + (dir / "no/such/dir/u.png"));
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.err.find(dir / "no/such/dir/u.png"), std::string::npos) << unwritable.err;

  // The third of three pictures cannot be written (a directory stands in its place): the
  // run fails, and the two whole pictures before it stay.
  fs::create_directory(dir / "f-0002.png");
  const Ran third = Render(kSample + " --frames 3 --size 64x48 -o " + (dir / "f.png"));
  EXPECT_EQ(third.status, 2);
  EXPECT_TRUE(Load(dir / "f-0000.png").ok);
  EXPECT_TRUE(Load(dir / "f-0001.png").ok);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"broken.qem", "f-0000.png", "f-0001.png", "f-0002.png"}));
}

// With no OpenGL driver for EGL to find, the run fails with 2 and says it was the context.
TEST(QemRender, NoOpenGlContextIsExitTwo) {
  TempDir dir;
  const Ran run = Render(kSample + " -o " + (dir / "x.png"), "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("OpenGL 3.3"), std::string::npos) << run.err;
  EXPECT_TRUE(dir.Files().empty());
}

}  // namespace
