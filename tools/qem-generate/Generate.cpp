#include "tools/qem-generate/Generate.h"

#include <charconv>
#include <cmath>
#include <functional>

namespace qemgen {

namespace {

// Text appended to a buffer that goes to the output whenever it passes a megabyte.
class Writer {
 public:
  Writer(std::string& buffer, const std::function<bool(std::string_view)>* write) : out(buffer), write(write) {}

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
  // Hands the buffer on once it is large (always, when last); false once the output failed.
  bool Flush(bool last = false) {
    if (!write || failed) return !failed;
    if (last || out.size() >= kPiece) {
      if (!out.empty() && !(*write)(out)) failed = true;
      out.clear();
    }
    return !failed;
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::string& out;
  const std::function<bool(std::string_view)>* write;
  bool failed = false;
};

// A number in [-1, 1) drawn from n alone (splitmix64), the same on every machine.
double Draw(std::uint64_t n) {
  std::uint64_t z = n + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

bool WriteText(const Params& p, Writer& w);

}  // namespace

std::uint64_t ElementCount(const Params& p) { return std::uint64_t{p.nx} * p.ny * p.nz * (p.hexahedra ? 1 : 6); }

std::uint64_t VertexCount(const Params& p) {
  return (std::uint64_t{p.nx} + 1) * (std::uint64_t{p.ny} + 1) * (std::uint64_t{p.nz} + 1);
}

Position VertexPosition(const Params& p, std::uint32_t i, std::uint32_t j, std::uint32_t k) {
  const bool inside = i > 0 && i < p.nx && j > 0 && j < p.ny && k > 0 && k < p.nz;
  if (p.jitter == 0 || !inside) {
    return {static_cast<float>(i) * p.cubeSize, static_cast<float>(j) * p.cubeSize, static_cast<float>(k) * p.cubeSize};
  }
  const std::uint64_t n = (std::uint64_t{k} * (std::uint64_t{p.ny} + 1) + j) * (std::uint64_t{p.nx} + 1) + i;
  const double size = p.cubeSize, jitter = p.jitter;
  return {static_cast<float>((i + jitter * Draw(3 * n)) * size),
          static_cast<float>((j + jitter * Draw(3 * n + 1)) * size),
          static_cast<float>((k + jitter * Draw(3 * n + 2)) * size)};
}

std::string GenerateQem(const Params& p) {
  std::string text;
  text.reserve(static_cast<std::size_t>(VertexCount(p) * (24 + 10 * p.frames) + ElementCount(p) * 60 + 64));
  Writer w(text, nullptr);
  WriteText(p, w);
  return text;
}

bool WriteQem(const Params& p, const std::function<bool(std::string_view)>& write) {
  std::string buffer;
  buffer.reserve(std::size_t{1} << 21);
  Writer w(buffer, &write);
  return WriteText(p, w);
}

namespace {

bool WriteText(const Params& p, Writer& w) {
  const std::uint64_t px = std::uint64_t{p.nx} + 1, py = std::uint64_t{p.ny} + 1, pz = std::uint64_t{p.nz} + 1;
  auto index = [&](std::uint64_t i, std::uint64_t j, std::uint64_t k) { return (k * py + j) * px + i; };

  w.Text("QEM\nVERTICES ");
  w.Unsigned(VertexCount(p));
  w.Char('\n');
  for (std::uint32_t k = 0; k < pz; ++k) {
    for (std::uint32_t j = 0; j < py; ++j) {
      for (std::uint32_t i = 0; i < px; ++i) {
        const Position q = VertexPosition(p, i, j, k);
        w.Float(q.x);
        w.Char(' ');
        w.Float(q.y);
        w.Char(' ');
        w.Float(q.z);
        w.Char('\n');
      }
    }
    if (!w.Flush()) return false;
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
  // Each face's corners run counter-clockwise seen from outside the cube, so every
  // triangle's normal ((b - a) x (c - a)) points out of its element.
  static constexpr int kFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                       {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
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
        // Six tetrahedra along the paths from corner 0 to corner 7. Half the paths turn the
        // other way round the diagonal (0, 1, 5 against 0, 1, 3); their middle corners are
        // swapped so that every tetrahedron's triangles face out of it.
        for (const auto& path : kPaths) {
          const bool turned =
              (path[0] == 1 && path[1] == 5) || (path[0] == 2 && path[1] == 3) || (path[0] == 4 && path[1] == 6);
          const std::uint64_t a = corner[0], d = corner[7];
          const std::uint64_t b = corner[turned ? path[1] : path[0]], c = corner[turned ? path[0] : path[1]];
          triangle(a, c, b, false);
          triangle(a, b, d, false);
          triangle(b, c, d, false);
          triangle(a, d, c, true);
        }
      }
    }
    if (!w.Flush()) return false;
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
      if (!w.Flush()) return false;
    }
    if (onLine != 0) w.Char('\n');
  }
  return w.Flush(true);
}

}  // namespace

}  // namespace qemgen
