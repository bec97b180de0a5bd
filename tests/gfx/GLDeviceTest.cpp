// The OpenGL device draws what the Direct3D states mean: checked by reading pixels back
// from a real X server (Xvfb + Mesa's software renderer).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/Device.h"
#include "gfx/Math.h"
#include "tests/gfx/GLTestSurface.h"

namespace {

using namespace gfx;
using gfx_test::Blue;
using gfx_test::Green;
using gfx_test::Red;

constexpr int kSize = 64;
constexpr D3DCOLOR kBackground = 0xFF000000;

struct SceneVertex {  // FVF 0x52
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR colour;
};
static_assert(sizeof(SceneVertex) == 28);

struct ScreenVertex {  // FVF 0x44
  float x, y, z, rhw;
  D3DCOLOR colour;
};

class GLDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(surface.Create(kSize, kSize)) << surface.error;
    D3DPRESENT_PARAMETERS p;
    p.BackBufferWidth = kSize;
    p.BackBufferHeight = kSize;
    p.EnableAutoDepthStencil = 1;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    ASSERT_EQ(CreateGLDevice(surface, p, device), D3D_OK);
  }

  // Orthographic camera: world x, y in -1..1 fill the window, depth 0..10.
  void OrthoCamera() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    device->SetTransform(D3DTS_WORLD, m);
    device->SetTransform(D3DTS_VIEW, m);
    D3DXMatrixOrthoLH(&m, 2, 2, 0, 10);
    device->SetTransform(D3DTS_PROJECTION, m);
  }

  VertexBufferPtr Buffer(const std::vector<SceneVertex>& vertices) {
    VertexBufferPtr vb;
    EXPECT_EQ(device->CreateVertexBuffer(static_cast<UINT>(vertices.size() * 28), D3DUSAGE_WRITEONLY, 0x52,
                                         D3DPOOL_MANAGED, vb),
              D3D_OK);
    void* data = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
    std::memcpy(data, vertices.data(), vertices.size() * 28);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    return vb;
  }

  void Draw(VertexBuffer* vb, UINT triangles) {
    device->SetFVF(0x52);
    device->SetStreamSource(0, vb, 0, 28);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles), D3D_OK);
  }

  void Unlit() {
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  }

  std::uint32_t Pixel(int x, int y) { return surface.ReadPixel(x, y); }

  gfx_test::GLTestSurface surface;
  std::unique_ptr<Device> device;
};

// Clockwise on screen (left-bottom, top, right-bottom), facing the camera at -z.
std::vector<SceneVertex> Triangle(float z, D3DCOLOR colour, float x0 = -0.5f, float x1 = 0.5f) {
  const float xm = (x0 + x1) / 2;
  return {{x0, -0.5f, z, 0, 0, -1, colour}, {xm, 0.5f, z, 0, 0, -1, colour}, {x1, -0.5f, z, 0, 0, -1, colour}};
}

std::vector<SceneVertex> Reversed(std::vector<SceneVertex> v) {
  std::swap(v[1], v[2]);
  return v;
}

TEST_F(GLDeviceTest, LitTriangleFollowsDirect3DLightingFormula) {
  OrthoCamera();
  D3DMATERIAL9 material;
  material.Diffuse = material.Ambient = material.Specular = {1, 1, 1, 1};
  material.Power = 10;
  device->SetMaterial(material);
  D3DLIGHT9 light;
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {1, 1, 1, 1};
  light.Direction = {0.3f, -0.1f, 1.0f};  // not normalised: the device normalises it
  device->SetLight(0, light);
  device->LightEnable(0, 1);
  device->SetRenderState(D3DRS_LIGHTING, 1);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);

  const D3DCOLOR colour = 0xFFC08040;
  auto vb = Buffer(Triangle(1, colour));
  // Reset keeps the managed buffer's contents but forgets every state.
  D3DPRESENT_PARAMETERS p;
  p.BackBufferWidth = kSize;
  p.BackBufferHeight = kSize;
  ASSERT_EQ(device->Reset(p), D3D_OK);
  OrthoCamera();
  device->SetMaterial(material);
  device->SetLight(0, light);
  device->LightEnable(0, 1);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);

  ASSERT_EQ(device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1, 0), D3D_OK);
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  Draw(vb.get(), 1);
  ASSERT_EQ(device->EndScene(), D3D_OK);

  // diffuse = vertex colour x light x max(0, N . L), L pointing to the light.
  const float nDotL = 1.0f / std::sqrt(0.3f * 0.3f + 0.1f * 0.1f + 1.0f);
  const std::uint32_t got = Pixel(32, 40);
  EXPECT_NEAR(Red(got), 0xC0 * nDotL, 2);
  EXPECT_NEAR(Green(got), 0x80 * nDotL, 2);
  EXPECT_NEAR(Blue(got), 0x40 * nDotL, 2);
  EXPECT_EQ(Pixel(2, 2), kBackground);
}

