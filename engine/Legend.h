#pragma once
// The colour legend: a vertical bar at the right edge of the picture with the colour scale
// of the document's values (the largest at the top, the smallest at the bottom), every
// row exactly the colour the mesh gets for that row's value, framed by a thin white line,
// and five value labels to its left in the status font and colour. The viewer draws it
// after the status while state.legendShown is set and a document is ready; an off-screen
// renderer may call DrawLegend with its own device, batcher and font.

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/Font.h"
#include "gfx/Gfx.h"
#include "qem/Document.h"

namespace engine {

struct LegendLayout {
  // The colour rows' area in pixels (the frame lies one pixel outside it).
  int left = 0, top = 0, right = 0, bottom = 0;
  // One colour per pixel row from top to bottom, as ValueColour gives it (drawn opaque).
  std::vector<std::uint32_t> rowColours;
  struct Label {
    std::string text;  // %.4g
    int left = 0, top = 0, right = 0, bottom = 0;
    std::uint32_t format = 0;
  };
  // The largest value first, the smallest last.
  std::vector<Label> labels;
  std::uint32_t labelColour = 0;
  std::uint32_t frameColour = 0;
};

// The value the bar's row (0 = top) of rows stands for.
float LegendRowValue(int row, int rows, float valueMin, float valueMax);

// The legend for a back buffer of width x height and a character cell of charWidth x
// charHeight: the bar one cell in from the right and bottom edges, two cells wide and 40 %
// of the height high (at least one row).
LegendLayout ComputeLegend(int width, int height, int charWidth, int charHeight, float valueMin, float valueMax);

// Draws layout: the rows and the frame through rects (between its Begin and End), the
// labels through font (none when font is null). Failures go to the error trace.
void DrawLegend(const LegendLayout& layout, gfx::RectManager& rects, gfx::Font* font);

// The viewer's legend: with the framework's display mode, the resource manager's font and
// the rectangle batcher, while state.legendShown and a document is ready.
void DrawLegend();

}  // namespace engine
