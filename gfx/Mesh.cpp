#include "gfx/Mesh.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace gfx {

HRESULT Mesh::DrawSubset(Device& device, DWORD attribute) {
  if (attribute != 0) return D3D_OK;
  device.SetFVF(fvf);
  device.SetStreamSource(0, vertices.get(), 0, FvfStride(fvf));
  device.SetIndices(indices.get());
  return device.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, faceCount);
}

HRESULT D3DXCreateSphere(Device* device, float radius, UINT slices, UINT stacks, MeshPtr& mesh, void*) {
  mesh.reset();
  if (!device || radius < 0.0f || slices < 2 || stacks < 2) return D3DERR_INVALIDCALL;
  const UINT vertexCount = 2 + slices * (stacks - 1);
  const UINT faceCount = 2 * slices * (stacks - 1);
  if (vertexCount > 65536) return D3DERR_INVALIDCALL;

  struct Vertex {
    float x, y, z, nx, ny, nz;
  };
  std::vector<Vertex> vertices;
  vertices.reserve(vertexCount);
  vertices.push_back({0, 0, radius, 0, 0, 1});  // the top pole
  for (UINT stack = 1; stack < stacks; ++stack) {
    const float phi = std::numbers::pi_v<float> * static_cast<float>(stack) / stacks;
    for (UINT slice = 0; slice < slices; ++slice) {
      const float theta = 2 * std::numbers::pi_v<float> * static_cast<float>(slice) / slices;
      const float nx = std::sin(phi) * std::cos(theta), ny = std::sin(phi) * std::sin(theta);
      const float nz = std::cos(phi);
      vertices.push_back({radius * nx, radius * ny, radius * nz, nx, ny, nz});
    }
  }
  vertices.push_back({0, 0, -radius, 0, 0, -1});  // the bottom pole

  std::vector<std::uint16_t> indices;
  indices.reserve(faceCount * 3);
  auto ring = [slices](UINT stack, UINT slice) {
    return static_cast<std::uint16_t>(1 + (stack - 1) * slices + slice % slices);
  };
  // Direct3D's front faces: (b - a) x (c - a) points outwards.
  for (UINT slice = 0; slice < slices; ++slice) {
    indices.insert(indices.end(), {0, ring(1, slice), ring(1, slice + 1)});
  }
  for (UINT stack = 1; stack + 1 < stacks; ++stack) {
    for (UINT slice = 0; slice < slices; ++slice) {
      const auto a = ring(stack, slice), b = ring(stack, slice + 1);
      const auto c = ring(stack + 1, slice), d = ring(stack + 1, slice + 1);
      indices.insert(indices.end(), {a, c, b, b, c, d});
    }
  }
  const auto bottom = static_cast<std::uint16_t>(vertexCount - 1);
  for (UINT slice = 0; slice < slices; ++slice) {
    indices.insert(indices.end(), {bottom, ring(stacks - 1, slice + 1), ring(stacks - 1, slice)});
  }

  auto made = std::make_unique<Mesh>();
  made->vertexCount = vertexCount;
  made->faceCount = faceCount;
  HRESULT hr = device->CreateVertexBuffer(vertexCount * sizeof(Vertex), D3DUSAGE_WRITEONLY, made->fvf, D3DPOOL_MANAGED,
                                          made->vertices);
  if (Failed(hr)) return hr;
  hr = device->CreateIndexBuffer(faceCount * 3 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, made->indices);
  if (Failed(hr)) return hr;
  void* data = nullptr;
  hr = made->vertices->Lock(0, 0, &data, 0);
  if (Failed(hr)) return hr;
  std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
  hr = made->vertices->Unlock();
  if (Failed(hr)) return hr;
  hr = made->indices->Lock(0, 0, &data, 0);
  if (Failed(hr)) return hr;
  std::memcpy(data, indices.data(), indices.size() * 2);
  hr = made->indices->Unlock();
  if (Failed(hr)) return hr;
  mesh = std::move(made);
  return D3D_OK;
}

}  // namespace gfx
