// qem-render: draws what the viewer draws into PNG files, with no display. The mesh is
// loaded by the viewer's loader and drawn by the viewer's engine through the OpenGL device,
// in the framework's own lifecycle; only the window system differs: an off-screen one
// (EGL on Mesa's surfaceless platform, a framebuffer object as the window). For figures
// and movies on machines with no desktop.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "config/Config.h"
#include "engine/ClipSection.h"
#include "engine/Engine.h"
#include "engine/EngineState.h"
#include "engine/Geometry.h"
#include "engine/Legend.h"
#include "engine/Scene.h"
#include "engine/Status.h"
#include "framework/Framework.h"
#include "framework/OffscreenWindowSystem.h"
#include "gfx/Font.h"
#include "gfx/Gfx.h"
#include "gfx/PngFile.h"
#include "gfx/ResMngr.h"
#include "qem/Loader.h"
#include "tools/Json.h"
#include "tools/qem-render/Options.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitLoadFailed = 1;
constexpr int kExitCannotReadOrWrite = 2;
constexpr int kExitUsage = 3;

// The settings qem-render draws with when no --config is given: those of the bundled
// Config.tvl.
constexpr const char* kDefaultConfig =
    "Gfx { Font { Name = \"DejaVu Sans Mono\" Height = 16 Bold = false } }\n"
    "Engine { BkgColor = 0xFF202428 }\n";

void Usage(std::FILE* to) {
  std::fputs(
      "Usage: qem-render MESH.qem -o OUT.png [options]\n"
      "Draws the mesh as the viewer shows it into a PNG file, with no display (OpenGL 3.3\n"
      "through EGL on Mesa's surfaceless platform).\n"
      "\n"
      "  -o, --output FILE  the PNG file to write\n"
      "  --size WxH         picture size in pixels (default 1024x768)\n"
      "  --time T           the display time (default: the first frame's)\n"
      "  --frame N          the time of frame N (0 is the first)\n"
      "  --frames N         N pictures evenly over the time range, OUT-0000.png ...\n"
      "  --rotate RX RY     the two rotations a left drag sets, in degrees (about x, then\n"
      "                     y; default the viewer's start-up view, -17.19 -40.11)\n"
      "  --clip D           the clip plane's distance as a right drag sets it, -1.732 to\n"
      "                     1.732 (default 1.732: nothing cut)\n"
      "  --no-section       no section where the plane cuts (the mesh stays cut)\n"
      "  --ortho            orthographic projection\n"
      "  --no-lighting, --no-wire, --no-culling\n"
      "                     lighting, the wire overlay, back-face culling off\n"
      "  --legend           the colour legend at the right edge\n"
      "  --text             the status and the controls texts (no frame rate)\n"
      "  --config FILE      background colour and font from this Config.tvl\n"
      "  --json             print what was drawn as one JSON object\n"
      "  --help             this text\n"
      "\n"
      "Exit status: 0 done; 1 the file is not a valid mesh (the viewer's message follows\n"
      "\"Błąd:\"); 2 a file cannot be read or written, or no OpenGL 3.3 context can be made;\n"  // utf-8 literal: help
      "3 wrong arguments. A picture that cannot be written whole is not left behind.\n",
      to);
}

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

using tooljson::JsonString;

std::string Number(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.9g", value);
  return buffer;
}

// Messages are Windows-1250 around file names, which are the command line's bytes as
// given (UTF-8 here): convert the text, keep the names.
std::string MessageToUtf8(const std::string& text, const std::vector<std::string>& names) {
  std::string out;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t best = std::string::npos, length = 0;
    for (const std::string& name : names) {
      if (name.empty()) continue;
      const std::size_t at = text.find(name, from);
      if (at < best) {
        best = at;
        length = name.size();
      }
    }
    if (best == std::string::npos) break;
    out += cp1250::ToUtf8(std::string_view(text).substr(from, best - from));
    out += text.substr(best, length);
    from = best + length;
  }
  return out + cp1250::ToUtf8(std::string_view(text).substr(std::min(from, text.size())));
}

// The error trace's lines, newest first, emptied.
std::string TakeTrace() {
  std::string text, line;
  while (ErrorPopLine(line)) text += (text.empty() ? "" : "\n") + line;
  return text;
}

