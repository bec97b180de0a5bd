// The engine's pictures through the real OpenGL device under an X server: the clear colour
// from the configuration, the colour scale on the mesh, the white wire overlay, the clip
// plane with its coloured section, and the culling and lighting switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "config/Config.h"
#include "engine/Camera.h"
#include "engine/ClipSection.h"
#include "engine/Engine.h"
#include "engine/EngineState.h"
#include "engine/Legend.h"
#include "engine/Probe.h"
#include "engine/Scene.h"
#include "framework/FrameObject.h"
#include "gfx/Device.h"
#include "gfx/Gfx.h"
#include "tests/engine/EngineTestUtil.h"
#include "tests/gfx/GLTestSurface.h"
#include "tools/qem-generate/Generate.h"

namespace {

using engine::state;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr std::uint32_t kBackground = 0xFF000000;

// A box of 4 x 4 x 4 cubes whose values are all 0 in the first frame (time 0) and all 1 in
// the second (time 1): the whole mesh is violet at the start and red at the end.
std::string UniformBox(std::uint32_t nx = 4, std::uint32_t ny = 4, std::uint32_t nz = 4) {
  qemgen::Params params;
  params.nx = nx;
  params.ny = ny;
  params.nz = nz;
  params.frames = 1;
  std::string text = qemgen::GenerateQem(params);
  text.resize(text.find("FRAMES"));
  const std::uint32_t vertices = (nx + 1) * (ny + 1) * (nz + 1);
  text += "FRAMES 2\n0";
  for (std::uint32_t i = 0; i < vertices; ++i) text += " 0";
  text += "\n1";
  for (std::uint32_t i = 0; i < vertices; ++i) text += " 1";
  text += "\n";
  return text;
}

class EngineGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(surface.Create(kWidth, kHeight)) << surface.error;
    gfx::D3DPRESENT_PARAMETERS p;
    p.BackBufferWidth = kWidth;
    p.BackBufferHeight = kHeight;
    p.EnableAutoDepthStencil = 1;
    p.AutoDepthStencilFormat = gfx::D3DFMT_D24S8;
    ASSERT_EQ(gfx::CreateGLDevice(surface, p, device), D3D_OK);
    frame::test_seam::ResetState();
    frame::test_seam::InstallDevice(device.get());
    frame::test_seam::InstallDisplayMode({kWidth, kHeight, 0, false});
    frame::test_seam::SetActive(true);
    engine::ResetState();
    GlobalErrorTrace().Clear();
    document = enginetest::MakeDocument(Text());
    engine::test_seam::InstallDocument(document.get());
    state.documentReady = true;
    state.displayTime = document->timeMin;
    engine::UpdateClipPlane();
    engine::GenerateEdgeBuffers();
    engine::GenerateClipBuffers();
    ASSERT_FALSE(ErrorPending());
  }
  void TearDown() override {
    engine::ResetState();
    engine::test_seam::InstallDocument(nullptr);
    frame::test_seam::ResetState();
    device.reset();
    GlobalErrorTrace().Clear();
  }

  virtual std::string Text() { return UniformBox(); }

  // One frame as the application draws it: clear, scene, the engine's mesh and section.
  void Frame(std::uint32_t clear = kBackground) {
    device->Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
    device->BeginScene();
    engine::DrawScene();
    device->EndScene();
  }
  std::uint32_t Centre() { return surface.ReadPixel(kWidth / 2, kHeight / 2); }
  int Count(std::uint32_t colour) {
    int n = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) n += surface.ReadPixel(x, y) == colour;
    }
    return n;
  }
  // Plane through the middle of the mesh, the front half cut away.
  void CutMiddle() {
    state.clipDistance = 0;
    engine::UpdateClipPlane();
    engine::GenerateClipBuffers();
    ASSERT_GT(state.clipTriangleCount, 0u);
  }

  gfx_test::GLTestSurface surface;
  std::unique_ptr<gfx::Device> device;
  std::unique_ptr<qem::Document> document;
};

TEST_F(EngineGLTest, ClearsToTheConfiguredBackground) {
  Config config{std::string_view("Engine { BkgColor = 0xFF203040 }")};
  Config* previous = g_config;
  g_config = &config;
  engine::Engine engineObject;
  state.edgeBuffer.reset();  // nothing but the clear
  Frame(engineObject.BackgroundColour());
  g_config = previous;
  EXPECT_EQ(surface.ReadPixel(3, 3), 0xFF203040u);
  EXPECT_EQ(Centre(), 0xFF203040u);
}

