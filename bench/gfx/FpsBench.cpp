// Frames per second of the OpenGL device drawing lit triangles with the white wire overlay,
// as the engine draws the boundary (its states and order, culling on), at 1024 x 768. Run
// under an X server: tests/with-xvfb.sh build/bench/gfx/gfx_fps_bench
// Each size warms up for a few seconds first (Mesa's software renderer is slow to start).
// The "fps" counter is frames per second; one iteration is one presented frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gfx/Device.h"
#include "gfx/Math.h"
#include "tests/gfx/GLTestSurface.h"

namespace {

using namespace gfx;

struct SceneVertex {
  float x, y, z, nx, ny, nz;
  D3DCOLOR colour;
};

// A closed surface like the boundary of a normalised mesh: a sphere of radius 1 with a
// bumpy surface, slices around the z axis and stacks from pole to pole, two triangles per
// quad (one per quad at the poles), each triangle with its own three vertices as the
// engine's boundary buffer holds them, wound clockwise seen from outside, coloured along a
// violet-to-red ramp by height.
std::vector<SceneVertex> Sphere(int slices, int stacks) {
  auto point = [&](int slice, int stack) {
    const float theta = 6.2831853f * static_cast<float>(slice % slices) / static_cast<float>(slices);
    const float phi = 3.1415927f * static_cast<float>(stack) / static_cast<float>(stacks);
    const float r = 1.0f + 0.03f * std::sin(7 * theta) * std::sin(5 * phi);
    return D3DXVECTOR3{r * std::sin(phi) * std::cos(theta), r * std::sin(phi) * std::sin(theta), r * std::cos(phi)};
  };
  std::vector<SceneVertex> v;
  auto triangle = [&v](D3DXVECTOR3 a, D3DXVECTOR3 b, D3DXVECTOR3 c) {
    D3DXVECTOR3 e1 = b - a, e2 = c - a, n;
    D3DXVec3Cross(&n, &e1, &e2);
    D3DXVec3Normalize(&n, &n);
    for (const D3DXVECTOR3& p : {a, b, c}) {
      const auto red = static_cast<std::uint32_t>(127.5f * (p.z + 1.0f));
      v.push_back({p.x, p.y, p.z, n.x, n.y, n.z, 0xFF000000u | red << 16 | (255 - red)});
    }
  };
  for (int stack = 0; stack < stacks; ++stack) {
    for (int slice = 0; slice < slices; ++slice) {
      const auto p00 = point(slice, stack), p10 = point(slice + 1, stack);
      const auto p01 = point(slice, stack + 1), p11 = point(slice + 1, stack + 1);
      if (stack > 0) triangle(p00, p01, p10);
      if (stack + 1 < stacks) triangle(p10, p01, p11);
    }
  }
  return v;
}

void DrawFrame(Device& d, VertexBuffer* vb, UINT triangles, bool overlay) {
  d.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202040, 1.0f, 0);
  d.BeginScene();
  D3DXMATRIX world, view, projection;
  D3DXMatrixRotationX(&world, -1.2f);
  const D3DXVECTOR3 eye{0, 0, -4}, at{0, 0, 0}, up{0, 1, 0};
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  D3DXMatrixPerspectiveFovLH(&projection, 0.7854f, 1024.0f / 768.0f, 0.1f, 100.0f);
  d.SetTransform(D3DTS_WORLD, world);
  d.SetTransform(D3DTS_VIEW, view);
  d.SetTransform(D3DTS_PROJECTION, projection);
  D3DMATERIAL9 material;
  material.Diffuse = material.Ambient = material.Specular = {1, 1, 1, 1};
  material.Power = 10;
  d.SetMaterial(material);
  D3DLIGHT9 light;
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {1, 1, 1, 1};
  light.Direction = {0.3f, -0.1f, 1.0f};
  d.SetLight(0, light);
  d.LightEnable(0, 1);
  d.SetRenderState(D3DRS_LIGHTING, 1);
  d.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  d.SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  d.SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);
  d.SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
  const float plane[4] = {0, 0, 1, 10};
  d.SetClipPlane(0, plane);
  d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  d.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  d.SetFVF(0x52);
  d.SetStreamSource(0, vb, 0, 28);
  d.SetRenderState(D3DRS_DEPTHBIAS, FloatToDword(0.0f));
  d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  d.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  d.DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
  if (overlay) {
    d.SetRenderState(D3DRS_DEPTHBIAS, FloatToDword(-0.0001f));
    d.SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    d.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d.DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
  }
  d.SetRenderState(D3DRS_DEPTHBIAS, FloatToDword(0.0f));
  d.EndScene();
  d.Present();
}

void BM_LitTrianglesWithWireOverlay(benchmark::State& state) {
  gfx_test::GLTestSurface surface;
  if (!surface.Create(1024, 768)) {
    state.SkipWithError(surface.error.c_str());
    return;
  }
  D3DPRESENT_PARAMETERS p;
  p.BackBufferWidth = 1024;
  p.BackBufferHeight = 768;
  p.EnableAutoDepthStencil = 1;
  p.AutoDepthStencilFormat = D3DFMT_D16;
  std::unique_ptr<Device> device;
  if (Failed(CreateGLDevice(surface, p, device))) {
    state.SkipWithError("no GL 3.3 device");
    return;
  }
  const auto vertices = Sphere(static_cast<int>(state.range(0)), static_cast<int>(state.range(0)));
  const auto triangles = static_cast<UINT>(vertices.size() / 3);
  VertexBufferPtr vb;
  device->CreateVertexBuffer(static_cast<UINT>(vertices.size() * sizeof(SceneVertex)), D3DUSAGE_WRITEONLY, 0x52,
                             D3DPOOL_MANAGED, vb);
  void* data = nullptr;
  vb->Lock(0, 0, &data, 0);
  std::memcpy(data, vertices.data(), vertices.size() * sizeof(SceneVertex));
  vb->Unlock();

  const auto warmUpEnd = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  while (std::chrono::steady_clock::now() < warmUpEnd) DrawFrame(*device, vb.get(), triangles, state.range(1) != 0);
  glFinish();

  for (auto _ : state) {
    DrawFrame(*device, vb.get(), triangles, state.range(1) != 0);
    glFinish();
  }
  state.counters["triangles"] = triangles;
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  vb.reset();
}

// Args: n slices and n stacks (n = 158: 49 612 triangles; n = 707: 998 284 triangles),
// overlay on (1) or off (0). A fixed frame count per size: every run pays the warm-up.
BENCHMARK(BM_LitTrianglesWithWireOverlay)
    ->Args({158, 1})
    ->Args({158, 0})
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LitTrianglesWithWireOverlay)
    ->Args({707, 1})
    ->Args({707, 0})
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
