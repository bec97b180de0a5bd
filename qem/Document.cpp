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

Document::FrameInterval Document::IntervalAt(float t) const {
  const std::size_t count = frames.size();
  if (t < timeMin) return {0, 0, true};
  if (t >= timeMax || count == 1) return {count - 1, 0, true};
  // k: the last inner frame (1 .. count-2) whose time is not after t, or 0. Frame times
  // strictly increase in a loaded document, so a binary search finds what a scan would.
  std::size_t k = 0;
  if (t == t && count > 2) {
    const auto first = frames.begin() + 1;
    const auto last = frames.begin() + static_cast<std::ptrdiff_t>(count - 1);
    const auto after =
        std::upper_bound(first, last, t, [](float time, const TimeFrame& frame) { return time < frame.time; });
    k = static_cast<std::size_t>(after - frames.begin()) - 1;
  }
  const TimeFrame& a = frames[k];
  const TimeFrame& b = frames[k + 1];
  return {k, (t - a.time) / (b.time - a.time), false};
}

float Document::ValueAt(std::uint32_t vertex, float t) const {
  const FrameInterval at = IntervalAt(t);
  const float va = frames[at.first].values[vertex];
  if (at.single) return va;
  const float vb = frames[at.first + 1].values[vertex];
  return va * (1 - at.f) + at.f * vb;
}

}  // namespace qem