struct Picture {
  std::string file;
  float time = 0;
};

// One run: the options, what happened, and what the JSON report shows.
struct Run {
  render::Options options;
  int exitCode = kExitDone;
  std::string message;  // Windows-1250, with file names as given
  bool ready = false;   // the mesh loaded and the state is set
  std::vector<float> times;
  std::size_t next = 0;  // the picture the next draw makes
  std::vector<Picture> written;
  std::vector<std::uint8_t> pixels;
  // The document's figures for the report, taken while it exists.
  std::size_t vertices = 0, elements = 0, frames = 0;
  float timeMin = 0, timeMax = 0, valueMin = 0, valueMax = 0;

  void Fail(int code, std::string text) {
    if (exitCode == kExitDone) {
      exitCode = code;
      message = std::move(text);
    }
    frame::RequestClose();
  }
};

Run run;
engine::Engine* g_engineObject = nullptr;

// Radians of an angle given in degrees. Not wrapped: the start-up angles are not either,
// and the default spelled in degrees must give the start-up picture to the pixel.
float Radians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * 3.14159265358979323846 / 180.0);
}

// The display times of the pictures, checked against the document; false (with the run
// failed) when --frame or --time is outside it.
bool PlanTimes(const qem::Document& document) {
  const render::Options& o = run.options;
  const float t0 = document.timeMin, t1 = document.timeMax;
  if (o.frames > 0) {
    for (int i = 0; i < o.frames; ++i) {
      const float t = o.frames == 1 ? t0 : static_cast<float>(t0 + (static_cast<double>(t1) - t0) * i / (o.frames - 1));
      run.times.push_back(i == o.frames - 1 ? t1 : t);
    }
    return true;
  }
  if (o.frame) {
    if (static_cast<std::size_t>(*o.frame) >= document.frames.size()) {
      run.Fail(kExitUsage, "--frame " + std::to_string(*o.frame) + ": the mesh has " +
                               std::to_string(document.frames.size()) + " frames (0 to " +
                               std::to_string(document.frames.size() - 1) + ")");
      return false;
    }
    run.times.push_back(document.frames[static_cast<std::size_t>(*o.frame)].time);
    return true;
  }
  if (o.time) {
    if (!(*o.time >= t0 && *o.time <= t1)) {
      run.Fail(kExitUsage,
               "--time " + Number(*o.time) + ": the mesh's time range is " + Number(t0) + " to " + Number(t1));
      return false;
    }
    run.times.push_back(*o.time);
    return true;
  }
  run.times.push_back(t0);
  return true;
}