TEST_F(EngineGLTest, MeshRunsFromVioletToRedWithTime) {
  state.lightingOn = false;
  state.wireOverlayOn = false;
  Frame();
  EXPECT_EQ(Centre(), 0xFF7F00FFu);
  EXPECT_EQ(surface.ReadPixel(2, 2), kBackground);
  state.displayTime = 1;
  engine::RecolourEdges();
  Frame();
  EXPECT_EQ(Centre(), 0xFFFF0000u);
}

TEST_F(EngineGLTest, WireOverlayIsWhite) {
  state.lightingOn = false;
  state.wireOverlayOn = false;
  Frame();
  EXPECT_EQ(Count(0xFFFFFFFF), 0);
  state.wireOverlayOn = true;
  Frame();
  EXPECT_GT(Count(0xFFFFFFFF), 100);
  // Lighting does not touch the overlay's colour.
  state.lightingOn = true;
  Frame();
  EXPECT_GT(Count(0xFFFFFFFF), 100);
}

TEST_F(EngineGLTest, SectionShowsTheValuesInsideAndFollowsTheTime) {
  state.lightingOn = false;
  state.wireOverlayOn = false;
  CutMiddle();
  Frame();
  EXPECT_EQ(Centre(), 0xFF7F00FFu);
  state.displayTime = 1;
  engine::RecolourEdges();
  engine::RecolourSection();
  Frame();
  EXPECT_EQ(Centre(), 0xFFFF0000u);
  // Hidden section: through the cut one sees the inside of the far boundary, whose
  // triangles face away from the camera and are culled.
  state.sectionShown = false;
  Frame();
  EXPECT_EQ(Centre(), kBackground);
  // Without culling those far faces are drawn.
  state.cullingOn = false;
  Frame();
  EXPECT_EQ(Centre(), 0xFFFF0000u);
}

TEST_F(EngineGLTest, PlaneMovedPastTheMeshCutsEverythingAway) {
  state.lightingOn = false;
  state.wireOverlayOn = false;
  state.clipDistance = -engine::kSqrt3;
  engine::UpdateClipPlane();
  engine::GenerateClipBuffers();
  Frame();
  EXPECT_EQ(Count(kBackground), kWidth * kHeight);
}

TEST_F(EngineGLTest, LightingShadesTheMesh) {
  state.wireOverlayOn = false;
  state.lightingOn = false;
  Frame();
  const std::uint32_t flat = Centre();
  state.lightingOn = true;
  Frame();
  const std::uint32_t lit = Centre();
  EXPECT_NE(lit, flat);
  EXPECT_NE(lit, kBackground);
  // Shading only darkens the violet: never more red or blue than the colour itself.
  EXPECT_LE(gfx_test::Red(lit), 0x7F);
  EXPECT_GT(gfx_test::Blue(lit), 0);
  EXPECT_EQ(gfx_test::Green(lit), 0);
}

// A flat box of 64 x 64 x 3 cubes seen face on, cut through its middle layer: the section
// has more than 65 536 vertices and is drawn with 32-bit indices.
class BigSectionGLTest : public EngineGLTest {
 protected:
  std::string Text() override { return UniformBox(64, 64, 3); }
};

TEST_F(BigSectionGLTest, EveryPolygonOfALargeSectionIsDrawn) {
  state.lightingOn = false;
  state.wireOverlayOn = false;
  state.rotationX = 0;
  state.rotationY = 0;
  CutMiddle();
  ASSERT_GT(state.clipVertexCount, 65536u);
  ASSERT_EQ(state.clipIndexBuffer->Format(), gfx::D3DFMT_INDEX32);
  Frame();
  const int violet = Count(0xFF7F00FF);
  // Without the section the cut-open box shows only culled inner faces: background.
  state.sectionShown = false;
  Frame();
  const int background = Count(kBackground);
  EXPECT_GT(violet, kWidth * kHeight / 5);  // the 2 x 2 face fills about a quarter of the view
  EXPECT_GE(background, violet);
  // Every pixel the section covered was violet: none shows a stray colour.
  state.sectionShown = true;
  Frame();
  EXPECT_EQ(Count(0xFF7F00FF) + Count(kBackground), kWidth * kHeight);
}

