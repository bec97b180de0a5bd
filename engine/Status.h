#pragma once
// The status display: the short text at the top left (the loader's progress, its error,
// or the mesh's sizes and the display time), the frame rate at the bottom left and the
// summary of the controls at the top right. The status refresh is also how the engine
// learns that the document is complete (state.documentReady). Main thread only.

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// The controls summary; the last line is the console key.
extern const char* const kHelpText;

// One DrawTextA call of the font: length -1 means up to the text's terminating zero.
struct TextDraw {
  std::string text;
  int length = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
  std::uint32_t format = 0;
  std::uint32_t colour = 0;
};

// state.documentReady from the loader's stage, then state.statusText: "Węzłów: ..." and
// "Elementów: ..." (and the "Czas: ..." line when the document has a time range, and the
// "Sonda: ..." line while a probe is set) once the document is ready, else the loader's
// status text.
void RefreshStatus();

// The three draws of one frame for a back buffer of width x height, a character cell of
// charWidth x charHeight and fps frames per second: status, frame rate, help.
std::vector<TextDraw> StatusDraws(int width, int height, int charWidth, int charHeight, float fps);

// The three texts with the resource manager's font (nothing while it has none), inside
// the profiler section "Stat". The results of the draws are not looked at.
void DrawStatus();

}  // namespace engine
