// qem-render draws what the viewer shows: the viewer is driven under X to a state (start-up,
// a left drag, a right drag, keys), its window is read, and qem-render, with no display, is
// given the same state as options; outside the texts the two pictures may differ in at most
// 0.5 % of the pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

#include "gfx/PngFile.h"
#include "tests/e2e/Harness.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kRender = QEM_RENDER_PATH;

bool Coloured(Rgb c) { return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 90; }

// The viewer's state as the drags and keys left it, in the engine's own steps.
struct ViewState {
  float rotationX = -0.3f;
  float rotationY = -0.7f;
  float clipDistance = 1.7320508f;
  bool wire = true, ortho = false, lighting = true, legend = false;

  std::string Options() const {
    char text[160];
    std::snprintf(text, sizeof text, "--rotate %.9g %.9g --clip %.9g", rotationX * 180.0 / 3.14159265358979,
                  rotationY * 180.0 / 3.14159265358979, clipDistance);
    return std::string(text) + (wire ? "" : " --no-wire") + (ortho ? " --ortho" : "") +
           (lighting ? "" : " --no-lighting") + (legend ? " --legend" : "");
  }
};

// The texts' boxes with room to spare: the status at the top left, the controls at the
// top right, the frame rate at the bottom left.
bool InText(int x, int y, int width, int height) {
  return (x < 420 && y < 110) || (x >= width - 280 && y < 180) || (x < 220 && y >= height - 50);
}

struct Comparison {
  int differing = 0;  // pixels outside the texts with any channel different
  int beyond = 0;     // ... by more than 16 in a channel
  int compared = 0;
  int coloured = 0;  // pixels of the colour scale in qem-render's picture
};

Comparison Compare(const Image& viewer, const Image& render) {
  Comparison c;
  if (viewer.width != render.width || viewer.height != render.height) return c;
  for (int y = 0; y < viewer.height; ++y) {
    for (int x = 0; x < viewer.width; ++x) {
      if (InText(x, y, viewer.width, viewer.height)) continue;
      const Rgb a = viewer.At(x, y), b = render.At(x, y);
      const int d = std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
      c.compared += 1;
      if (d > 0) c.differing += 1;
      if (d > 16) c.beyond += 1;
      if (Coloured(b)) c.coloured += 1;
    }
  }
  return c;
}

Image RenderPicture(const std::filesystem::path& dir, const std::string& name, const std::string& options, int width,
                    int height, int& status) {
  const std::string file = (dir / name).string();
  Shell("env -u DISPLAY " + kRender + " " + (SourceDir() / "samples" / "box.qem").string() + " --size " +
            std::to_string(width) + "x" + std::to_string(height) + " " + options + " -o " + file + " 2>&1",
        &status);
  Image image;
  unsigned w = 0, h = 0;
  std::vector<std::uint8_t> rgba;
  std::string reason;
  if (!gfx::ReadPngFile(file, w, h, rgba, reason)) return image;
  image.width = static_cast<int>(w);
  image.height = static_cast<int>(h);
  image.rgb.resize(std::size_t{w} * h * 3);
  for (std::size_t i = 0, j = 0; i < rgba.size(); i += 4, j += 3) {
    image.rgb[j] = rgba[i];
    image.rgb[j + 1] = rgba[i + 1];
    image.rgb[j + 2] = rgba[i + 2];
  }
  return image;
}

// A drag of steps moves of (stepX, stepY) pixels each, every one from the point the
// viewer holds the pointer at, so that each move reaches the engine as exactly that
// movement (the Harness's drag goes to absolute places, which the held pointer turns
// into other movements).
void ExactDrag(Viewer& viewer, int button, int stepX, int stepY, int steps) {
  int x, y, width, height;
  viewer.Geometry(x, y, width, height);
  const std::string b = std::to_string(button);
  Shell("xdotool mousemove --window " + viewer.Window() + " " + std::to_string(width / 2) + " " +
        std::to_string(height / 2) + " sleep 0.2 mousedown " + b + " sleep 0.4");
  // Where the viewer holds the pointer while it drags.
  const std::string where = Shell("xdotool getmouselocation --shell");
  auto value = [&](const std::string& key) {
    const auto at = where.find(key + "=");
    return at == std::string::npos ? 0 : std::atoi(where.c_str() + at + key.size() + 1);
  };
  const int hx = value("X"), hy = value("Y");
  for (int i = 0; i < steps; ++i) {
    Shell("xdotool mousemove " + std::to_string(hx + stepX) + " " + std::to_string(hy + stepY));
    std::this_thread::sleep_for(250ms);
  }
  Shell("xdotool mouseup " + b);
  std::this_thread::sleep_for(400ms);
}