// D3DCULL_CCW removes triangles whose corners appear counter-clockwise on screen, in
// wireframe too (Direct3D culls before it fills: a culled triangle leaves no lines).
TEST_F(GLDeviceTest, CullModeFollowsOnScreenWinding) {
  struct Case {
    DWORD cull;
    bool clockwise;
    bool drawn;
  };
  const Case cases[] = {
      {D3DCULL_CCW, true, true}, {D3DCULL_CCW, false, false}, {D3DCULL_CW, true, false},
      {D3DCULL_CW, false, true}, {D3DCULL_NONE, false, true}, {D3DCULL_NONE, true, true},
  };
  auto cw = Buffer(Triangle(1, 0xFFFF0000));
  auto ccw = Buffer(Reversed(Triangle(1, 0xFFFF0000)));
  for (const DWORD fill : {D3DFILL_SOLID, D3DFILL_WIREFRAME}) {
    for (const auto& c : cases) {
      OrthoCamera();
      Unlit();
      device->SetRenderState(D3DRS_CULLMODE, c.cull);
      device->SetRenderState(D3DRS_FILLMODE, fill);
      device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1, 0);
      device->BeginScene();
      Draw(c.clockwise ? cw.get() : ccw.get(), 1);
      device->EndScene();
      if (fill == D3DFILL_SOLID) {
        EXPECT_EQ(Pixel(32, 40), c.drawn ? 0xFFFF0000 : kBackground)
            << "cull " << c.cull << " clockwise " << c.clockwise;
      } else {
        // The bottom edge lies on the boundary of pixel rows 47 and 48; the inside is empty.
        const bool edge = Pixel(32, 47) == 0xFFFF0000 || Pixel(32, 48) == 0xFFFF0000;
        EXPECT_EQ(edge, c.drawn) << "wireframe, cull " << c.cull << " clockwise " << c.clockwise;
        EXPECT_EQ(Pixel(32, 40), kBackground);
      }
    }
  }
}

// An edge is one line however its two triangles lie: one across it on the other side on
// screen (both drawn), one folding back over the same side (culled, or drawn without
// culling, as at an outline), or none. The edge x = 0 lies on the boundary of pixel
// columns 31 and 32; the first triangle is left of it, clockwise on screen.
TEST_F(GLDeviceTest, WireframeEdgeIsOneLineWhateverItsNeighbour) {
  const SceneVertex top{0, 0.5f, 5, 0, 0, -1, 0xFFFF0000}, bottom{0, -0.5f, 5, 0, 0, -1, 0xFFFF0000};
  const SceneVertex left{-0.5f, 0, 5, 0, 0, -1, 0xFFFF0000};
  const SceneVertex right{0.5f, 0, 5, 0, 0, -1, 0xFFFF0000}, folded{-0.25f, 0, 6, 0, 0, -1, 0xFFFF0000};
  struct Case {
    const char* name;
    std::vector<SceneVertex> triangles;
    DWORD cull;
  };
  const Case cases[] = {
      {"alone", {top, bottom, left}, D3DCULL_CCW},
      {"across", {top, bottom, left, bottom, top, right}, D3DCULL_CCW},
      {"across, no culling", {top, bottom, left, bottom, top, right}, D3DCULL_NONE},
      {"folded, culled", {top, bottom, left, bottom, top, folded}, D3DCULL_CCW},
      {"folded, no culling", {top, bottom, left, bottom, top, folded}, D3DCULL_NONE},
  };
  for (const Case& c : cases) {
    auto vb = Buffer(c.triangles);
    OrthoCamera();
    Unlit();
    device->SetRenderState(D3DRS_CULLMODE, c.cull);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1, 0);
    device->BeginScene();
    Draw(vb.get(), static_cast<UINT>(c.triangles.size() / 3));
    device->EndScene();
    for (const int y : {24, 28, 36, 40}) {
      int lit = 0;
      for (int x = 29; x <= 34; ++x) lit += Pixel(x, y) == 0xFFFF0000;
      EXPECT_EQ(lit, 1) << c.name << ", row " << y;
    }
  }
}

