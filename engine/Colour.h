#pragma once
// The colour scale of the engine: a vertex value at the display time mapped from violet
// (the document's smallest value) through blue, cyan, green and yellow to red (the
// largest), as packed A8R8G8B8 colours. Pure functions; ValueSampler reads a loaded
// document only.

#include <cstdint>
#include <vector>

#include "qem/Document.h"

namespace engine {

// HSV (each 0..1, the hue wrapping) -> 0x00RRGGBB, channels truncated; the alpha byte is 0.
std::uint32_t HsvToRgb(float h, float s, float v);

// Per channel c0 + (c1 - c0) x f, truncated to its low 8 bits; opaque (alpha 0xFF).
std::uint32_t LerpColour(std::uint32_t c0, std::uint32_t c1, float f);

// The scale's colour of value for the document's value range (violet when the range is
// empty).
std::uint32_t ValueColour(float value, float valueMin, float valueMax);
inline std::uint32_t ValueColour(const qem::Document& document, float value) {
  return ValueColour(value, document.valueMin, document.valueMax);
}

// The values of every vertex at one time: the document's ValueAt with the frame interval
// looked up once instead of once per vertex. Gives exactly ValueAt's results. The document
// must stay alive and unchanged while the sampler is used.
class ValueSampler {
 public:
  ValueSampler() = default;
  ValueSampler(const qem::Document& document, float t);
  float operator()(std::uint32_t vertex) const { return single ? a[vertex] : a[vertex] * (1 - f) + f * b[vertex]; }

 private:
  const float* a = nullptr;
  const float* b = nullptr;
  float f = 0;
  bool single = true;
};

// The scale's colour of every vertex at one time, each computed once on first use: the
// boundary repeats a vertex in about six triangles, and the section's end points are
// shared by several cut edges. Begin with the same document and time keeps what is known.
class VertexColours {
 public:
  void Begin(const qem::Document& document, float t);
  std::uint32_t operator()(std::uint32_t vertex) {
    if (stamps[vertex] == stamp) return colours[vertex];
    stamps[vertex] = stamp;
    return colours[vertex] = ValueColour(value(vertex), valueMin, valueMax);
  }

 private:
  const qem::Document* document = nullptr;
  float time = 0;
  bool timeSet = false;
  float valueMin = 0, valueMax = 0;
  ValueSampler value;
  std::uint32_t stamp = 0;
  std::vector<std::uint32_t> stamps;
  std::vector<std::uint32_t> colours;
};

}  // namespace engine