// The viewer's settings spelled out, so that the bundled Config.tvl's choices (which may
// switch the overlay or the legend at start-up) do not decide what is compared: the
// background and font qem-render uses by default, the overlay's and legend's keys left
// out so the viewer starts as qem-render does without switches.
constexpr const char* kConfig =
    "Gfx { Width = 1024 Height = 768 RefreshRate = 60 FullScreen = false\n"
    "      Font { Name = \"DejaVu Sans Mono\" Height = 16 Bold = false } }\n"
    "Engine { BkgColor = 0xFF202428 }\n";

TEST(RenderMatchesViewer, SeveralStates) {
  Scratch scratch("render-match");
  scratch.WriteConfig(kConfig);
  Viewer viewer(scratch.Path(), {(SourceDir() / "samples" / "box.qem").string()});
  ASSERT_FALSE(viewer.WaitForWindow().empty());
  bool drawn = false;
  for (int i = 0; i < 100 && !drawn; ++i) {
    const Image shot = viewer.WindowShot();
    drawn = shot.width > 0 && shot.Count(0, 0, shot.width, shot.height, Coloured) > shot.width * shot.height / 50;
    if (!drawn) std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(drawn) << viewer.Stderr();
  std::this_thread::sleep_for(500ms);

  ViewState state;
  struct Step {
    std::string name;
    std::function<void()> drive;
  };
  const std::vector<Step> steps{
      {"start-up", [] {}},
      {"left drag 200,-80",
       [&] {
         ExactDrag(viewer, 1, 40, -16, 5);
         for (int i = 0; i < 5; ++i) {
           // The engine's own steps: 0.0025 radians a pixel, x from the vertical movement.
           state.rotationX = state.rotationX - static_cast<float>(-16) * 0.0025f;
           state.rotationY = state.rotationY - static_cast<float>(40) * 0.0025f;
         }
       }},
      {"right drag -840,-840",
       [&] {
         // Up and left cut deeper: 0.001 a pixel of both movements.
         ExactDrag(viewer, 3, -60, -60, 14);
         for (int i = 0; i < 14; ++i) {
           state.clipDistance =
               std::clamp(state.clipDistance + static_cast<float>(-120) * 0.001f, -1.7320508f, 1.7320508f);
         }
       }},
      {"keys w o",
       [&] {
         viewer.Key("w");
         viewer.Key("o");
         state.wire = false;
         state.ortho = true;
       }},
      {"key l",
       [&] {
         viewer.Key("l");
         state.lighting = false;
       }},
      {"command legend",
       [&] {
         viewer.Key("grave");
         viewer.Type("legend");
         viewer.Key("Return");
         viewer.Key("grave");
         state.legend = true;
       }},
  };
  int index = 0;
  for (const Step& step : steps) {
    step.drive();
    std::this_thread::sleep_for(500ms);
    const Image shot = viewer.WindowShot();
    int status = -1;
    const Image picture = RenderPicture(scratch.Path(), "state" + std::to_string(index++) + ".png", state.Options(),
                                        shot.width, shot.height, status);
    ASSERT_EQ(status, 0) << step.name;
    const Comparison c = Compare(shot, picture);
    ASSERT_GT(c.compared, 0) << step.name << ": sizes " << shot.width << "x" << shot.height << " and " << picture.width
                             << "x" << picture.height;
    const double percent = 100.0 * c.differing / c.compared;
    std::printf("[ state    ] %-20s %s: %d of %d pixels differ (%.3f %%), %d by more than 16\n", step.name.c_str(),
                state.Options().c_str(), c.differing, c.compared, percent, c.beyond);
    EXPECT_GT(c.coloured, c.compared / 50) << step.name;  // the mesh is in the picture
    EXPECT_LE(percent, 0.5) << step.name << " (" << state.Options() << ")";
    if (percent > 0.5) {
      shot.SavePpm(scratch.Path() / "viewer.ppm");
      picture.SavePpm("/tmp/qem-render-mismatch-" + std::to_string(index) + ".ppm");
      shot.SavePpm("/tmp/qem-viewer-mismatch-" + std::to_string(index) + ".ppm");
    }
  }
  viewer.Close();
  viewer.WaitExit(10s);
}

}  // namespace
}  // namespace e2e
