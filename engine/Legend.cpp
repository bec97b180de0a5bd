#include "engine/Legend.h"

#include <algorithm>
#include <cmath>

#include "Common_Code/Conversions.h"
#include "Common_Code/ErrorTrace.h"
#include "engine/Colour.h"
#include "engine/EngineState.h"
#include "framework/FrameObject.h"
#include "gfx/ResMngr.h"

namespace engine {

namespace {
constexpr std::uint32_t kLabelColour = 0xFFFFFF80u;  // the status text's
constexpr std::uint32_t kFrameColour = 0xFFFFFFFFu;
constexpr int kLabels = 5;
}  // namespace

float LegendRowValue(int row, int rows, float valueMin, float valueMax) {
  if (rows <= 1) return valueMax;
  const float f = static_cast<float>(row) / static_cast<float>(rows - 1);
  return valueMax - (valueMax - valueMin) * f;
}

LegendLayout ComputeLegend(int width, int height, int charWidth, int charHeight, float valueMin, float valueMax) {
  LegendLayout layout;
  layout.right = width - charWidth;
  layout.left = layout.right - 2 * charWidth;
  layout.bottom = height - charHeight;
  const int rows = std::max(1, static_cast<int>(std::lround(0.4 * height)));
  layout.top = layout.bottom - rows;
  layout.rowColours.resize(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) {
    layout.rowColours[static_cast<std::size_t>(row)] =
        ValueColour(LegendRowValue(row, rows, valueMin, valueMax), valueMin, valueMax);
  }
  // Each label is centred on the row of its value, right-aligned half a cell from the frame.
  for (int k = 0; k < kLabels; ++k) {
    const int row = (rows - 1) * k / (kLabels - 1);
    const float value =
        k == kLabels - 1 ? valueMin : valueMax - (valueMax - valueMin) * static_cast<float>(k) / (kLabels - 1);
    LegendLayout::Label label;
    label.text = FormatFloat(value, 'g', 4);
    const int centre = layout.top + row;
    label.left = 0;
    label.right = layout.left - 1 - charWidth / 2;
    label.top = centre - charHeight / 2;
    label.bottom = label.top + charHeight;
    label.format = gfx::DT_RIGHT | gfx::DT_SINGLELINE | gfx::DT_NOCLIP;
    layout.labels.push_back(std::move(label));
  }
  layout.labelColour = kLabelColour;
  layout.frameColour = kFrameColour;
  return layout;
}

void DrawLegend(const LegendLayout& layout, gfx::RectManager& rects, gfx::Font* font) {
  const float left = static_cast<float>(layout.left), right = static_cast<float>(layout.right);
  const float top = static_cast<float>(layout.top), bottom = static_cast<float>(layout.bottom);
  rects.Begin();
  for (std::size_t row = 0; row < layout.rowColours.size(); ++row) {
    const float y = top + static_cast<float>(row);
    // The scale's colours carry no alpha; the bar is opaque.
    rects.Add(gfx::Rectangle{left, y, right, y + 1}, layout.rowColours[row] | 0xFF000000u);
  }
  rects.Add(gfx::Rectangle{left - 1, top - 1, right + 1, top}, layout.frameColour);
  rects.Add(gfx::Rectangle{left - 1, bottom, right + 1, bottom + 1}, layout.frameColour);
  rects.Add(gfx::Rectangle{left - 1, top, left, bottom}, layout.frameColour);
  rects.Add(gfx::Rectangle{right, top, right + 1, bottom}, layout.frameColour);
  rects.End();
  if (font) {
    for (const LegendLayout::Label& label : layout.labels) {
      gfx::RECT rect{label.left, label.top, label.right, label.bottom};
      font->DrawTextA(nullptr, label.text.c_str(), static_cast<gfx::INT>(label.text.size()), &rect, label.format,
                      layout.labelColour);
    }
  }
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void DrawLegend() {
  const qem::Document* document = CurrentDocument();
  if (!state.legendShown || !state.documentReady || !document) return;
  const frame::DisplayMode mode = frame::GetDisplayMode();
  const LegendLayout layout = ComputeLegend(mode.width, mode.height, g_resMngr.font.charWidth,
                                            g_resMngr.font.charHeight, document->valueMin, document->valueMax);
  DrawLegend(layout, gfx::g_rectManager, g_resMngr.font.font.get());
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

}  // namespace engine