// The bundled sample: a box with a wave of values travelling along x.
class SampleGLTest : public EngineGLTest {
 protected:
  std::string Text() override {
    std::ifstream file(std::string(QEM_SOURCE_DIR) + "/samples/box.qem", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }
  // Pixels of the picture that are clearly red (the top of the scale) and clearly violet or
  // blue (its bottom).
  void CountEnds(int& reds, int& blues) {
    reds = blues = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const std::uint32_t c = surface.ReadPixel(x, y);
        reds += gfx_test::Red(c) > 200 && gfx_test::Blue(c) < 60;
        blues += gfx_test::Blue(c) > 200 && gfx_test::Red(c) < 140;
      }
    }
  }
};

TEST_F(SampleGLTest, SampleMeshShowsBothEndsOfTheScale) {
  ASSERT_EQ(document->vertices.size(), 1071u);
  state.lightingOn = false;
  state.wireOverlayOn = false;
  Frame();
  int reds = 0, blues = 0;
  CountEnds(reds, blues);
  EXPECT_GT(reds, 20);
  EXPECT_GT(blues, 20);
  EXPECT_LT(Count(kBackground), kWidth * kHeight - 1000);  // the mesh fills part of the view
}

TEST_F(SampleGLTest, SectionColoursChangeWithThePlaneAndTheTime) {
  state.lightingOn = false;
  state.wireOverlayOn = false;
  Frame();
  const std::uint32_t outside = Centre();
  CutMiddle();
  Frame();
  const std::uint32_t section = Centre();
  EXPECT_NE(section, kBackground);
  EXPECT_EQ(section >> 24, 0xFFu);
  // The section is flat and faces the camera: the colours across it are the scale's blends,
  // not the outside of the mesh.
  EXPECT_NE(section, outside);
  state.displayTime = (document->timeMin + document->timeMax) / 2;
  engine::RecolourEdges();
  engine::RecolourSection();
  Frame();
  EXPECT_NE(Centre(), section);
  EXPECT_NE(Centre(), kBackground);
}

// A jittered box (irregular tetrahedra like a mesher's), seen face on and cut through its
// middle: every pixel inside the section's outline shows the section, none the background.
class JitteredSectionGLTest : public EngineGLTest {
 protected:
  std::string Text() override {
    qemgen::Params params{12, 12, 4, 1, 1.0f, false, 0.24f};
    return qemgen::GenerateQem(params);
  }
};

TEST_F(JitteredSectionGLTest, SectionHasNoPinholes) {
  state.lightingOn = false;
  state.wireOverlayOn = false;
  state.rotationX = 0;
  state.rotationY = 0;
  constexpr std::uint32_t kMagenta = 0xFFFF00FF;  // not a colour of the scale
  for (const float distance : {0.0f, 0.013f, -0.021f, 0.037f}) {
    SCOPED_TRACE(distance);
    state.clipDistance = distance;
    engine::UpdateClipPlane();
    engine::GenerateClipBuffers();
    ASSERT_GT(state.clipTriangleCount, 0u);
    Frame(kMagenta);
    // The section is the box's cross-section, drawn face on: the rectangle on screen from
    // the projection of its corners (the box's first and last vertex), two pixels in.
    const auto m = engine::ComputeSceneMatrices(kWidth, kHeight);
    gfx::D3DXMATRIX all, viewProjection;
    gfx::D3DXMatrixMultiply(&viewProjection, &m.view, &m.projection);
    gfx::D3DXMatrixMultiply(&all, &m.world, &viewProjection);
    float left = 1e9f, right = -1e9f, top = 1e9f, bottom = -1e9f;
    const qem::Vertex& lo = document->vertices.front();
    const qem::Vertex& hi = document->vertices.back();
    for (const gfx::D3DXVECTOR3 q :
         {gfx::D3DXVECTOR3{lo.x, lo.y, -distance}, gfx::D3DXVECTOR3{hi.x, hi.y, -distance}}) {
      gfx::D3DXVECTOR4 p;
      gfx::D3DXVec3Transform(&p, &q, &all);
      const float x = (p.x / p.w + 1) / 2 * kWidth, y = (1 - p.y / p.w) / 2 * kHeight;
      left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
    }
    ASSERT_GT(right - left, 40.0f);
    int inside = 0, holes = 0;
    for (int y = static_cast<int>(top) + 2; y < static_cast<int>(bottom) - 2; ++y) {
      for (int x = static_cast<int>(left) + 2; x < static_cast<int>(right) - 2; ++x) {
        ++inside;
        holes += surface.ReadPixel(x, y) == kMagenta;
      }
    }
    EXPECT_GT(inside, 1000);
    EXPECT_EQ(holes, 0);
  }
}

