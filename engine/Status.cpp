#include "engine/Status.h"

#include <cmath>

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"
#include "app/Profiler.h"
#include "engine/EngineState.h"
#include "engine/Probe.h"
#include "framework/FrameObject.h"
#include "gfx/Font.h"
#include "gfx/ResMngr.h"
#include "qem/Loader.h"

namespace engine {

namespace {
constexpr auto kHelp = "Sterowanie:\nLPM, PPM\nW, O, L\nEnter, Esc\nHome, End\nPgUp, PgDn, lewo, prawo\n`"_cp;
const std::string helpStorage{std::string_view(kHelp)};
}  // namespace

const char* const kHelpText = helpStorage.c_str();

void RefreshStatus() {
  state.documentReady = CurrentLoadStage() == qem::kStageFinished;
  const qem::Document* document = CurrentDocument();
  if (state.documentReady && document) {
    std::string text = "Węzłów: "_cp + ToText(document->VertexCount()) + "\nElementów: "_cp +
                       ToText(static_cast<std::uint32_t>(document->elements.size()));
    const float range = document->timeMax - document->timeMin;
    if (range > 0) {
      const float percent = (state.displayTime - document->timeMin) / range * 100;
      text += "\nCzas: " + FormatFloat(state.displayTime, 'g', 6) + " (" + FormatFloat(document->timeMin, 'g', 6) +
              "-" + FormatFloat(document->timeMax, 'g', 6) + ") - " + FormatFloat(percent, 'g', 6) + "%";
    }
    if (!state.probeWeights.empty()) {
      const qem::Float3 p = ToFileUnits(*document, state.probePoint);
      text += "\nSonda: " + FormatFloat(ProbeValue(*document, state.probeWeights, state.displayTime), 'g', 6) + " w (" +
              FormatFloat(p.x, 'g', 6) + ", " + FormatFloat(p.y, 'g', 6) + ", " + FormatFloat(p.z, 'g', 6) + ")";
    }
    state.statusText = std::move(text);
  } else {
    state.statusText = qem::GetLoadStatusText();
  }
}

std::vector<TextDraw> StatusDraws(int width, int height, int charWidth, int charHeight, float fps) {
  const std::string fpsText = "FPS: " + ToText(static_cast<std::int32_t>(std::floor(fps + 0.5f)));
  const int left = charWidth, top = charHeight, right = width - charWidth, bottom = height - charHeight;
  std::vector<TextDraw> draws;
  draws.push_back({state.statusText, static_cast<int>(state.statusText.size()), left, top, right, bottom,
                   gfx::DT_WORDBREAK | gfx::DT_NOCLIP, 0xFFFFFF80u});
  draws.push_back({fpsText, static_cast<int>(fpsText.size()), left, top, right, bottom, gfx::DT_BOTTOM | gfx::DT_NOCLIP,
                   0xFFFFFFFFu});
  draws.push_back(
      {kHelpText, -1, left, top, right, bottom, gfx::DT_RIGHT | gfx::DT_WORDBREAK | gfx::DT_NOCLIP, 0xFF80FFFFu});
  return draws;
}

void DrawStatus() {
  Profiler::Begin("Stat");
  gfx::Font* font = g_resMngr.font.font.get();
  if (font) {
    const frame::DisplayMode mode = frame::GetDisplayMode();
    for (const TextDraw& draw :
         StatusDraws(mode.width, mode.height, g_resMngr.font.charWidth, g_resMngr.font.charHeight, frame::GetFps())) {
      gfx::RECT rect{draw.left, draw.top, draw.right, draw.bottom};
      font->DrawTextA(nullptr, draw.text.c_str(), draw.length, &rect, draw.format, draw.colour);
    }
  }
  Profiler::End();
}

}  // namespace engine
