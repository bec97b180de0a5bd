// The overlays on the OpenGL device: the rectangle batcher's blending and the font's glyphs
// in their cells, read back from the window.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "config/Config.h"
#include "gfx/Gfx.h"
#include "gfx/Math.h"
#include "gfx/ResMngr.h"
#include "tests/gfx/GLTestSurface.h"

namespace {

using namespace gfx;
using gfx_test::Blue;
using gfx_test::Green;
using gfx_test::Red;

constexpr int kWidth = 128, kHeight = 64;

class GLOverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalErrorTrace().Clear();
    ASSERT_TRUE(surface.Create(kWidth, kHeight)) << surface.error;
    D3DPRESENT_PARAMETERS p;
    p.BackBufferWidth = kWidth;
    p.BackBufferHeight = kHeight;
    p.EnableAutoDepthStencil = 1;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    ASSERT_EQ(CreateGLDevice(surface, p, device), D3D_OK);
    frame::test_seam::ResetState();
    frame::test_seam::InstallDevice(device.get());
  }
  void TearDown() override {
    rects.OnDeviceLost();
    resources.OnDeviceLost();
    resources.OnDeviceDestroy();
    frame::test_seam::InstallDevice(nullptr);
    g_config = nullptr;
    GlobalErrorTrace().Clear();
  }

  gfx_test::GLTestSurface surface;
  std::unique_ptr<Device> device;
  RectManager rects;
  ResMngr resources;
};

// A 0x40-alpha rectangle blends over the scene whatever the scene left: a depth buffer that
// would reject it, culling of its winding, a wireframe fill.
TEST_F(GLOverlayTest, TranslucentRectangleBlendsRegardlessOfSceneStates) {
  rects.OnDeviceRestore();
  ASSERT_FALSE(ErrorPending());
  device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 0.0f, 0);
  device->BeginScene();
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
  device->SetRenderState(D3DRS_LIGHTING, 1);
  rects.Begin();
  rects.Add({0, 0, kWidth, kHeight / 2.0f}, 0x40000000);
  rects.Add({100, 40, 110, 50}, 0xFF7FFF7F);  // the console's cursor colour, opaque
  rects.End();
  device->EndScene();
  ASSERT_FALSE(ErrorPending());
  const std::uint32_t blended = surface.ReadPixel(5, 5);
  EXPECT_NEAR(Blue(blended), 255 * (1 - 0x40 / 255.0), 1.5);
  EXPECT_EQ(Red(blended), 0);
  EXPECT_EQ(surface.ReadPixel(5, 40), 0xFF0000FFu);  // below the panel
  EXPECT_EQ(surface.ReadPixel(105, 45), 0xFF7FFF7Fu);
  EXPECT_EQ(surface.ReadPixel(110, 45), 0xFF0000FFu);  // right edge excluded
}

// White text on black: each pixel's brightness is the glyph's coverage, so the picture can
// be compared with FreeType's own rendering of the Unicode character of each byte.
TEST_F(GLOverlayTest, TextLandsInItsCellsWithPolishLetters) {
  Config config("Gfx { Font { Name = \"DejaVu Sans Mono\"; Height = 16; Bold = 0 } }");
  g_config = &config;
  resources.OnDeviceCreate();
  resources.OnDeviceRestore();
  ASSERT_FALSE(ErrorPending());
  const int cw = resources.font.charWidth, ch = resources.font.charHeight;
  ASSERT_EQ(cw, 10);
  ASSERT_EQ(ch, 19);

  const std::string text = "Łódź zażółć"_cp;
  const int x0 = 7, y0 = 11;
  device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
  device->BeginScene();
  RECT r{x0, y0, x0, y0};
  EXPECT_EQ(resources.font.font->DrawTextA(nullptr, text.c_str(), -1, &r, DT_NOCLIP | DT_SINGLELINE, 0xFFFFFFFF), ch);
  device->EndScene();

  FT_Library library;
  ASSERT_EQ(FT_Init_FreeType(&library), 0);
  FT_Face face;
  ASSERT_EQ(FT_New_Face(library, resources.font.font->FaceFile().c_str(), 0, &face), 0);
  FT_Set_Pixel_Sizes(face, 0, 16);
  const int ascent = static_cast<int>(face->size->metrics.ascender >> 6);

  // Expected brightness of the whole text line, glyph by glyph.
  std::vector<int> expected(static_cast<std::size_t>(kWidth) * kHeight, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t cp = cp1250::ToCodePoint(static_cast<unsigned char>(text[i]));
    ASSERT_EQ(FT_Load_Char(face, cp, FT_LOAD_RENDER), 0);
    const FT_Bitmap& b = face->glyph->bitmap;
    const int left = x0 + static_cast<int>(i) * cw + face->glyph->bitmap_left;
    const int top = y0 + ascent - face->glyph->bitmap_top;
    for (unsigned y = 0; y < b.rows; ++y) {
      for (unsigned x = 0; x < b.width; ++x) {
        const int px = left + static_cast<int>(x), py = top + static_cast<int>(y);
        if (px >= 0 && py >= 0 && px < kWidth && py < kHeight) {
          expected[static_cast<std::size_t>(py) * kWidth + px] = b.buffer[y * b.pitch + x];
        }
      }
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);

  int mismatches = 0, lit = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t c = surface.ReadPixel(x, y);
      const int want = expected[static_cast<std::size_t>(y) * kWidth + x];
      lit += want > 0;
      if (std::abs(Green(c) - want) > 2) {
        if (++mismatches <= 5) ADD_FAILURE() << "pixel " << x << "," << y << ": " << Green(c) << " want " << want;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(lit, 100);
}

}  // namespace
