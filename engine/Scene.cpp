#include "engine/Scene.h"

#include <algorithm>

#include <cstring>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "engine/Camera.h"
#include "engine/Colour.h"
#include "engine/EngineLocation.h"
#include "engine/EngineState.h"
#include "framework/FrameObject.h"

namespace engine {

using namespace gfx;

namespace {

constexpr UINT kSceneStride = sizeof(SceneVertex);

// Positions and normals of every boundary triangle, corners in the order that makes the
// normal point away from the owning element's centre; the vertex number of each entry goes
// to state.edgeVertices for the colours.
void FillEdgeVertices(const qem::Document& document, SceneVertex* out) {
  const std::size_t n = document.boundaryTriangles.size();
  state.edgeVertices.resize(3 * n);
  std::uint32_t* corners = state.edgeVertices.data();
  for (std::size_t k = 0; k < n; ++k) {
    const qem::Triangle& triangle = *document.boundaryTriangles[k];
    const qem::Element& element = *document.boundaryElements[k];
    const qem::Vertex& a = document.vertices[triangle.a];
    const qem::Vertex& b = document.vertices[triangle.b];
    const qem::Vertex& c = document.vertices[triangle.c];
    const D3DXVECTOR3 p0{a.x, a.y, a.z}, p1{b.x, b.y, b.z}, p2{c.x, c.y, c.z};
    D3DXPLANE plane;
    D3DXPlaneFromPoints(&plane, &p0, &p1, &p2);
    D3DXVECTOR3 normal{plane.a, plane.b, plane.c};
    D3DXVec3Normalize(&normal, &normal);
    const D3DXVECTOR3 outward = p0 - D3DXVECTOR3{element.centre.x, element.centre.y, element.centre.z};
    std::uint32_t order[3] = {triangle.a, triangle.b, triangle.c};
    if (D3DXVec3Dot(&normal, &outward) < 0) {
      normal = normal * -1.0f;
      order[0] = triangle.c;
      order[2] = triangle.a;
    }
    for (int j = 0; j < 3; ++j) {
      const qem::Vertex& p = document.vertices[order[j]];
      SceneVertex vertex;
      vertex.x = p.x;
      vertex.y = p.y;
      vertex.z = p.z;
      vertex.nx = normal.x;
      vertex.ny = normal.y;
      vertex.nz = normal.z;
      std::memcpy(out + 3 * k + j, &vertex, sizeof vertex);
      corners[3 * k + j] = order[j];
    }
  }
}

// The colour of every entry at the display time, in the corner order of the build.
void ColourEdgeVertices(const qem::Document& document, unsigned char* bytes) {
  VertexColours& colourOf = state.vertexColours;
  colourOf.Begin(document, state.displayTime);
  const std::uint32_t* corners = state.edgeVertices.data();
  const std::size_t count = state.edgeVertices.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t colour = colourOf(corners[i]);
    std::memcpy(bytes + i * kSceneStride + offsetof(SceneVertex, colour), &colour, 4);
  }
}

}  // namespace

void GenerateEdgeBuffers() {
  state.edgeBuffer.reset();
  state.edgeTriangleCount = 0;
  state.edgeVertices.clear();
  const qem::Document* document = CurrentDocument();
  Device* device = frame::GetDevice();
  if (document && device) {
    const auto n = static_cast<UINT>(document->boundaryTriangles.size());
    // A mesh can have no boundary at all (every face shared, as by an element written
    // twice); a buffer of no bytes cannot be made, so it gets room for one triangle and
    // draws none, rather than ending the program over a valid document.
    HRESULT hr = device->CreateVertexBuffer(std::max(n, 1u) * 84, 0, kSceneFvf, D3DPOOL_MANAGED, state.edgeBuffer);
    if (Failed(hr)) {
      state.edgeBuffer.reset();
      ErrorRaiseDirectX(hr, "Nie można utworzyć bufora wierzchołków do brzegów"_cp, "", 0);
    } else {
      state.edgeTriangleCount = n;
      void* data = nullptr;
      hr = state.edgeBuffer->Lock(0, 0, &data, D3DLOCK_NOOVERWRITE);
      if (Failed(hr)) {
        ErrorRaiseDirectX(hr, "Nie można zablokować bufora wierzchołków do brzegów"_cp, "", 0);
      } else {
        FillEdgeVertices(*document, static_cast<SceneVertex*>(data));
        ColourEdgeVertices(*document, static_cast<unsigned char*>(data));
        state.edgeBuffer->Unlock();
      }
    }
  }
  if (ErrorPending()) ENGINE_ADD_LOCATION();
}