// The section's outline is drawn as one more filled pass over its polygons' fans, each
// polygon keeping the pixels within half a pixel of its edges (a whole pixel inwards where
// the edge lies on the mesh's boundary): the picture of the polygons' edges drawn as
// one-pixel lines (the outline buffer, a line list), but for the section's own border,
// drawn on its inner side. A jittered box, seen face on and turned, cut at several depths.
class SectionOutlineGLTest : public JitteredSectionGLTest {
 protected:
  enum Pixel : std::uint8_t { kNothing, kSection, kLine };
  // The section alone, as DrawScene draws it (unlit), its outline drawn as lines or filled.
  std::vector<Pixel> SectionPicture(bool lines) {
    gfx::Device& d = *device;
    d.Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
    d.BeginScene();
    const auto m = engine::ComputeSceneMatrices(kWidth, kHeight);
    d.SetTransform(gfx::D3DTS_WORLD, m.world);
    d.SetTransform(gfx::D3DTS_VIEW, m.view);
    d.SetTransform(gfx::D3DTS_PROJECTION, m.projection);
    d.SetRenderState(gfx::D3DRS_LIGHTING, 0);
    d.SetRenderState(gfx::D3DRS_CULLMODE, gfx::D3DCULL_CCW);
    d.SetRenderState(gfx::D3DRS_DEPTHBIAS, gfx::FloatToDword(0.0f));
    d.SetRenderState(gfx::D3DRS_FILLMODE, gfx::D3DFILL_SOLID);
    d.SetRenderState(gfx::D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
    d.SetTextureStageState(0, gfx::D3DTSS_COLOROP, gfx::D3DTOP_SELECTARG1);
    d.SetTextureStageState(0, gfx::D3DTSS_COLORARG1, gfx::D3DTA_DIFFUSE);
    d.SetFVF(engine::kSceneFvf);
    d.SetStreamSource(0, state.clipVertexBuffer.get(), 0, sizeof(engine::SceneVertex));
    d.SetIndices(state.clipIndexBuffer.get());
    EXPECT_EQ(d.DrawIndexedPrimitive(gfx::D3DPT_TRIANGLELIST, 0, 0, state.clipVertexCount, 0, state.clipTriangleCount),
              D3D_OK);
    d.SetRenderState(gfx::D3DRS_DEPTHBIAS, gfx::FloatToDword(-0.0001f));
    d.SetRenderState(gfx::D3DRS_FILLMODE, gfx::D3DFILL_WIREFRAME);
    d.SetTextureStageState(0, gfx::D3DTSS_COLORARG1, gfx::D3DTA_TFACTOR);
    if (lines) {
      d.SetIndices(state.clipWireBuffer.get());
      EXPECT_EQ(d.DrawIndexedPrimitive(gfx::D3DPT_LINELIST, 0, 0, state.clipVertexCount, 0, state.clipLineCount),
                D3D_OK);
    } else {
      EXPECT_EQ(d.DrawIndexedOutline(0, state.clipVertexCount, 0, state.clipTriangleCount, state.clipOutline.data()),
                D3D_OK);
    }
    d.EndScene();
    std::vector<Pixel> picture(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const std::uint32_t c = surface.ReadPixel(x, y);
        picture[static_cast<std::size_t>(y) * kWidth + x] = c == 0xFFFFFFFFu   ? kLine
                                                            : c == kBackground ? kNothing
                                                                               : kSection;
      }
    }
    return picture;
  }
};

