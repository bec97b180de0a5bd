#include "tools/qem-generate/Generate.h"

#include <charconv>
#include <cmath>

namespace qemgen {

namespace {

class Writer {
 public:
  explicit Writer(std::string& target) : out(target) {}

  void Text(const char* text) { out += text; }
  void Char(char c) { out += c; }
  void Unsigned(std::uint64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
  }
  // The shortest text that reads back as the same float.
  void Float(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
  }

 private:
  std::string& out;
};

}  // namespace

std::uint64_t ElementCount(const Params& p) {
  return std::uint64_t{p.nx} * p.ny * p.nz * (p.hexahedra ? 1 : 6);
}

std::string GenerateQem(const Params& p) {
  const std::uint64_t px = std::uint64_t{p.nx} + 1, py = std::uint64_t{p.ny} + 1, pz = std::uint64_t{p.nz} + 1;
  const std::uint64_t vertexCount = px * py * pz;
  auto index = [&](std::uint64_t i, std::uint64_t j, std::uint64_t k) { return (k * py + j) * px + i; };

  std::string text;
  text.reserve(static_cast<std::size_t>(vertexCount * (24 + 10 * p.frames) + ElementCount(p) * 60 + 64));
  Writer w(text);
  w.Text("QEM\nVERTICES ");
  w.Unsigned(vertexCount);
  w.Char('\n');
  for (std::uint64_t k = 0; k < pz; ++k) {
    for (std::uint64_t j = 0; j < py; ++j) {
      for (std::uint64_t i = 0; i < px; ++i) {
        w.Float(static_cast<float>(i) * p.cubeSize);
        w.Char(' ');
        w.Float(static_cast<float>(j) * p.cubeSize);
        w.Char(' ');
        w.Float(static_cast<float>(k) * p.cubeSize);
        w.Char('\n');
      }
    }
  }

  w.Text("ELEMENTS ");
  w.Unsigned(ElementCount(p));
  w.Char('\n');
  auto triangle = [&](std::uint64_t a, std::uint64_t b, std::uint64_t c, bool last) {
    w.Unsigned(a);
    w.Char(' ');
    w.Unsigned(b);
    w.Char(' ');
    w.Unsigned(c);
    w.Text(last ? "\n" : "  ");
  };
  // The cube's corners by bit: bit 0 = +x, bit 1 = +y, bit 2 = +z.
  static constexpr int kPaths[6][2] = {{1, 3}, {1, 5}, {2, 3}, {2, 6}, {4, 5}, {4, 6}};
  static constexpr int kFaces[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                       {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
  for (std::uint64_t k = 0; k < p.nz; ++k) {
    for (std::uint64_t j = 0; j < p.ny; ++j) {
      for (std::uint64_t i = 0; i < p.nx; ++i) {
        std::uint64_t corner[8];
        for (int b = 0; b < 8; ++b) corner[b] = index(i + (b & 1), j + ((b >> 1) & 1), k + ((b >> 2) & 1));
        if (p.hexahedra) {
          // Each face split along the diagonal from its lowest-numbered corner, so that
          // the neighbour writes the same two triangles.
          for (int f = 0; f < 6; ++f) {
            const std::uint64_t q0 = corner[kFaces[f][0]], q1 = corner[kFaces[f][1]];
            const std::uint64_t q2 = corner[kFaces[f][2]], q3 = corner[kFaces[f][3]];
            triangle(q0, q1, q2, false);
            triangle(q0, q2, q3, f == 5);
          }
          continue;
        }
        // Six tetrahedra along the paths from corner 0 to corner 7.
        for (const auto& path : kPaths) {
          const std::uint64_t a = corner[0], b = corner[path[0]], c = corner[path[1]], d = corner[7];
          triangle(a, c, b, false);
          triangle(a, b, d, false);
          triangle(b, c, d, false);
          triangle(a, d, c, true);
        }
      }
    }
  }

  w.Text("FRAMES ");
  w.Unsigned(p.frames);
  w.Char('\n');
  const float lx = static_cast<float>(p.nx) * p.cubeSize;
  const float ly = static_cast<float>(p.ny) * p.cubeSize;
  const float lz = static_cast<float>(p.nz) * p.cubeSize;
  constexpr float kTwoPi = 6.28318530718f;
  for (std::uint32_t f = 0; f < p.frames; ++f) {
    const float t = static_cast<float>(f) * 0.1f;
    w.Float(t);
    w.Char('\n');
    std::uint32_t onLine = 0;
    for (std::uint64_t k = 0; k < pz; ++k) {
      for (std::uint64_t j = 0; j < py; ++j) {
        for (std::uint64_t i = 0; i < px; ++i) {
          const float x = static_cast<float>(i) * p.cubeSize / (lx > 0 ? lx : 1);
          const float y = static_cast<float>(j) * p.cubeSize / (ly > 0 ? ly : 1);
          const float z = static_cast<float>(k) * p.cubeSize / (lz > 0 ? lz : 1);
          const float phase = kTwoPi * (x - t);
          float value = 50.0f * std::sin(phase) * std::cos(0.5f * kTwoPi * (y - 0.5f)) + 20.0f * z;
          value = std::round(value * 1000.0f) / 1000.0f;
          if (value == 0) value = 0;  // no "-0" in the file
          w.Float(value);
          if (++onLine == 10) {
            w.Char('\n');
            onLine = 0;
          } else {
            w.Char(' ');
          }
        }
      }
    }
    if (onLine != 0) w.Char('\n');
  }
  return text;
}

}  // namespace qemgen
