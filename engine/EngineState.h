#pragma once
// The engine's state: one instance per process (engine::state), read and written by the
// engine's operations on the main thread only. engine::Engine itself carries no data.
// Each field is explained where the engine part that owns it uses it; the initial values
// are a freshly started program's. Tests may set fields directly and put everything back
// with ResetState.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Colour.h"
#include "gfx/Device.h"
#include "gfx/Math.h"
#include "qem/Document.h"

namespace engine {

// The vertex of every engine buffer: position and unit normal in normalised units, and the
// diffuse colour (A8R8G8B8, blue in the low byte). Format code 0x52, stride 28.
struct SceneVertex {
  float x = 0, y = 0, z = 0;
  float nx = 0, ny = 0, nz = 0;
  std::uint32_t colour = 0;
};
static_assert(sizeof(SceneVertex) == 28);
inline constexpr gfx::DWORD kSceneFvf = gfx::D3DFVF_XYZ | gfx::D3DFVF_NORMAL | gfx::D3DFVF_DIFFUSE;
static_assert(kSceneFvf == 0x52);

// Where one section vertex lies: on the edge from vertexA to vertexB, at fraction of its
// length (0 at vertexA).
struct SectionSource {
  std::uint32_t vertexA = 0;
  std::uint32_t vertexB = 0;
  float fraction = 0;
};
static_assert(sizeof(SectionSource) == 12);

inline constexpr float kSqrt3 = 1.7320508f;

// One vertex's share in a value interpolated over a triangle or an element.
struct ProbeWeight {
  std::uint32_t vertex = 0;
  float weight = 0;
};

// The elements of a document arranged for the section's search, made once per document:
// every element in the Morton order of its centre (elements near each other in space lie
// near each other in the arrays), a tetrahedron with its four vertex numbers beside it so
// that the search reads no element record; the entries in buckets of kSectionBucket with
// the bounding box of their vertices, and the buckets in groups of kSectionBucket with a
// box each. A plane rejects whole groups and buckets by their boxes and single elements by
// the plane's values at their vertices, reading contiguous memory throughout.
inline constexpr std::uint32_t kSectionBucket = 32;
struct SectionIndex {
  struct Box {
    float cx = 0, cy = 0, cz = 0;  // centre
    float ex = 0, ey = 0, ez = 0;  // half extents (infinite: never rejected)
  };
  // corners[0] of an entry that is not a plain tetrahedron: its element's own lists count.
  static constexpr std::uint32_t kNotTetrahedron = 0xFFFFFFFFu;
  const qem::Document* document = nullptr;
  std::vector<std::array<std::uint32_t, 4>> corners;  // ascending vertex numbers per entry
  std::vector<const qem::Element*> elements;
  std::vector<Box> buckets;  // bucket k: entries k x kSectionBucket on
  std::vector<Box> groups;   // group k: buckets k x kSectionBucket on
  // For the section's outline: which vertices lie on the mesh's boundary, the vertex
  // numbers of every boundary triangle, ascending, the triangles sorted, and the edges of
  // those triangles (the two vertex numbers, smaller one in the high half), sorted.
  std::vector<std::uint8_t> boundaryVertex;
  std::vector<std::array<std::uint32_t, 3>> boundaryFaces;
  std::vector<std::uint64_t> boundaryEdges;
};

struct State {
  // Camera and navigation.
  float rotationX = -0.3f;
  float rotationY = -0.7f;
  bool orthographic = false;
  bool playing = false;
  bool leftDrag = false;
  bool rightDrag = false;

  // Boundary rendering.
  gfx::VertexBufferPtr edgeBuffer;          // 3 vertices per boundary triangle
  std::uint32_t edgeTriangleCount = 0;      // N of the last build
  std::vector<std::uint32_t> edgeVertices;  // the vertex number of each entry, 3 N
  float displayTime = 0;
  bool cullingOn = true;
  bool wireOverlayOn = true;
  bool lightingOn = true;
  bool sectionShown = true;

  // Clip plane and cross-section.
  float clipDistance = kSqrt3;
  gfx::D3DXPLANE clipPlane{0, 0, 1, kSqrt3};
  std::vector<SectionSource> clipSources;  // one per section vertex
  std::vector<std::uint8_t> clipOutline;   // one per section vertex: gfx::kOutline* of its polygon
  SectionIndex sectionIndex;
  gfx::VertexBufferPtr clipVertexBuffer;
  gfx::IndexBufferPtr clipIndexBuffer;
  gfx::IndexBufferPtr clipWireBuffer;
  std::uint32_t clipVertexCapacity = 0;  // in vertices
  std::uint32_t clipIndexCapacity = 0;   // in indices
  std::uint32_t clipWireCapacity = 0;    // in indices
  // Both index buffers use this format: 16-bit while the section's vertices fit, 32-bit
  // once a section has more than 65 536 of them.
  gfx::D3DFORMAT clipIndexFormat = gfx::D3DFMT_INDEX16;
  std::uint32_t clipVertexCount = 0;
  std::uint32_t clipTriangleCount = 0;
  std::uint32_t clipLineCount = 0;
  std::uint32_t clipLargestPolygon = 0;  // corners of the section's largest polygon
  // Set by the drag steps, cleared by every section build: the section no longer matches
  // the rotation or the plane (RebuildDirtySection).
  bool sectionDirty = false;

  // Lifecycle.
  std::string documentPath;
  bool documentReady = false;
  float statusClock = 0;

  // Settings switched by commands and read nowhere else.
  bool wireframeMode = false;
  bool transparencyOn = false;
  bool mapOn = true;
  bool fogOn = true;
  bool flyOn = false;
  float numberSetting = 0;

  // Status display.
  std::string statusText;

  // The colours of the display time, shared by the boundary and the section.
  VertexColours vertexColours;

  // Reading the values.
  // The view's magnification (the wheel): 1 is the whole cube's width, 0.1 ... 100.
  float zoom = 1;
  // The colour legend at the right edge ("Engine/Legend", the legend command).
  bool legendShown = false;
  // The probed point (normalised units) and its value as weights of vertex values, so the
  // value follows the display time; no weights: no probe.
  qem::Float3 probePoint;
  std::vector<ProbeWeight> probeWeights;
  // A screenshot the next frame saves (F12, the screenshot command); an empty name is
  // made from the mesh file's name and the time.
  bool screenshotPending = false;
  std::string screenshotName;
};

extern State state;

// Every field back to its initial value (device buffers released).
void ResetState();

// The loaded document: the loader's current document, or the one a test installed. Read it
// only while documentReady is true.
const qem::Document* CurrentDocument();
// The loader's stage (5 = finished), or 5 while a test's document is installed.
std::int32_t CurrentLoadStage();

namespace test_seam {
// Makes document the engine's document as if the loader had finished with it (null: back
// to the loader's).
void InstallDocument(const qem::Document* document);
}  // namespace test_seam

}  // namespace engine
