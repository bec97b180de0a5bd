#pragma once
// Reading the value at a point. The middle-button click picks the surface point under the
// pointer: the nearest of the boundary triangles the picture shows there (on the kept side
// of the clip plane, not culled) and the section's triangles (when the section is shown),
// and keeps it as the probe; the status then shows its value at the display time. The
// "probe X Y Z" command finds the element holding a point of the volume through the
// octree. Main thread only; reads and writes engine::state.

#include <cstdint>
#include <vector>

#include "engine/EngineState.h"
#include "framework/WindowSystem.h"
#include "qem/Document.h"

namespace engine {

struct PickResult {
  bool hit = false;
  bool section = false;        // a section triangle rather than a boundary one
  std::uint32_t triangle = 0;  // the boundary triangle's number, or the section triangle's
  qem::Float3 point;           // normalised units
  std::vector<ProbeWeight> weights;
};

// The surface point drawn at pixel (x, y) of a width x height back buffer with the current
// rotation, projection, zoom, clip plane and switches; no hit on the background or while
// no document is ready.
PickResult Pick(int x, int y, unsigned width, unsigned height);

// The middle-button click at pixel position (the display mode's size): sets the probe to
// the picked point, or clears it on the background; refreshes the status.
void ProbeAtPixel(frame::Point position);

// The value of weights at time t.
float ProbeValue(const qem::Document& document, const std::vector<ProbeWeight>& weights, float t);

// The element of document holding point p (normalised units) found through the octree,
// and p's weights over its vertices: barycentric in a tetrahedron, inverse distance in any
// other element (a vertex at p takes it all). False when no element holds p.
bool LocatePoint(const qem::Document& document, const qem::Float3& p, std::vector<ProbeWeight>& weights);

// File units <-> normalised units of document.
qem::Float3 ToFileUnits(const qem::Document& document, const qem::Float3& p);
qem::Float3 ToNormalised(const qem::Document& document, const qem::Float3& p);

}  // namespace engine