TEST_F(SectionOutlineGLTest, FilledOutlineIsTheLinesPicture) {
  struct View {
    float rotationX, rotationY, distance;
  };
  for (const View v : {View{0, 0, 0}, View{0, 0, 0.037f}, View{-0.3f, -0.7f, 0}, View{0.4f, 0.9f, -0.021f}}) {
    SCOPED_TRACE(testing::Message() << v.rotationX << " " << v.rotationY << " " << v.distance);
    state.rotationX = v.rotationX;
    state.rotationY = v.rotationY;
    state.clipDistance = v.distance;
    engine::UpdateClipPlane();
    engine::GenerateClipBuffers();
    ASSERT_GT(state.clipTriangleCount, 0u);
    const std::vector<Pixel> lines = SectionPicture(true), filled = SectionPicture(false);
    int lineCount = 0, filledCount = 0, inside = 0, insideDiffer = 0, lineAlone = 0, filledAlone = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * kWidth + x;
        lineCount += lines[i] == kLine;
        filledCount += filled[i] == kLine;
        // At the border: nothing of the section in either picture within a pixel.
        bool border = false, lineNear = false, filledNear = false;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            const int xx = std::clamp(x + dx, 0, kWidth - 1), yy = std::clamp(y + dy, 0, kHeight - 1);
            const std::size_t j = static_cast<std::size_t>(yy) * kWidth + xx;
            border = border || lines[j] == kNothing || filled[j] == kNothing;
            lineNear = lineNear || lines[j] == kLine;
            filledNear = filledNear || filled[j] == kLine;
          }
        }
        inside += !border;
        insideDiffer += !border && lines[i] != filled[i];
        lineAlone += lines[i] == kLine && !filledNear;
        filledAlone += filled[i] == kLine && !lineNear;
      }
    }
    ASSERT_GT(inside, 1000);
    // Inside the section every pixel is the lines' (a few where an edge passes exactly
    // half a pixel from pixel centres may round the other way).
    EXPECT_LE(insideDiffer, lineCount / 200) << lineCount;
    // At the border the line is drawn one pixel inwards, never left out nor doubled.
    EXPECT_LE(lineAlone, lineCount / 200) << lineCount;
    EXPECT_LE(filledAlone, lineCount / 200) << lineCount;
    EXPECT_NEAR(filledCount, lineCount, lineCount / 20);
  }
}

// The legend's rows against the colour function, through the real rectangle batcher.
class LegendGLTest : public EngineGLTest {
 protected:
  void SetUp() override {
    EngineGLTest::SetUp();
    gfx::g_rectManager.OnDeviceRestore();
  }
  void TearDown() override {
    gfx::g_rectManager.OnDeviceLost();
    EngineGLTest::TearDown();
  }
};

TEST_F(LegendGLTest, EveryRowOfTheBarIsTheMeshsColourOfItsValue) {
  struct Range {
    float low, high;
  };
  for (const Range r : {Range{0, 1}, Range{-3.5f, 120}, Range{document->valueMin, document->valueMax}}) {
    const engine::LegendLayout layout = engine::ComputeLegend(kWidth, kHeight, 6, 12, r.low, r.high);
    device->Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
    device->BeginScene();
    engine::DrawScene();  // the scene's states must not leak into the bar
    engine::DrawLegend(layout, gfx::g_rectManager, nullptr);
    device->EndScene();
    ASSERT_FALSE(ErrorPending());
    const int rows = layout.bottom - layout.top;
    ASSERT_EQ(rows, 48);
    for (int row = 0; row < rows; ++row) {
      const std::uint32_t expected =
          engine::ValueColour(engine::LegendRowValue(row, rows, r.low, r.high), r.low, r.high);
      for (const int x : {layout.left, (layout.left + layout.right) / 2, layout.right - 1}) {
        EXPECT_EQ(surface.ReadPixel(x, layout.top + row), expected | 0xFF000000u) << row << " " << x;
      }
    }
    // The frame: one white pixel outside the bar on every side.
    const int middle = (layout.top + layout.bottom) / 2;
    EXPECT_EQ(surface.ReadPixel(layout.left - 1, middle), 0xFFFFFFFFu);
    EXPECT_EQ(surface.ReadPixel(layout.right, middle), 0xFFFFFFFFu);
    EXPECT_EQ(surface.ReadPixel(layout.left + 2, layout.top - 1), 0xFFFFFFFFu);
    EXPECT_EQ(surface.ReadPixel(layout.left + 2, layout.bottom), 0xFFFFFFFFu);
    EXPECT_EQ(surface.ReadPixel(layout.left - 3, middle), kBackground);
    EXPECT_EQ(surface.ReadPixel(layout.right + 2, middle), kBackground);
  }
}

