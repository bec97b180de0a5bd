// qem-generate: writes a valid QEM mesh (a box of cubes split into tetrahedra or written
// as hexahedra, with frames of a travelling wave) for tests, samples and benchmarks.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Common_Code/Conversions.h"
#include "tools/qem-generate/Generate.h"

namespace {

void Usage(std::FILE* to) {
  std::fputs(
      "Usage: qem-generate [options] [output.qem]\n"
      "Writes a valid QEM mesh: a box of NX x NY x NZ cubes, each split into 6 tetrahedra\n"
      "(or written as one hexahedron of 12 triangles), with frames of a smooth wave\n"
      "travelling along x. The same options always give the same file. Without an output\n"
      "path the mesh goes to standard output.\n"
      "\n"
      "Options:\n"
      "  --size NX NY NZ   cubes along each axis (default 4 4 4)\n"
      "  --frames F        number of time frames (default 10)\n"
      "  --cube S          edge of one cube in file units (default 1)\n"
      "  --hex             hexahedra instead of tetrahedra\n"
      "  --jitter F        move every vertex inside the box by up to F of a cube along\n"
      "                    each axis (0 to below 0.25; default 0): an irregular mesh\n"
      "  --help            this text\n"
      "\n"
      "Bad arguments end with status 3 and a line saying which and why.\n"
      "\n"
      "About 1 million tetrahedra with 10 frames: --size 109 55 28 --frames 10\n",
      to);
}

bool Number(const char* text, std::uint32_t& out) { return ParseUnsigned(text, out, 10) == kParseOk; }

// A whole real number (the text read to its end) that is finite.
bool Real(const char* text, float& out) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || errno == ERANGE) return false;
  out = static_cast<float>(value);
  return std::isfinite(out);
}

// Bad arguments: the message and the usage status.
int Refuse(const char* message) {
  std::fprintf(stderr, "qem-generate: %s\n", message);
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  qemgen::Params params;
  const char* output = nullptr;
  char message[256];
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--size" && i + 3 < argc) {
      if (!Number(argv[i + 1], params.nx) || !Number(argv[i + 2], params.ny) || !Number(argv[i + 3], params.nz)) {
        std::snprintf(message, sizeof message, "--size %s %s %s: the sizes must be whole numbers below 2^32",
                      argv[i + 1], argv[i + 2], argv[i + 3]);
        return Refuse(message);
      }
      i += 3;
    } else if (arg == "--frames" && i + 1 < argc) {
      if (!Number(argv[++i], params.frames) || params.frames == 0) {
        std::snprintf(message, sizeof message,
                      "--frames %s: a mesh needs a whole number of at least 1 frame, below 2^32", argv[i]);
        return Refuse(message);
      }
    } else if (arg == "--cube" && i + 1 < argc) {
      if (!Real(argv[++i], params.cubeSize) || !(params.cubeSize > 0)) {
        std::snprintf(message, sizeof message, "--cube %s: the edge must be a positive finite number", argv[i]);
        return Refuse(message);
      }
    } else if (arg == "--jitter" && i + 1 < argc) {
      if (!Real(argv[++i], params.jitter) || !(params.jitter >= 0 && params.jitter < qemgen::kMaxJitter)) {
        std::snprintf(message, sizeof message,
                      "--jitter %s: the jitter must be a number from 0 to below 0.25 of a cube, or"
                      " tetrahedra turn inside out",
                      argv[i]);
        return Refuse(message);
      }
    } else if (arg == "--hex") {
      params.hexahedra = true;
    } else if (!arg.empty() && arg[0] != '-' && !output) {
      output = argv[i];
    } else {
      std::fprintf(stderr, "qem-generate: unknown or incomplete option %s\n", argv[i]);
      Usage(stderr);
      return 3;
    }
  }
  if (params.nx == 0 || params.ny == 0 || params.nz == 0) {
    return Refuse("--size: every size must be at least 1");
  }
  // The file's counts are 32-bit numbers; a larger box cannot be written as one mesh.
  // (Counted in double: three sizes near 2^32 overflow any integer product.)
  const double elements = static_cast<double>(params.nx) * params.ny * params.nz * (params.hexahedra ? 1 : 6);
  const double vertices = (params.nx + 1.0) * (params.ny + 1.0) * (params.nz + 1.0);
  if (elements > 4294967295.0 || vertices > 4294967295.0) {
    std::snprintf(message, sizeof message,
                  "--size %u %u %u: gives %.0f elements and %.0f vertices; a mesh holds at most 4294967295 of each",
                  params.nx, params.ny, params.nz, elements, vertices);
    return Refuse(message);
  }
  // The box must fit in float coordinates.
  const float largest = static_cast<float>(std::max({params.nx, params.ny, params.nz}));
  if (!std::isfinite(largest * params.cubeSize * (1 + params.jitter))) {
    return Refuse("--cube: the box is too large for float coordinates");
  }
  std::FILE* file = output ? std::fopen(output, "wb") : stdout;
  if (!file) {
    std::fprintf(stderr, "qem-generate: cannot write %s: %s\n", output, std::strerror(errno));
    return 1;
  }
  // Written in pieces: memory stays small however large the mesh.
  const bool written = qemgen::WriteQem(params, [file](std::string_view piece) {
    return std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
  });
  if (output ? std::fclose(file) != 0 || !written : std::fflush(file) != 0 || !written) {
    std::fprintf(stderr, "qem-generate: writing failed\n");
    return 1;
  }
  return 0;
}
