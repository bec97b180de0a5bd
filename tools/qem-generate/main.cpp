// qem-generate: writes a valid QEM mesh (a box of cubes split into tetrahedra or written
// as hexahedra, with frames of a travelling wave) for tests, samples and benchmarks.

#include <cstdio>
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
      "  --help            this text\n"
      "\n"
      "About 1 million tetrahedra with 10 frames: --size 109 55 28 --frames 10\n",
      to);
}

bool Number(const char* text, std::uint32_t& out) { return ParseUnsigned(text, out, 10) == kParseOk; }

}  // namespace

int main(int argc, char** argv) {
  qemgen::Params params;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--size" && i + 3 < argc) {
      if (!Number(argv[i + 1], params.nx) || !Number(argv[i + 2], params.ny) || !Number(argv[i + 3], params.nz)) {
        std::fputs("qem-generate: --size needs three whole numbers\n", stderr);
        return 2;
      }
      i += 3;
    } else if (arg == "--frames" && i + 1 < argc) {
      if (!Number(argv[++i], params.frames)) {
        std::fputs("qem-generate: --frames needs a whole number\n", stderr);
        return 2;
      }
    } else if (arg == "--cube" && i + 1 < argc) {
      params.cubeSize = ToFloat(argv[++i]);
    } else if (arg == "--hex") {
      params.hexahedra = true;
    } else if (!arg.empty() && arg[0] != '-' && !output) {
      output = argv[i];
    } else {
      std::fprintf(stderr, "qem-generate: unknown or incomplete option %s\n", argv[i]);
      Usage(stderr);
      return 2;
    }
  }
  if (params.nx == 0 || params.ny == 0 || params.nz == 0) {
    std::fputs("qem-generate: every size must be at least 1\n", stderr);
    return 2;
  }
  const std::string text = qemgen::GenerateQem(params);
  std::FILE* file = output ? std::fopen(output, "wb") : stdout;
  if (!file) {
    std::fprintf(stderr, "qem-generate: cannot write %s: %s\n", output, std::strerror(errno));
    return 1;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (output ? std::fclose(file) != 0 || !written : std::fflush(file) != 0 || !written) {
    std::fprintf(stderr, "qem-generate: writing failed\n");
    return 1;
  }
  return 0;
}
