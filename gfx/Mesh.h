#pragma once
// A mesh in managed buffers, as D3DXCreateSphere makes it: positions and normals (FVF
// D3DFVF_XYZ | D3DFVF_NORMAL, 24 bytes) and 16-bit triangle indices, wound clockwise when
// seen from outside (the front faces of the default cull mode).

#include <memory>

#include "gfx/Device.h"

namespace gfx {

class Mesh {
 public:
  VertexBufferPtr vertices;
  IndexBufferPtr indices;
  DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL;
  UINT vertexCount = 0;
  UINT faceCount = 0;

  // Sets the buffers and format and draws every triangle.
  HRESULT DrawSubset(Device& device, DWORD attribute);
};

using MeshPtr = std::unique_ptr<Mesh>;

// A sphere of the given radius around the origin with slices around the z axis and stacks
// from pole to pole: 2 + slices x (stacks - 1) vertices, 2 x slices x (stacks - 1) faces.
// D3DERR_INVALIDCALL for radius < 0, slices < 2, stacks < 2 or more than 65536 vertices;
// otherwise the device's result when a buffer cannot be made or locked.
HRESULT D3DXCreateSphere(Device* device, float radius, UINT slices, UINT stacks, MeshPtr& mesh, void* adjacency);

}  // namespace gfx