// The plane keeps the side where its value is >= 0; switched off, it clips nothing (Mesa
// clips on a written distance even when the GL plane is disabled).
TEST_F(GLDeviceTest, ClipPlaneRemovesTheNearSide) {
  std::vector<SceneVertex> two = Triangle(2, 0xFF00FF00, -1.0f, 0.0f);  // near, left
  const auto far = Triangle(6, 0xFF0000FF, 0.0f, 1.0f);                 // far, right
  two.insert(two.end(), far.begin(), far.end());
  auto vb = Buffer(two);
  const float plane[4] = {0, 0, 1, -4};  // keep z >= 4
  for (const bool on : {true, false}) {
    OrthoCamera();
    Unlit();
    device->SetClipPlane(0, plane);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, on ? 1 : 0);
    device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1, 0);
    device->BeginScene();
    Draw(vb.get(), 2);
    device->EndScene();
    EXPECT_EQ(Pixel(16, 40), on ? kBackground : 0xFF00FF00) << on;
    EXPECT_EQ(Pixel(48, 40), 0xFF0000FF) << on;
  }
}

// The engine's overlay: the same triangles again in wireframe, white from the texture
// factor, pulled towards the camera by the depth bias. Drawn both ways the program draws:
// through 32-bit indices (the section) and as a triangle soup (the boundary buffer, where
// shared edges are found by position).
TEST_F(GLDeviceTest, WhiteWireOverlayOverSolid) {
  const SceneVertex corner[4] = {{-0.75f, -0.75f, 5, 0, 0, -1, 0xFFFF0000},
                                 {-0.75f, 0.75f, 5, 0, 0, -1, 0xFFFF0000},
                                 {0.75f, 0.75f, 5, 0, 0, -1, 0xFFFF0000},
                                 {0.75f, -0.75f, 5, 0, 0, -1, 0xFFFF0000}};
  const std::uint32_t indices[6] = {0, 1, 2, 0, 2, 3};
  auto quad = Buffer({corner[0], corner[1], corner[2], corner[3]});
  std::vector<SceneVertex> soup;
  for (std::uint32_t i : indices) soup.push_back(corner[i]);
  auto soupBuffer = Buffer(soup);
  IndexBufferPtr ib;
  ASSERT_EQ(device->CreateIndexBuffer(24, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED, ib), D3D_OK);
  void* data = nullptr;
  ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
  std::memcpy(data, indices, sizeof indices);
  ASSERT_EQ(ib->Unlock(), D3D_OK);

  for (const bool indexed : {true, false}) {
    OrthoCamera();
    Unlit();
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);
    device->SetFVF(0x52);
    device->SetStreamSource(0, indexed ? quad.get() : soupBuffer.get(), 0, 28);
    device->SetIndices(ib.get());
    device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1, 0);
    device->BeginScene();
    auto draw = [&] {
      return indexed ? device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2)
                     : device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);
    };
    device->SetRenderState(D3DRS_DEPTHBIAS, FloatToDword(0.0f));
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    ASSERT_EQ(draw(), D3D_OK);
    device->SetRenderState(D3DRS_DEPTHBIAS, FloatToDword(-0.0001f));
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    ASSERT_EQ(draw(), D3D_OK);
    device->EndScene();

    // The diagonal from (-0.75, -0.75) to (0.75, 0.75) runs through the centre.
    EXPECT_EQ(Pixel(32, 32) | Pixel(31, 32) | Pixel(32, 31), 0xFFFFFFFF) << indexed;
    // Interiors stay red, off the edges.
    EXPECT_EQ(Pixel(20, 32), 0xFFFF0000) << indexed;
    EXPECT_EQ(Pixel(44, 32), 0xFFFF0000) << indexed;
    // The left and right edges at x = -0.75 and 0.75 (pixel columns 8 and 56).
    for (const int x0 : {6, 54}) {
      int white = 0;
      for (int x = x0; x <= x0 + 4; ++x) white += Pixel(x, 32) == 0xFFFFFFFF;
      EXPECT_GE(white, 1) << indexed << " " << x0;
    }
    EXPECT_EQ(Pixel(2, 32), kBackground) << indexed;
  }
}