// The first update waits for the loader, sets the engine's state from the options and
// lets the engine build its buffers; every update moves the display time to the next
// picture's.
void Update() {
  if (run.exitCode != kExitDone) return;
  if (!run.ready) {
    std::int32_t stage = qem::kStageNone;
    while ((stage = qem::GetLoadStage()) < qem::kStageFinished && !ErrorPending()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (ErrorPending()) {
      run.Fail(kExitCannotReadOrWrite, TakeTrace());
      return;
    }
    if (stage != qem::kStageFinished) {
      run.Fail(kExitLoadFailed, qem::GetLoadStatusText());
      return;
    }
    engine::RefreshStatus();
    const qem::Document* document = engine::CurrentDocument();
    if (!engine::state.documentReady || !document) {
      run.Fail(kExitLoadFailed, qem::GetLoadStatusText());
      return;
    }
    run.vertices = document->vertices.size();
    run.elements = document->elements.size();
    run.frames = document->frames.size();
    run.timeMin = document->timeMin;
    run.timeMax = document->timeMax;
    run.valueMin = document->valueMin;
    run.valueMax = document->valueMax;
    if (!PlanTimes(*document)) return;
    const render::Options& o = run.options;
    engine::State& s = engine::state;
    if (o.rotate) {
      s.rotationX = Radians(o.rotateX);
      s.rotationY = Radians(o.rotateY);
    }
    if (o.clip) s.clipDistance = engine::Clamp(-engine::kSqrt3, *o.clip, engine::kSqrt3);
    s.sectionShown = !o.noSection;
    s.orthographic = o.orthographic;
    s.lightingOn = !o.noLighting;
    s.wireOverlayOn = !o.noWire;
    s.cullingOn = !o.noCulling;
    // The switches decide, whatever a --config file says of the overlay and the legend.
    s.legendShown = o.legend;
    // The engine's first update builds the boundary and the section for this state.
    g_engineObject->UpdateAt(0, 0);
    if (ErrorPending()) return;
    run.ready = true;
  }
  if (run.next >= run.times.size()) return;
  engine::State& s = engine::state;
  const float t = run.times[run.next];
  if (s.displayTime != t) {
    s.displayTime = t;
    engine::RecolourEdges();
    if (!ErrorPending()) engine::RecolourSection();
    if (!ErrorPending()) engine::RefreshStatus();
  }
}

// The status and the controls texts as the viewer lays them out; the frame rate is left
// out, a picture has none.
void DrawTexts() {
  gfx::Font* font = g_resMngr.font.font.get();
  if (!font) return;
  const frame::DisplayMode mode = frame::GetDisplayMode();
  const auto draws =
      engine::StatusDraws(mode.width, mode.height, g_resMngr.font.charWidth, g_resMngr.font.charHeight, 0);
  for (std::size_t i = 0; i < draws.size(); ++i) {
    if (i == 1) continue;  // "FPS: ..."
    const engine::TextDraw& draw = draws[i];
    gfx::RECT rect{draw.left, draw.top, draw.right, draw.bottom};
    font->DrawTextA(nullptr, draw.text.c_str(), draw.length, &rect, draw.format, draw.colour);
  }
}

// One picture: the viewer's frame (clear, scene, texts), read back and written.
void Draw() {
  if (run.exitCode != kExitDone || !run.ready || run.next >= run.times.size()) return;
  gfx::Device* device = frame::GetDevice();
  HRESULT hr = device->Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, g_engineObject->BackgroundColour(), 1.0f, 0);
  if (Succeeded(hr)) hr = device->BeginScene();
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można rozpocząć rysowania"_cp, ERROR_FILE_LINE);
    return;
  }
  engine::DrawScene();
  if (run.options.text) DrawTexts();
  engine::DrawLegend();  // the viewer draws it after the texts
  device->EndScene();
  if (ErrorPending()) return;

  gfx::UINT width = 0, height = 0;
  hr = device->ReadBackBuffer(run.pixels, width, height);
  if (Failed(hr)) {
    run.Fail(kExitCannotReadOrWrite, "Nie można odczytać obrazu z bufora ramki"_cp);
    return;
  }
  const int count = run.options.frames;
  const std::string file = render::PictureName(run.options.output, static_cast<int>(run.next), count);
  std::string reason;
  if (!gfx::WritePngFile(file, width, height, run.pixels, reason)) {
    run.Fail(kExitCannotReadOrWrite, "Nie można zapisać pliku \""_cp + file + "\": " + reason);
    return;
  }
  run.written.push_back(Picture{file, run.times[run.next]});
  run.next += 1;
  if (run.next >= run.times.size()) frame::RequestClose();
}

bool ReadConfigText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) return false;
  text = s.str();
  return true;
}

