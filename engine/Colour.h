#pragma once
// The colour scale of the engine: a vertex value at the display time mapped from violet
// (the document's smallest value) through blue, cyan, green and yellow to red (the
// largest), as packed A8R8G8B8 colours. Pure functions; ValueSampler reads a loaded
// document only.

#include <cstdint>

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
  ValueSampler(const qem::Document& document, float t);
  float operator()(std::uint32_t vertex) const {
    return single ? a[vertex] : a[vertex] * (1 - f) + f * b[vertex];
  }

 private:
  const float* a = nullptr;
  const float* b = nullptr;
  float f = 0;
  bool single = true;
};

}  // namespace engine