void RecolourEdges() {
  const qem::Document* document = CurrentDocument();
  if (!state.edgeBuffer || !document) return;
  void* data = nullptr;
  const HRESULT hr = state.edgeBuffer->Lock(0, 0, &data, 0);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można zablokować bufora wierzchołków 1"_cp, "", 0);
    return;
  }
  ColourEdgeVertices(*document, static_cast<unsigned char*>(data));
  state.edgeBuffer->Unlock();
}

void DrawScene() {
  Device* device = frame::GetDevice();
  if (!state.edgeBuffer || !device) return;
  const frame::DisplayMode mode = frame::GetDisplayMode();
  const SceneMatrices matrices =
      ComputeSceneMatrices(static_cast<unsigned>(mode.width), static_cast<unsigned>(mode.height));
  device->SetTransform(D3DTS_WORLD, matrices.world);
  device->SetTransform(D3DTS_VIEW, matrices.view);
  device->SetTransform(D3DTS_PROJECTION, matrices.projection);

  if (state.lightingOn) {
    D3DMATERIAL9 material;
    material.Diffuse = {1, 1, 1, 1};
    material.Ambient = {1, 1, 1, 1};
    material.Specular = {1, 1, 1, 1};
    material.Emissive = {0, 0, 0, 0};
    material.Power = 10;
    device->SetMaterial(material);
    D3DLIGHT9 light;
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Direction = {0.3f, -0.1f, 1.0f};
    device->SetLight(0, light);
    device->LightEnable(0, 1);
    device->SetRenderState(D3DRS_LIGHTING, 1);
  } else {
    device->SetRenderState(D3DRS_LIGHTING, 0);
  }

  device->SetRenderState(D3DRS_CULLMODE, state.cullingOn ? D3DCULL_CCW : D3DCULL_NONE);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
  device->SetRenderState(D3DRS_CLIPPLANEENABLE, D3DCLIPPLANE0);
  const float plane[4] = {state.clipPlane.a, state.clipPlane.b, state.clipPlane.c, state.clipPlane.d};
  device->SetClipPlane(0, plane);

  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  device->SetFVF(kSceneFvf);
  device->SetStreamSource(0, state.edgeBuffer.get(), 0, kSceneStride);

  const DWORD noBias = FloatToDword(0.0f);
  const DWORD wireBias = FloatToDword(-0.0001f);
  const UINT n = state.edgeTriangleCount;
  device->SetRenderState(D3DRS_DEPTHBIAS, noBias);
  device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, n);

  if (state.wireOverlayOn) {
    device->SetRenderState(D3DRS_DEPTHBIAS, wireBias);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, n);
  }

  // (A build that failed half-way may have left one section buffer missing; the pending
  // error ends the program, but nothing is drawn from a buffer that is not there.)
  if (state.clipIndexBuffer && state.sectionShown && state.clipVertexBuffer) {
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    device->SetStreamSource(0, state.clipVertexBuffer.get(), 0, kSceneStride);
    device->SetRenderState(D3DRS_DEPTHBIAS, noBias);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetIndices(state.clipIndexBuffer.get());
    if (state.clipTriangleCount > 0) {
      device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, state.clipVertexCount, 0, state.clipTriangleCount);
    }
    if (state.wireOverlayOn) {
      device->SetRenderState(D3DRS_DEPTHBIAS, wireBias);
      device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
      device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
      // The polygons' outlines, drawn over their fans (still the set indices): on a software
      // renderer one more filled pass costs far less than a line per edge. The filled pass
      // draws at most six corners of a polygon; a section with a larger one (an element
      // other than a tetrahedron or a hexahedron) is outlined by the same edges as a line list.
      if (state.clipTriangleCount > 0 && state.clipLineCount > 0 && state.clipWireBuffer &&
          state.clipOutline.size() >= state.clipVertexCount && state.clipLargestPolygon <= gfx::kFilledOutlineCorners) {
        device->DrawIndexedOutline(0, state.clipVertexCount, 0, state.clipTriangleCount, state.clipOutline.data());
      } else if (state.clipLineCount > 0 && state.clipWireBuffer) {
        device->SetIndices(state.clipWireBuffer.get());
        device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, state.clipVertexCount, 0, state.clipLineCount);
      }
    }
  }

  device->SetRenderState(D3DRS_DEPTHBIAS, noBias);
}

}  // namespace engine
