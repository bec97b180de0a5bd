#pragma once
// The GL device's resources: managed-pool buffers and textures over GL objects. Internal to
// the GL backend (GLDevice.cpp); nothing above gfx/ sees a GL name.
//
// A GL name is deleted only while its device lives: handles may be released after the
// device, when the context and everything in it are gone already.

#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "gfx/Device.h"
#include "gfx/WireEdges.h"

namespace gfx::gl {

// Shared by the device and its resources. A released resource is also forgotten by the
// device's current state, so that no later draw uses it (Direct3D keeps what is set alive
// by reference counting; here the device simply lets go).
struct Liveness {
  bool alive = true;
  std::function<void(const void*)> forget;
};

// Vertices keep a copy in memory, as the managed pool does: Lock gives it, Unlock uploads
// the locked range. The wireframe's line lists are built from the positions in it.
class GLVertexBuffer final : public VertexBuffer {
 public:
  // The outline pass reads up to five vertices of at most kLargestOutlineStride bytes past
  // the last one: the GL buffer has that many zero bytes more than the vertex buffer, so
  // that no read leaves it.
  static constexpr UINT kLargestOutlineStride = 64;
  static constexpr UINT kTail = 5 * kLargestOutlineStride;

  GLVertexBuffer(std::shared_ptr<Liveness> live, UINT length, DWORD fvf)
      : live(std::move(live)), bytes(length, 0), fvf(fvf) {
    glGenBuffers(1, &name);
    glBindBuffer(GL_ARRAY_BUFFER, name);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr{length} + kTail, nullptr, GL_STATIC_DRAW);
    const std::array<unsigned char, kTail> zeros{};
    glBufferSubData(GL_ARRAY_BUFFER, length, kTail, zeros.data());
  }
  ~GLVertexBuffer() override {
    if (!live->alive) return;
    live->forget(static_cast<const VertexBuffer*>(this));
    glDeleteBuffers(1, &name);
    glDeleteBuffers(1, &edgeName);
    glDeleteTextures(1, &planeTexture);
  }
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD) override {
    if (!data || locked) return D3DERR_INVALIDCALL;
    if (size == 0) size = Length() - std::min(offset, Length());
    if (offset > Length() || size > Length() - offset || size == 0) return D3DERR_INVALIDCALL;
    locked = true;
    lockOffset = offset;
    lockSize = size;
    *data = bytes.data() + offset;
    return D3D_OK;
  }
  HRESULT Unlock() override {
    if (!locked || !live->alive) return D3DERR_INVALIDCALL;
    locked = false;
    glBindBuffer(GL_ARRAY_BUFFER, name);
    glBufferSubData(GL_ARRAY_BUFFER, lockOffset, lockSize, bytes.data() + lockOffset);
    // Recolouring leaves the positions alone: the neighbours' planes stay valid then.
    if (edgeCount && !SamePositions()) edgeKey = {};
    return D3D_OK;
  }
  UINT Length() const override { return static_cast<UINT>(bytes.size()); }
  DWORD Fvf() const override { return fvf; }

  // A buffer texture of the planes (Cross4, WireEdges.h) of count triangles from byte offset
  // on and of their neighbours: four RGBA32F texels per triangle, its own plane and those of
  // the triangles across its edges a-b, b-c and c-a in their own winding, all zero where
  // there is none (AdjacencyOfTriangleList).
  GLuint Planes(UINT offset, UINT stride, UINT count) {
    const EdgeKey key{offset, stride, count};
    if (!(edgeKey == key)) {
      std::vector<std::uint32_t> adjacency;
      if (stride >= 12 && offset <= bytes.size() && count <= (bytes.size() - offset) / stride / 3) {
        AdjacencyOfTriangleList(bytes.data() + offset, stride, count, adjacency);
      }
      auto point = [&](std::uint32_t vertex) {
        std::array<float, 4> p{0, 0, 0, 1};
        std::memcpy(p.data(), bytes.data() + offset + static_cast<std::size_t>(vertex) * stride, 12);
        return p;
      };
      std::vector<float> planes(std::max<std::size_t>(adjacency.size() / 6 * 16, 4), 0.0f);
      for (std::size_t t = 0; t < adjacency.size() / 6; ++t) {
        const std::uint32_t* corners = &adjacency[6 * t];
        float* out = &planes[16 * t];
        Cross4(point(corners[0]).data(), point(corners[2]).data(), point(corners[4]).data(), out);
        for (int k = 0; k < 3; ++k) {
          // Edge k runs from corner k to corner k + 1; the neighbour runs it back.
          const std::uint32_t a = corners[2 * k], b = corners[(2 * k + 2) % 6], across = corners[2 * k + 1];
          if (across != a) Cross4(point(b).data(), point(a).data(), point(across).data(), out + 4 * (k + 1));
        }
      }
      if (!edgeName) glGenBuffers(1, &edgeName);
      glBindBuffer(GL_TEXTURE_BUFFER, edgeName);
      glBufferData(GL_TEXTURE_BUFFER, static_cast<GLsizeiptr>(planes.size() * 4), planes.data(), GL_STATIC_DRAW);
      if (!planeTexture) glGenTextures(1, &planeTexture);
      glBindTexture(GL_TEXTURE_BUFFER, planeTexture);
      glTexBuffer(GL_TEXTURE_BUFFER, GL_RGBA32F, edgeName);
      edgeKey = key;
      edgeCount = static_cast<GLsizei>(adjacency.size());
      edgePositions.clear();
      edgePositions.reserve(static_cast<std::size_t>(count) * 3);
      for (std::size_t i = 0; i < edgePositions.capacity() && !adjacency.empty(); ++i) {
        Position p;
        std::memcpy(p.data(), bytes.data() + offset + i * stride, 12);
        edgePositions.push_back(p);
      }
    }
    return planeTexture;
  }

  std::shared_ptr<Liveness> live;
  GLuint name = 0;
  std::vector<std::uint8_t> bytes;
  DWORD fvf;
  bool locked = false;
  UINT lockOffset = 0, lockSize = 0;

 private:
  struct EdgeKey {
    UINT offset = ~0u, stride = 0, count = 0;
    bool operator==(const EdgeKey&) const = default;
  };
  using Position = std::array<std::uint32_t, 3>;

  bool SamePositions() const {
    for (std::size_t i = 0; i < edgePositions.size(); ++i) {
      if (std::memcmp(edgePositions[i].data(), bytes.data() + edgeKey.offset + i * edgeKey.stride, 12) != 0) {
        return false;
      }
    }
    return true;
  }

  GLuint edgeName = 0, planeTexture = 0;
  EdgeKey edgeKey;
  GLsizei edgeCount = 0;
  std::vector<Position> edgePositions;  // of the vertices the planes were built from
};