// Pre-transformed vertices are pixels, y down; alpha blending with source alpha.
TEST_F(GLDeviceTest, PretransformedRectangleBlendsOverTheScene) {
  device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFF0000, 0, 0);
  device->BeginScene();
  device->SetRenderState(D3DRS_ZENABLE, 0);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetFVF(0x44);
  device->SetTexture(0, nullptr);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  const ScreenVertex v[4] = {
      {0, 0, 0, 1, 0x40000000}, {64, 0, 0, 1, 0x40000000}, {64, 32, 0, 1, 0x40000000}, {0, 32, 0, 1, 0x40000000}};
  const std::uint16_t i[6] = {0, 1, 3, 1, 3, 2};
  ASSERT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, i, D3DFMT_INDEX16, v, 20), D3D_OK);
  device->EndScene();
  EXPECT_NEAR(Red(Pixel(0, 0)), 0xFF * (1 - 0x40 / 255.0), 1.5);  // top row is y = 0
  EXPECT_NEAR(Red(Pixel(63, 31)), 0xFF * (1 - 0x40 / 255.0), 1.5);
  EXPECT_EQ(Pixel(10, 32), 0xFFFF0000);  // the rectangle ends above row 32
}

// The back buffer read back whole is the picture, top row first, in RGBA bytes; not
// while a scene is open.
TEST_F(GLDeviceTest, BackBufferReadBackIsTopRowFirst) {
  device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 0, 0);
  device->BeginScene();
  std::vector<std::uint8_t> rgba;
  UINT w = 0, h = 0;
  EXPECT_EQ(device->ReadBackBuffer(rgba, w, h), D3DERR_INVALIDCALL);
  device->SetRenderState(D3DRS_ZENABLE, 0);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetFVF(0x44);
  device->SetTexture(0, nullptr);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  const ScreenVertex v[4] = {
      {0, 0, 0, 1, 0xFFFF8000}, {64, 0, 0, 1, 0xFFFF8000}, {64, 16, 0, 1, 0xFFFF8000}, {0, 16, 0, 1, 0xFFFF8000}};
  const std::uint16_t i[6] = {0, 1, 3, 1, 3, 2};
  ASSERT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, i, D3DFMT_INDEX16, v, 20), D3D_OK);
  device->EndScene();
  ASSERT_EQ(device->ReadBackBuffer(rgba, w, h), D3D_OK);
  ASSERT_EQ(w, UINT{kSize});
  ASSERT_EQ(h, UINT{kSize});
  ASSERT_EQ(rgba.size(), std::size_t{kSize} * kSize * 4);
  auto at = [&](int x, int y) { return &rgba[(std::size_t(y) * kSize + x) * 4]; };
  EXPECT_THAT(std::vector<int>(at(5, 2), at(5, 2) + 3), ::testing::ElementsAre(0xFF, 0x80, 0x00));
  EXPECT_THAT(std::vector<int>(at(60, 40), at(60, 40) + 3), ::testing::ElementsAre(0x00, 0x00, 0xFF));
  for (int y : {0, 15, 16, 63})
    for (int x : {0, 63}) {
      const std::uint32_t p = Pixel(x, y);
      EXPECT_EQ((std::vector<int>{Red(p), Green(p), Blue(p)}), std::vector<int>(at(x, y), at(x, y) + 3))
          << x << "," << y;
    }
}

// A released buffer is no longer the stream source: drawing then fails instead of reading
// freed memory.
TEST_F(GLDeviceTest, ReleasedBuffersAreForgotten) {
  auto vb = Buffer(Triangle(1, 0xFFFF0000));
  device->SetFVF(0x52);
  device->SetStreamSource(0, vb.get(), 0, 28);
  ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);  // past the end
  vb.reset();
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
}

TEST_F(GLDeviceTest, StateBlocksRecordAndApply) {
  StateBlockPtr all;
  ASSERT_EQ(device->CreateStateBlock(D3DSBT_ALL, all), D3D_OK);  // defaults: cull CCW
  ASSERT_EQ(device->BeginStateBlock(), D3D_OK);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  StateBlockPtr none;
  ASSERT_EQ(device->EndStateBlock(none), D3D_OK);
  ASSERT_TRUE(none);

  auto ccw = Buffer(Reversed(Triangle(1, 0xFFFF0000)));
  auto drawn = [&](StateBlock& block) {
    EXPECT_EQ(block.Apply(), D3D_OK);
    OrthoCamera();
    Unlit();
    device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1, 0);
    Draw(ccw.get(), 1);
    return Pixel(32, 40) != kBackground;
  };
  EXPECT_FALSE(drawn(*all));  // recording did not change the device
  EXPECT_TRUE(drawn(*none));
  EXPECT_FALSE(drawn(*all));
}

}  // namespace