// The pick against the picture: every boundary triangle and every section triangle drawn
// in a colour of its own, the pick at the pixel of each triangle's projected centre must
// name the triangle that pixel shows.
class PickGLTest : public EngineGLTest {
 protected:
  std::string Text() override { return UniformBox(3, 3, 3); }

  static std::uint32_t BoundaryColour(std::uint32_t k) {
    return 0xFF000040u | ((k + 1) & 0xFF) << 16 | ((k + 1) >> 8) << 8;
  }
  static constexpr std::uint32_t kSectionColour = 0xFF0000C0u;

  // The engine's buffers rewritten with the identifying colours.
  void Paint() {
    void* data = nullptr;
    ASSERT_EQ(state.edgeBuffer->Lock(0, 0, &data, 0), D3D_OK);
    auto* bytes = static_cast<unsigned char*>(data);
    for (std::uint32_t i = 0; i < 3 * state.edgeTriangleCount; ++i) {
      const std::uint32_t colour = BoundaryColour(i / 3);
      std::memcpy(bytes + i * sizeof(engine::SceneVertex) + offsetof(engine::SceneVertex, colour), &colour, 4);
    }
    state.edgeBuffer->Unlock();
    if (state.clipVertexCount == 0) return;
    ASSERT_EQ(state.clipVertexBuffer->Lock(0, 0, &data, 0), D3D_OK);
    bytes = static_cast<unsigned char*>(data);
    for (std::uint32_t i = 0; i < state.clipVertexCount; ++i) {
      std::memcpy(bytes + i * sizeof(engine::SceneVertex) + offsetof(engine::SceneVertex, colour), &kSectionColour, 4);
    }
    state.clipVertexBuffer->Unlock();
  }

  // The pixel a model point is drawn at.
  static bool Project(const gfx::D3DXVECTOR3& p, int& x, int& y) {
    const engine::SceneMatrices m = engine::ComputeSceneMatrices(kWidth, kHeight);
    gfx::D3DXMATRIX wv, all;
    gfx::D3DXMatrixMultiply(&wv, &m.world, &m.view);
    gfx::D3DXMatrixMultiply(&all, &wv, &m.projection);
    gfx::D3DXVECTOR3 c;
    gfx::D3DXVec3TransformCoord(&c, &p, &all);
    x = static_cast<int>(std::floor((c.x + 1) / 2 * kWidth));
    y = static_cast<int>(std::floor((1 - c.y) / 2 * kHeight));
    return x >= 0 && y >= 0 && x < kWidth && y < kHeight;
  }
  static void ProjectExactly(const gfx::D3DXVECTOR3& p, float& x, float& y) {
    const engine::SceneMatrices m = engine::ComputeSceneMatrices(kWidth, kHeight);
    gfx::D3DXMATRIX wv, all;
    gfx::D3DXMatrixMultiply(&wv, &m.world, &m.view);
    gfx::D3DXMatrixMultiply(&all, &wv, &m.projection);
    gfx::D3DXVECTOR3 c;
    gfx::D3DXVec3TransformCoord(&c, &p, &all);
    x = (c.x + 1) / 2 * kWidth;
    y = (1 - c.y) / 2 * kHeight;
  }
  static bool InsideTriangle(float px, float py, const float x[3], const float y[3]) {
    float sign[3];
    for (int j = 0; j < 3; ++j) {
      const int n = (j + 1) % 3;
      sign[j] = (x[n] - x[j]) * (py - y[j]) - (y[n] - y[j]) * (px - x[j]);
    }
    return (sign[0] > 0 && sign[1] > 0 && sign[2] > 0) || (sign[0] < 0 && sign[1] < 0 && sign[2] < 0);
  }
};