int Report(const Run& r, const std::vector<std::string>& names, double cpuMs, double wallMs) {
  const render::Options& o = r.options;
  const std::string utf8 = MessageToUtf8(r.message, names);
  if (r.exitCode != kExitDone) {
    if (o.json) {
      std::printf("{\"error\": %s, \"exitCode\": %d}\n", JsonString(utf8).c_str(), r.exitCode);
    } else {
      std::fprintf(stderr, "%s\n", utf8.c_str());
    }
    return r.exitCode;
  }
  if (!o.json) return kExitDone;
  std::string pictures;
  for (const Picture& p : r.written) {
    pictures += std::string(pictures.empty() ? "" : ", ") + "{\"file\": " + JsonString(p.file) +
                ", \"time\": " + Number(p.time) + "}";
  }
  const engine::State& s = engine::state;
  std::printf(
      "{\"file\": %s, \"width\": %d, \"height\": %d, \"vertices\": %zu, \"elements\": %zu, \"frames\": %zu, "
      "\"timeMin\": %s, \"timeMax\": %s, \"valueMin\": %s, \"valueMax\": %s, "
      "\"boundaryTriangles\": %u, \"sectionTriangles\": %u, \"rotation\": [%s, %s], \"clipDistance\": %s, "
      "\"pictures\": [%s], \"cpuMs\": %.1f, \"wallMs\": %.1f}\n",
      JsonString(o.mesh).c_str(), o.width, o.height, r.vertices, r.elements, r.frames, Number(r.timeMin).c_str(),
      Number(r.timeMax).c_str(), Number(r.valueMin).c_str(), Number(r.valueMax).c_str(), s.edgeTriangleCount,
      s.sectionShown ? s.clipTriangleCount : 0u, Number(s.rotationX * 180.0 / 3.14159265358979323846).c_str(),
      Number(s.rotationY * 180.0 / 3.14159265358979323846).c_str(), Number(s.clipDistance).c_str(), pictures.c_str(),
      cpuMs, wallMs);
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = CpuMs();
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  if (!render::ParseOptions(args, run.options, error)) {
    std::fprintf(stderr, "qem-render: %s\n", error.c_str());
    Usage(stderr);
    return kExitUsage;
  }
  const render::Options& o = run.options;
  if (o.help) {
    Usage(stdout);
    return kExitDone;
  }
  const std::vector<std::string> names{o.mesh, o.output, o.config};
  std::string configText = kDefaultConfig;
  if (!o.config.empty() && !ReadConfigText(o.config, configText)) {
    run.exitCode = kExitCannotReadOrWrite;
    run.message = "Nie można otworzyć pliku \""_cp + o.config + "\"";
    return Report(run, names, 0, 0);
  }
  g_config = new Config(configText);
  if (ErrorPending()) {
    run.exitCode = kExitCannotReadOrWrite;
    run.message = TakeTrace();
    delete g_config;
    return Report(run, names, 0, 0);
  }

  engine::Engine engineObject;
  g_engineObject = &engineObject;
  engine::SetDocumentPath(o.mesh);
  // The viewer's frame objects in the viewer's order; the font only when texts or the
  // legend's labels are drawn (finding it through fontconfig costs more than drawing a
  // picture).
  for (frame::FrameObject* object : std::initializer_list<frame::FrameObject*>{
           &gfx::g_lineManager, &gfx::g_rectManager, &gfx::g_spriteManager, &gfx::g_fontManager}) {
    frame::Register(object);
  }
  if (o.text || o.legend) frame::Register(&g_resMngr);
  frame::Register(&engineObject);

  // EGL starts while the mesh loads: on two cores the driver's start is then hidden.
  frame::OffscreenWindowSystem windowSystem(true);
  frame::SetPlatform(frame::OffscreenPlatform(windowSystem));
  frame::Settings settings;
  settings.className = "QEM_RENDER";
  settings.title = "qem-render";
  // The viewer's depth buffer: the same precision decides the same pixels.
  settings.depthStencilFormat = gfx::D3DFMT_D16;
  settings.update = Update;
  settings.draw = Draw;
  const int result = frame::Run(settings, frame::DisplayMode{o.width, o.height, 0, false});
  if (result < 0 && run.exitCode == kExitDone) {
    run.exitCode = kExitCannotReadOrWrite;
    std::string text = TakeTrace();
    if (result == -1 || result == -5) {
      text = "Nie można utworzyć kontekstu OpenGL 3.3 bez ekranu:\n"_cp + text;
      if (!windowSystem.SurfaceError().empty()) text += "\n" + windowSystem.SurfaceError();
    }
    run.message = text;
  } else if (ErrorPending() && run.exitCode == kExitDone) {
    run.exitCode = kExitCannotReadOrWrite;
    run.message = TakeTrace();
  } else if (run.exitCode == kExitDone && run.written.size() != run.times.size()) {
    run.exitCode = kExitCannotReadOrWrite;
    run.message = "Nie narysowano wszystkich obrazów"_cp;
  }
  if (ErrorPending()) TakeTrace();
  const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
  const int code = Report(run, names, CpuMs() - cpuStart, wallMs);
  delete g_config;
  g_config = nullptr;
  return code;
}
