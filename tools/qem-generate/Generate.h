#pragma once
// A generator of valid QEM texts for tests, samples and benchmarks: a box of nx x ny x nz
// cubes, each split into 6 tetrahedra around its main diagonal (neighbouring cubes share
// their faces with the same vertex numbers) or written as one hexahedron of 12 triangles,
// and a number of frames of a smooth wave travelling through the box. The output depends
// on the parameters only.

#include <cstdint>
#include <string>

namespace qemgen {

struct Params {
  std::uint32_t nx = 4, ny = 4, nz = 4;  // cubes along each axis
  std::uint32_t frames = 10;
  float cubeSize = 1.0f;  // file units
  bool hexahedra = false;
};

// The number of elements the parameters give.
std::uint64_t ElementCount(const Params& params);

// The whole file as text.
std::string GenerateQem(const Params& params);

}  // namespace qemgen
