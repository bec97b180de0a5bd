#pragma once
// The clip plane and the cross-section. The plane stays fixed relative to the camera
// (state.clipPlane, world coordinates; the device keeps the side where its value is >= 0),
// moved along the view axis by the right-button drag. GenerateClipBuffers cuts every
// element the plane crosses (found through the document's SectionIndex), orders each
// element's cut points into a convex polygon, and writes the section's vertex buffer, its fan triangles and its
// outline into device buffers that only grow. RecolourSection rewrites the colours when
// the display time changes. Main thread only; failures go to the global error trace.
//
// Index width: 16-bit indices while a section has at most 65 536 vertices; a larger one
// switches both index buffers to 32-bit indices for the rest of the device's life, so big
// meshes are cut correctly.

#include <cstdint>
#include <vector>

#include "engine/EngineState.h"
#include "engine/Geometry.h"

namespace engine {

// The cut of the document by plane P (model coordinates, normalised): per element one
// polygon of its cut points in angular order around s, as a fan of triangles and a closed
// outline. A cut point is either a vertex the plane passes through (source vertexA ==
// vertexB, fraction 0) or the crossing of an edge between two vertices on opposite sides
// (vertexA < vertexB, fraction from vertexA), computed from the edge's lower-numbered end
// so that every element sharing the edge gets the same bits: neighbouring polygons share
// their corners exactly and the section has no cracks. Points are merged only when they are
// the same point of the mesh. The arrays are cleared first. Main thread only (it keeps
// working memory between calls).
struct SectionGeometry {
  std::vector<Vec3> positions;
  std::vector<SectionSource> sources;
  std::vector<std::uint32_t> triangles;  // 3 indices each
  std::vector<std::uint32_t> outline;    // 2 indices each
  // Per position: gfx::kOutlineFirst at a polygon's first corner, plus whether a polygon
  // lies across the edge to the next corner (gfx::kOutlineHalf) or the edge lies on the
  // mesh's boundary (gfx::kOutlineWhole), for Device::DrawIndexedOutline.
  std::vector<std::uint8_t> edges;
};
// threads 2 lets a second thread cut half of a large section (the result is the same).
void CutDocument(const SectionIndex& index, const qem::Document& document, const Plane& P, const Vec3& s,
                 SectionGeometry& out, int threads = 1);

// index made for document (kept when it already is). Independent of the octree: the
// elements are sorted by the Morton code of their centres and grouped in boxes.
void BuildSectionIndex(const qem::Document& document, SectionIndex& index);

// state.clipPlane expressed in the mesh's own coordinates (the world rotation undone),
// normalised.
Plane ModelClipPlane();

// Rebuilds the section for the current rotation, plane and display time, and clears
// state.sectionDirty. Failures: the create or lock message of the buffer concerned, then
// this function's location (file Engine).
void GenerateClipBuffers();

// The rebuild of a drag: GenerateClipBuffers when state.sectionDirty is set, else nothing.
// Drag steps only mark the section dirty; the engine calls this once before drawing a
// frame, so a burst of mouse moves costs one rebuild, with the picture the last move
// asks for.
void RebuildDirtySection();

// Rewrites the section's colours for state.displayTime. A failed lock records "Nie można
// zablokować bufora wierzchołków obcięcia 1" only.
void RecolourSection();

// The right-button drag step: clipDistance moves by (dx + dy) / 1000 within [-sqrt 3,
// sqrt 3], the section is marked dirty (RebuildDirtySection) and the status refreshed.
void MoveClipPlane(int dx, int dy);

// clipDistance copied into clipPlane, the plane normalised.
void UpdateClipPlane();

}  // namespace engine
