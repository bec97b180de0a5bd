#pragma once
// A generator of valid QEM texts for tests, samples and benchmarks: a box of nx x ny x nz
// cubes, each split into 6 tetrahedra around its main diagonal (neighbouring cubes share
// their faces with the same vertex numbers) or written as one hexahedron of 12 triangles,
// and a number of frames of a smooth wave travelling through the box. With a jitter the
// vertices inside the box move off the grid, so the mesh is irregular like a mesher's, while
// the box's faces stay flat. The output depends on the parameters only.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qemgen {

struct Params {
  std::uint32_t nx = 4, ny = 4, nz = 4;  // cubes along each axis
  std::uint32_t frames = 10;
  float cubeSize = 1.0f;  // file units
  bool hexahedra = false;
  // Each vertex inside the box moves by up to jitter x cubeSize along each axis, by an
  // amount drawn from its own number; below 0.25 no tetrahedron turns inside out.
  float jitter = 0.0f;
};

// The largest jitter that keeps every tetrahedron the right way out (exclusive).
inline constexpr float kMaxJitter = 0.25f;

// The number of elements the parameters give.
std::uint64_t ElementCount(const Params& params);
// The number of vertices the parameters give.
std::uint64_t VertexCount(const Params& params);

// The position of vertex (i, j, k) of the grid, in file units.
struct Position {
  float x, y, z;
};
Position VertexPosition(const Params& params, std::uint32_t i, std::uint32_t j, std::uint32_t k);

// The whole file as text.
std::string GenerateQem(const Params& params);

// The same text in pieces of about a megabyte, each handed to write in order; stops and
// returns false as soon as write does. Memory stays bounded whatever the size.
bool WriteQem(const Params& params, const std::function<bool(std::string_view)>& write);

}  // namespace qemgen
