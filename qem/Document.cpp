#include "qem/Document.h"

#include <algorithm>

namespace qem {

Document::~Document() { Clear(); }

void Document::Clear() {
  // The octree first: its lists point at elements.
  octree.reset();
  boundaryTriangles = {};
  boundaryElements = {};
  frames = {};
  elements.clear();
  vertices = {};
  triangleStore.Clear();
  indexStore.Clear();
  boundsMin = boundsMax = centre = {};
  scale = valueMin = valueMax = timeMin = timeMax = epsilon = 0;
}

float Document::ValueAt(std::uint32_t vertex, float t) const {
  const std::size_t count = frames.size();
  if (t < timeMin) return frames.front().values[vertex];
  if (t >= timeMax || count == 1) return frames.back().values[vertex];
  // k: the last inner frame (1 .. count-2) whose time is not after t, or 0. Frame times
  // strictly increase in a loaded document, so a binary search finds what a scan would.
  std::size_t k = 0;
  if (t == t && count > 2) {
    const auto first = frames.begin() + 1;
    const auto last = frames.begin() + static_cast<std::ptrdiff_t>(count - 1);
    const auto after = std::upper_bound(first, last, t, [](float time, const TimeFrame& frame) {
      return time < frame.time;
    });
    k = static_cast<std::size_t>(after - frames.begin()) - 1;
  }
  const TimeFrame& a = frames[k];
  const TimeFrame& b = frames[k + 1];
  const float f = (t - a.time) / (b.time - a.time);
  const float va = a.values[vertex];
  const float vb = b.values[vertex];
  return va * (1 - f) + f * vb;
}

}  // namespace qem