// Indices keep a copy in memory (as the managed pool does): the wireframe's line lists
// are built from it. The locked part goes to GL when a draw first uses it, so a list that
// is written but not drawn costs no upload.
class GLIndexBuffer final : public IndexBuffer {
 public:
  GLIndexBuffer(std::shared_ptr<Liveness> live, UINT length, D3DFORMAT format)
      : live(std::move(live)), bytes(length, 0), format(format), staleBegin(0), staleEnd(length) {
    glGenBuffers(1, &name);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, name);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, length, nullptr, GL_STATIC_DRAW);
  }
  ~GLIndexBuffer() override {
    if (!live->alive) return;
    live->forget(static_cast<const IndexBuffer*>(this));
    glDeleteBuffers(1, &name);
    glDeleteBuffers(1, &edgeName);
  }
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD) override {
    if (!data || locked) return D3DERR_INVALIDCALL;
    if (offset > bytes.size() || (size != 0 && size > bytes.size() - offset)) {
      return D3DERR_INVALIDCALL;
    }
    locked = true;
    const std::size_t end = size == 0 ? bytes.size() : std::size_t{offset} + size;
    staleBegin = std::min(staleBegin, std::size_t{offset});
    staleEnd = std::max(staleEnd, end);
    *data = bytes.data() + offset;
    return D3D_OK;
  }
  HRESULT Unlock() override {
    if (!locked || !live->alive) return D3DERR_INVALIDCALL;
    locked = false;
    edgeKey = {~0u, ~0u};
    return D3D_OK;
  }
  // The GL buffer, with what was written since the last draw uploaded.
  GLuint Uploaded() {
    if (staleBegin < staleEnd) {
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, name);
      glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLintptr>(staleBegin),
                      static_cast<GLsizeiptr>(staleEnd - staleBegin), bytes.data() + staleBegin);
      staleBegin = bytes.size();
      staleEnd = 0;
    }
    return name;
  }
  UINT Length() const override { return static_cast<UINT>(bytes.size()); }
  D3DFORMAT Format() const override { return format; }
  UINT IndexSize() const { return format == D3DFMT_INDEX32 ? 4 : 2; }

  // The GL buffer of the edge list (WireEdges.h) of triangles [startIndex, startIndex + 3 count).
  GLuint Edges(UINT startIndex, UINT count, GLsizei& lineIndices) {
    if (edgeKey != std::pair<UINT, UINT>{startIndex, count}) {
      std::vector<std::uint32_t> lines;
      const std::size_t available = bytes.size() / IndexSize();
      if (startIndex + 3ull * count > available) count = 0;
      if (format == D3DFMT_INDEX32) {
        UniqueEdgesOfIndexedTriangles(reinterpret_cast<const std::uint32_t*>(bytes.data()) + startIndex, count, lines);
      } else {
        UniqueEdgesOfIndexedTriangles(reinterpret_cast<const std::uint16_t*>(bytes.data()) + startIndex, count, lines);
      }
      if (!edgeName) glGenBuffers(1, &edgeName);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, edgeName);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(lines.size() * 4), lines.data(), GL_STATIC_DRAW);
      edgeKey = {startIndex, count};
      edgeCount = static_cast<GLsizei>(lines.size());
    }
    lineIndices = edgeCount;
    return edgeName;
  }

  std::shared_ptr<Liveness> live;
  GLuint name = 0;
  std::vector<std::uint8_t> bytes;
  D3DFORMAT format;
  bool locked = false;
  std::size_t staleBegin, staleEnd;  // bytes written since the last upload (none: begin > end)
  GLuint edgeName = 0;
  std::pair<UINT, UINT> edgeKey{~0u, ~0u};
  GLsizei edgeCount = 0;
};

