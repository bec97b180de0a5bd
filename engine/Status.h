#pragma once
// The status display: the short text at the top left (the loader's progress, its error,
// or the mesh's sizes and the display time), the frame rate at the bottom left and the
// summary of the controls at the top right. The status refresh is also how the engine
// learns that the document is complete (state.documentReady). Main thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace engine {

// The controls summary; the last line is the console key.
extern const char* const kHelpText;

// DrawTextA's format flags used here.
inline constexpr std::uint32_t kDtRight = 0x2;
inline constexpr std::uint32_t kDtBottom = 0x8;
inline constexpr std::uint32_t kDtWordBreak = 0x10;
inline constexpr std::uint32_t kDtNoClip = 0x100;

// One DrawTextA call of the font: length -1 means up to the text's terminating zero.
struct TextDraw {
  std::string text;
  int length = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
  std::uint32_t format = 0;
  std::uint32_t colour = 0;
};

// The font the status is drawn with: its character cell and its DrawTextA (no sprite).
// Whoever owns the font installs it (the application, from the resource manager); without
// a draw function DrawStatus draws nothing.
struct StatusFont {
  int charWidth = 0;
  int charHeight = 0;
  std::function<void(const TextDraw&)> draw;
};
extern StatusFont statusFont;

// state.documentReady from the loader's stage, then state.statusText: "Węzłów: ..." and
// "Elementów: ..." (and the "Czas: ..." line when the document has a time range) once the
// document is ready, else the loader's status text.
void RefreshStatus();

// The three draws of one frame for a back buffer of width x height, a character cell of
// charWidth x charHeight and fps frames per second: status, frame rate, help.
std::vector<TextDraw> StatusDraws(int width, int height, int charWidth, int charHeight, float fps);

// The three texts with statusFont, inside the profiler section "Stat".
void DrawStatus();

}  // namespace engine