TEST_F(PickGLTest, PicksTheTriangleDrawnAtTheProjectedCentre) {
  struct Case {
    float rotationX, rotationY, clipDistance;
    bool orthographic;
    float zoom;
    bool sectionShown = true;
  };
  const Case cases[] = {
      {-0.3f, -0.7f, engine::kSqrt3, false, 1},
      {-0.3f, -0.7f, 0, false, 1},
      {0.6f, 2.1f, 0.3f, true, 1},
      {2.5f, -1.2f, -0.4f, false, 1.6f},
      {1.0f, 0.4f, 0, true, 2.5f},
      // Without the section the cut shows the background through the mesh: the far
      // boundary's inner faces are culled, and the pick passes through them too.
      {-0.3f, -0.7f, 0.2f, false, 1, false},
  };
  state.lightingOn = false;
  state.wireOverlayOn = false;
  for (const Case& c : cases) {
    state.rotationX = c.rotationX;
    state.rotationY = c.rotationY;
    state.clipDistance = c.clipDistance;
    state.orthographic = c.orthographic;
    state.zoom = c.zoom;
    state.sectionShown = c.sectionShown;
    engine::UpdateClipPlane();
    engine::GenerateClipBuffers();
    Paint();
    Frame();
    int boundaryChecked = 0, sectionChecked = 0;
    for (std::uint32_t k = 0; k < state.edgeTriangleCount; ++k) {
      gfx::D3DXVECTOR3 centre{0, 0, 0};
      for (int j = 0; j < 3; ++j) {
        const qem::Vertex& v = document->vertices[state.edgeVertices[3 * k + j]];
        centre = centre + gfx::D3DXVECTOR3{v.x, v.y, v.z} * (1.0f / 3);
      }
      int x = 0, y = 0;
      if (!Project(centre, x, y) || surface.ReadPixel(x, y) != BoundaryColour(k)) continue;
      const engine::PickResult pick = engine::Pick(x, y, kWidth, kHeight);
      EXPECT_TRUE(pick.hit && !pick.section && pick.triangle == k) << k << " at " << x << ", " << y;
      ++boundaryChecked;
    }
    const engine::Plane P = engine::ModelClipPlane();
    engine::SectionGeometry section;
    engine::CutDocument(state.sectionIndex, *document, P, engine::Vec3{-P.a, -P.b, -P.c}, section);
    for (std::size_t k = 0; k + 2 < section.triangles.size(); k += 3) {
      gfx::D3DXVECTOR3 centre{0, 0, 0};
      for (int j = 0; j < 3; ++j) centre = centre + section.positions[section.triangles[k + j]] * (1.0f / 3);
      int x = 0, y = 0;
      if (!Project(centre, x, y) || surface.ReadPixel(x, y) != kSectionColour) continue;
      const engine::PickResult pick = engine::Pick(x, y, kWidth, kHeight);
      EXPECT_TRUE(pick.hit && pick.section) << k / 3 << " at " << x << ", " << y;
      // All of the section has one colour: the triangle is known where the pixel's centre
      // lies inside its projection (a thin one's centre may fall in its neighbour's pixel).
      float sx[3], sy[3];
      for (int j = 0; j < 3; ++j) ProjectExactly(section.positions[section.triangles[k + j]], sx[j], sy[j]);
      if (InsideTriangle(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f, sx, sy)) {
        EXPECT_EQ(pick.triangle, k / 3) << " at " << x << ", " << y;
      }
      ++sectionChecked;
    }
    // Wherever the background shows (a pixel and its neighbours), the pick finds nothing.
    int backgroundChecked = 0;
    for (int y = 1; y + 1 < kHeight; y += 3) {
      for (int x = 1; x + 1 < kWidth; x += 3) {
        bool background = true;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) background = background && surface.ReadPixel(x + dx, y + dy) == kBackground;
        }
        if (!background) continue;
        ++backgroundChecked;
        EXPECT_FALSE(engine::Pick(x, y, kWidth, kHeight).hit) << x << ", " << y;
      }
    }
    if (c.clipDistance > 1) {
      EXPECT_GT(boundaryChecked, 10) << c.rotationX << " " << c.rotationY;
    } else if (!c.sectionShown) {
      EXPECT_GT(boundaryChecked, 0);
    } else {
      EXPECT_GT(sectionChecked, 10) << c.rotationX << " " << c.rotationY;
    }
    // Unmagnified, the corners show the background, and the pick finds nothing there.
    if (c.zoom == 1) {
      EXPECT_EQ(surface.ReadPixel(0, 0), kBackground);
      EXPECT_FALSE(engine::Pick(0, 0, kWidth, kHeight).hit);
    }
  }
}

}  // namespace