class GLTexture final : public Texture {
 public:
  GLTexture(std::shared_ptr<Liveness> live, UINT width, UINT height, D3DFORMAT format)
      : live(std::move(live)),
        width(width),
        height(height),
        format(format),
        bytes(static_cast<std::size_t>(width) * height * PixelSize(), 0) {
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    Upload();
    if (format == D3DFMT_A8) {
      // Direct3D reads an alpha-only texture as (0, 0, 0, a).
      const GLint swizzle[4] = {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED};
      glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  }
  ~GLTexture() override {
    if (!live->alive) return;
    live->forget(static_cast<const Texture*>(this));
    glDeleteTextures(1, &name);
  }
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* rect, DWORD) override {
    if (!rect || level != 0 || locked) return D3DERR_INVALIDCALL;
    locked = true;
    rect->Pitch = static_cast<INT>(width * PixelSize());
    rect->pBits = bytes.data();
    return D3D_OK;
  }
  HRESULT UnlockRect(UINT level) override {
    if (level != 0 || !locked || !live->alive) return D3DERR_INVALIDCALL;
    locked = false;
    glBindTexture(GL_TEXTURE_2D, name);
    Upload();
    return D3D_OK;
  }
  UINT Width() const override { return width; }
  UINT Height() const override { return height; }
  D3DFORMAT Format() const override { return format; }
  UINT PixelSize() const { return format == D3DFMT_A8 ? 1 : 4; }

  void Upload() {
    // Rows of an alpha atlas are not 4-byte aligned.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (format == D3DFMT_A8) {
      glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, width, height, 0, GL_RED, GL_UNSIGNED_BYTE, bytes.data());
    } else {
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, bytes.data());
    }
  }

  std::shared_ptr<Liveness> live;
  GLuint name = 0;
  UINT width, height;
  D3DFORMAT format;
  std::vector<std::uint8_t> bytes;
  bool locked = false;
};

}  // namespace gfx::gl
