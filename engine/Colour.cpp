#include "engine/Colour.h"

#include <cmath>

namespace engine {

namespace {
// Truncation toward zero that stays defined for any float (NaN and huge values give 0).
std::int32_t Truncate(float x) { return x > -2147483648.0f && x < 2147483648.0f ? static_cast<std::int32_t>(x) : 0; }
std::uint32_t Channel(float x) { return static_cast<std::uint32_t>(Truncate(x * 255)); }
}  // namespace

std::uint32_t HsvToRgb(float h, float s, float v) {
  if (s == 0) {
    const auto g = static_cast<std::uint32_t>(Truncate(v * 255));
    return g * 0x10101u;
  }
  const float h6 = (h - std::floor(h)) * 6;
  const float base = std::floor(h6);
  // A NaN or infinite hue has no sector: it gives 0 like any other sector outside 0..5.
  const std::int32_t i = base >= 0 && base < 6 ? static_cast<std::int32_t>(base) : -1;
  const float f = h6 - base;
  const float p = v * (1 - s);
  const float q = v * (1 - s * f);
  const float t = v * (1 - s * (1 - f));
  float r, g, b;
  switch (i) {
    case 0:
      r = v, g = t, b = p;
      break;
    case 1:
      r = q, g = v, b = p;
      break;
    case 2:
      r = p, g = v, b = t;
      break;
    case 3:
      r = p, g = q, b = v;
      break;
    case 4:
      r = t, g = p, b = v;
      break;
    case 5:
      r = v, g = p, b = q;
      break;
    default:
      return 0;
  }
  return Channel(r) << 16 | Channel(g) << 8 | Channel(b);
}

std::uint32_t LerpColour(std::uint32_t c0, std::uint32_t c1, float f) {
  std::uint32_t result = 0xFF000000u;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const auto x0 = static_cast<float>((c0 >> shift) & 0xFF);
    const auto x1 = static_cast<float>((c1 >> shift) & 0xFF);
    const auto x = static_cast<std::uint32_t>(Truncate(x0 + (x1 - x0) * f)) & 0xFF;
    result |= x << shift;
  }
  return result;
}

std::uint32_t ValueColour(float value, float valueMin, float valueMax) {
  const float r = valueMax - valueMin;
  const float n = r > 0 ? (value - valueMin) / r : 0.0f;
  const float hue = (1 - n) * 0.75f;
  return HsvToRgb(hue, 1, 1);
}

ValueSampler::ValueSampler(const qem::Document& document, float t) {
  if (document.frames.empty()) return;  // nothing to sample; never asked for values then
  const qem::Document::FrameInterval at = document.IntervalAt(t);
  a = document.frames[at.first].values.data();
  if (at.single) return;
  b = document.frames[at.first + 1].values.data();
  f = at.f;
  single = false;
}

void VertexColours::Begin(const qem::Document& d, float t) {
  // The same time (bit for bit, NaN included) of the same document: every colour known stays.
  const bool sameTime = timeSet && (t == time || (t != t && time != time));
  if (document == &d && sameTime && stamps.size() == d.vertices.size()) return;
  document = &d;
  time = t;
  timeSet = true;
  valueMin = d.valueMin;
  valueMax = d.valueMax;
  value = ValueSampler(d, t);
  if (stamps.size() != d.vertices.size() || stamp == 0xFFFFFFFFu) {
    stamps.assign(d.vertices.size(), 0);
    colours.assign(d.vertices.size(), 0);
    stamp = 0;
  }
  ++stamp;
}

}  // namespace engine
