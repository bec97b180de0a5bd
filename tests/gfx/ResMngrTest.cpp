// The resource manager on the recording device, with configurations made in place and the
// DejaVu faces of fonts-dejavu-core (Sans Mono is fixed width, Sans is proportional).
#include "gfx/ResMngr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "config/Config.h"
#include "gfx/Math.h"
#include "gfx/RecordingDevice.h"
#include "tests/TraceLines.h"

namespace {

using namespace gfx;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> TakeLines() { return PopAllLines(); }

std::string FontConfig(const char* name, const char* height, const char* bold) {
  std::string text = "Gfx { Font { ";
  if (name) text += std::string("Name = \"") + name + "\"; ";
  if (height) text += std::string("Height = ") + height + "; ";
  if (bold) text += std::string("Bold = ") + bold + "; ";
  return text + "} }";
}

class ResMngrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalErrorTrace().Clear();
    frame::test_seam::ResetState();
    frame::test_seam::InstallDevice(&device);
  }
  void TearDown() override {
    manager.OnDeviceDestroy();
    frame::test_seam::InstallDevice(nullptr);
    g_config = nullptr;
    GlobalErrorTrace().Clear();
  }
  void UseConfig(const std::string& text) {
    config = std::make_unique<Config>(text);
    g_config = config.get();
  }

  RecordingDevice device;
  std::unique_ptr<Config> config;
  ResMngr manager;
};

TEST_F(ResMngrTest, FixedFontGivesItsCellAndTheSphere) {
  UseConfig(FontConfig("DejaVu Sans Mono", "16", "0"));
  manager.OnCreate();
  manager.OnDeviceCreate();
  ASSERT_FALSE(ErrorPending()) << ::testing::PrintToString(TakeLines());
  ASSERT_TRUE(manager.font.font);
  // The configured 16 is asked for as a character height of -16, normal weight, charset 238.
  const FontDesc& desc = manager.font.font->Desc();
  EXPECT_EQ(desc.height, -16);
  EXPECT_EQ(desc.weight, FW_NORMAL);
  EXPECT_EQ(desc.charSet, 238u);
  EXPECT_EQ(desc.quality, 4u);
  EXPECT_EQ(manager.font.charWidth, 10);
  EXPECT_EQ(manager.font.charHeight, 19);
  ASSERT_TRUE(manager.sphere);
  EXPECT_EQ(manager.sphere->vertexCount, 2u + 32u * 31u);
  EXPECT_EQ(manager.sphere->faceCount, 2u * 32u * 31u);
}

TEST_F(ResMngrTest, BoldSettingSelectsTheWeight) {
  struct Case {
    const char* text;
    UINT weight;
  };
  const Case cases[] = {{"0", 400}, {"f", 400}, {"false", 400}, {"1", 700}, {"t", 700}, {"true", 700}};
  for (const auto& c : cases) {
    UseConfig(FontConfig("DejaVu Sans Mono", "16", c.text));
    manager.OnDeviceCreate();
    ASSERT_FALSE(ErrorPending()) << c.text << ::testing::PrintToString(TakeLines());
    EXPECT_EQ(manager.font.font->Desc().weight, c.weight) << c.text;
    EXPECT_THAT(manager.font.font->FaceFile(), HasSubstr(c.weight == 700 ? "Bold" : "Mono.ttf"));
    manager.OnDeviceDestroy();
  }
}

// A missing or malformed key: the lookup's line, the font's message, then the two
// locations (newest first when read out: the lines below are in the order they were added).
TEST_F(ResMngrTest, BadFontSettingsGiveTheFontLines) {
  const std::string cases[] = {
      FontConfig(nullptr, "16", "0"),
      FontConfig("DejaVu Sans Mono", nullptr, "0"),
      FontConfig("DejaVu Sans Mono", "16", "maybe"),
  };
  for (const auto& text : cases) {
    UseConfig(text);
    manager.OnDeviceCreate();
    ASSERT_TRUE(ErrorPending()) << text;
    EXPECT_FALSE(manager.font.font);
    EXPECT_FALSE(manager.sphere);
    const auto lines = TakeLines();  // newest first
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_THAT(lines[0], HasSubstr("ResMngr::OnDeviceCreate"));
    EXPECT_THAT(lines[0], StartsWith("[ResMngr,"));
    EXPECT_THAT(lines[1], HasSubstr("ResMngr::Font::OnDeviceCreate"));
    EXPECT_EQ(lines[2], std::string("Nie można wczytać z konfiguracji parametrów czcionki"_cp));
    EXPECT_EQ(device.Calls("CreateTexture").size(), 0u);
  }
}

TEST_F(ResMngrTest, ProportionalFaceStopsWithTheFixedWidthMessage) {
  UseConfig(FontConfig("DejaVu Sans", "16", "0"));
  manager.OnDeviceCreate();
  ASSERT_TRUE(ErrorPending());
  EXPECT_TRUE(manager.font.font);  // stays until the device goes
  EXPECT_FALSE(manager.sphere);
  EXPECT_THAT(TakeLines(), ElementsAre(HasSubstr("ResMngr::OnDeviceCreate"), HasSubstr("ResMngr::Font::OnDeviceCreate"),
                                       std::string("Czcionka musi być stałej szerokości"_cp)));
}

// Heights a font cannot be made at are refused before any face is looked up: the
// smallest int, zero, negatives and sizes whose glyphs no texture holds.
TEST_F(ResMngrTest, FontHeightOutsideFourTo256IsAStartUpError) {
  for (const char* height : {"-2147483648", "-16", "0", "3", "257", "300", "100000", "2147483647"}) {
    UseConfig(FontConfig("DejaVu Sans Mono", height, "0"));
    manager.OnDeviceCreate();
    ASSERT_TRUE(ErrorPending()) << height;
    EXPECT_FALSE(manager.font.font) << height;
    EXPECT_FALSE(manager.sphere) << height;
    EXPECT_THAT(TakeLines(),
                ElementsAre(HasSubstr("ResMngr::OnDeviceCreate"), HasSubstr("ResMngr::Font::OnDeviceCreate"),
                            std::string("Wysokość czcionki musi wynosić od 4 do 256 pikseli"_cp)))
        << height;
    EXPECT_EQ(device.Calls("CreateTexture").size(), 0u) << height;
  }
}

// Both ends of the range give a fixed-width font whose atlas every device can hold.
TEST_F(ResMngrTest, FontHeightsFourAnd256AreMade) {
  for (const char* height : {"4", "256"}) {
    UseConfig(FontConfig("DejaVu Sans Mono", height, "1"));
    manager.OnDeviceCreate();
    ASSERT_FALSE(ErrorPending()) << height << ::testing::PrintToString(TakeLines());
    ASSERT_TRUE(manager.font.font);
    EXPECT_GT(manager.font.charWidth, 0);
    EXPECT_GE(manager.font.charHeight, std::atoi(height));
    const auto textures = device.Calls("CreateTexture");
    ASSERT_EQ(textures.size(), 1u);
    unsigned width = 0, atlasHeight = 0;
    ASSERT_EQ(std::sscanf(textures[0].args.c_str(), "%u, %u", &width, &atlasHeight), 2) << textures[0].args;
    EXPECT_LE(width, 4096u) << height;
    EXPECT_LE(atlasHeight, 4096u) << height;
    manager.OnDeviceDestroy();
    device.ClearLog();
  }
}

// fontconfig answers every name with some family; a substitute is not the font asked for.
TEST_F(ResMngrTest, AFontThatIsNotInstalledIsNamed) {
  UseConfig(FontConfig("No Such Face Mono", "16", "0"));
  manager.OnDeviceCreate();
  ASSERT_TRUE(ErrorPending());
  EXPECT_FALSE(manager.font.font);
  EXPECT_THAT(TakeLines(), ElementsAre(HasSubstr("ResMngr::OnDeviceCreate"), HasSubstr("ResMngr::Font::OnDeviceCreate"),
                                       std::string("Nie znaleziono czcionki \"No Such Face Mono\""_cp)));
  // The family is compared as fontconfig compares it: case and blanks do not count.
  UseConfig(FontConfig("dejavusansmono", "16", "0"));
  manager.OnDeviceCreate();
  EXPECT_FALSE(ErrorPending()) << ::testing::PrintToString(TakeLines());
  EXPECT_TRUE(manager.font.font);
}

TEST_F(ResMngrTest, DeviceFailuresGiveTheirMessages) {
  UseConfig(FontConfig("DejaVu Sans Mono", "16", "0"));
  device.FailCall("CreateTexture", D3DERR_OUTOFVIDEOMEMORY);
  manager.OnDeviceCreate();
  auto lines = TakeLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], std::string("Nie można utworzyć czcionki"_cp));
  EXPECT_THAT(lines[3], HasSubstr("D3DERR_OUTOFVIDEOMEMORY"));

  device.FailCall("CreateIndexBuffer", D3DERR_OUTOFVIDEOMEMORY);
  manager.OnDeviceCreate();
  lines = TakeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], HasSubstr("ResMngr::OnDeviceCreate"));
  EXPECT_EQ(lines[1], "Cannot create sphere mesh");
  EXPECT_THAT(lines[2], HasSubstr("D3DERR_OUTOFVIDEOMEMORY"));
  EXPECT_FALSE(manager.sphere);
}

// After a reset the same font object works again; the cell is not measured again.
TEST_F(ResMngrTest, ResetKeepsTheFontAndItsCell) {
  UseConfig(FontConfig("DejaVu Sans Mono", "16", "0"));
  manager.OnDeviceCreate();
  ASSERT_FALSE(ErrorPending());
  const Font* before = manager.font.font.get();
  manager.OnDeviceLost();
  manager.font.charWidth = 77;  // would be overwritten by a new measurement
  manager.OnDeviceRestore();
  ASSERT_FALSE(ErrorPending());
  EXPECT_EQ(manager.font.font.get(), before);
  EXPECT_EQ(manager.font.charWidth, 77);

  RECT r{0, 0, 100, 100};
  device.ClearLog();
  EXPECT_EQ(manager.font.font->DrawTextA(nullptr, "Ab", -1, &r, DT_NOCLIP, 0xFFFFFFFF), 19);
  EXPECT_EQ(device.Calls("DrawPrimitiveUP").size(), 1u);

  // A failing restore names the manager's own file and line before the message.
  manager.OnDeviceLost();
  device.FailCall("CreateStateBlock", D3DERR_OUTOFVIDEOMEMORY);
  manager.OnDeviceRestore();
  const auto lines = TakeLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_THAT(lines[0], HasSubstr("ResMngr::OnDeviceRestore"));
  EXPECT_THAT(lines[1], HasSubstr("ResMngr::Font::OnDeviceRestore"));
  EXPECT_THAT(lines[2], StartsWith("[ResMngr,"));
  EXPECT_THAT(lines[2], HasSubstr("Nie można przywrócić czcionki"_cp.view()));
}

// The font draws inside a saved-and-restored state block, so the scene's states survive.
TEST_F(ResMngrTest, DrawingLeavesTheCallersStates) {
  UseConfig(FontConfig("DejaVu Sans Mono", "16", "0"));
  manager.OnDeviceCreate();
  ASSERT_FALSE(ErrorPending());
  device.ClearLog();
  RECT r{0, 0, 0, 0};
  const std::string text = "Łódź"_cp;
  manager.font.font->DrawTextA(nullptr, text.c_str(), -1, &r, DT_NOCLIP | DT_SINGLELINE, 0xFF00FF00);
  const auto texts = device.Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_THAT(texts.front(), StartsWith("StateBlock::Capture"));
  EXPECT_THAT(texts.back(), StartsWith("StateBlock::Apply"));
  const auto draws = device.Calls("DrawPrimitiveUP");
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].args, "4, 8, 28");  // four glyphs, two triangles each
  std::uint32_t colour;
  std::memcpy(&colour, draws[0].vertexData.data() + 16, 4);
  EXPECT_EQ(colour, 0xFF00FF00u);
}

// Without DT_NOCLIP the glyphs are cut at the rectangle, their texture coordinates with
// them; glyphs wholly outside are not drawn.
TEST_F(ResMngrTest, TextIsCutAtTheRectangleUnlessNoClip) {
  UseConfig(FontConfig("DejaVu Sans Mono", "16", "0"));
  manager.OnDeviceCreate();
  ASSERT_FALSE(ErrorPending());
  struct Quad {
    float x0, y0, x1, y1, u0, u1;
  };
  auto quads = [&](DWORD format) {
    device.ClearLog();
    RECT r{0, 0, 15, 100};  // one and a half cells wide
    manager.font.font->DrawTextA(nullptr, "MMM", 3, &r, format | DT_SINGLELINE, 0xFFFFFFFF);
    std::vector<Quad> out;
    const auto draws = device.Calls("DrawPrimitiveUP");
    if (draws.empty()) return out;
    const auto& bytes = draws[0].vertexData;
    for (std::size_t q = 0; q < bytes.size() / (6 * 28); ++q) {
      float v0[7], v4[7];  // top-left and bottom-right corners of the quad
      std::memcpy(v0, bytes.data() + q * 6 * 28, 28);
      std::memcpy(v4, bytes.data() + q * 6 * 28 + 4 * 28, 28);
      out.push_back({v0[0], v0[1], v4[0], v4[1], v0[5], v4[5]});
    }
    return out;
  };
  const auto free = quads(DT_NOCLIP);
  const auto cut = quads(0);
  ASSERT_EQ(free.size(), 3u);
  ASSERT_EQ(cut.size(), 2u);  // the third M starts at x = 20
  EXPECT_EQ(cut[0].x0, free[0].x0);
  EXPECT_EQ(cut[0].u1, free[0].u1);
  EXPECT_GT(free[1].x1, 15.0f);
  EXPECT_EQ(cut[1].x1, 15.0f);
  EXPECT_LT(cut[1].u1, free[1].u1);
  EXPECT_FLOAT_EQ(cut[1].u1 - cut[1].u0, (free[1].u1 - free[1].u0) * (15.0f - free[1].x0) / (free[1].x1 - free[1].x0));
}

// Glyphs of 100 000 pixels cannot be rasterised: the font fails as a whole instead of
// coming out with no glyphs at all (which would pass the fixed-width check).
TEST(Font, AGlyphThatCannotBeRenderedFailsTheFont) {
  RecordingDevice device;
  std::unique_ptr<Font> font;
  EXPECT_EQ(D3DXCreateFontA(&device, -100000, 0, FW_NORMAL, 1, 0, EASTEUROPE_CHARSET, OUT_DEFAULT_PRECIS,
                            ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "DejaVu Sans Mono", font),
            E_FAIL);
  EXPECT_FALSE(font);
  EXPECT_EQ(device.Calls("CreateTexture").size(), 0u);
}

TEST(Sphere, FacesPointOutwards) {
  RecordingDevice device;
  MeshPtr mesh;
  ASSERT_EQ(D3DXCreateSphere(&device, 2.0f, 8, 5, mesh, nullptr), D3D_OK);
  ASSERT_EQ(mesh->vertexCount, 2u + 8u * 4u);
  ASSERT_EQ(mesh->faceCount, 2u * 8u * 4u);
  const auto& vb = static_cast<RecordingVertexBuffer&>(*mesh->vertices).bytes;
  const auto& ib = static_cast<RecordingIndexBuffer&>(*mesh->indices).bytes;
  ASSERT_EQ(ib.size(), mesh->faceCount * 6u);
  auto vertex = [&](std::uint16_t i) {
    D3DXVECTOR3 p;
    std::memcpy(&p, vb.data() + 24u * i, 12);
    return p;
  };
  for (UINT f = 0; f < mesh->faceCount; ++f) {
    std::uint16_t idx[3];
    std::memcpy(idx, ib.data() + 6u * f, 6);
    const D3DXVECTOR3 a = vertex(idx[0]), b = vertex(idx[1]), c = vertex(idx[2]);
    EXPECT_NEAR(D3DXVec3Length(&a), 2.0f, 1e-5f);
    D3DXVECTOR3 e1 = b - a, e2 = c - a, n;
    D3DXVec3Cross(&n, &e1, &e2);
    const D3DXVECTOR3 centre = (a + b + c) * (1.0f / 3);
    EXPECT_GT(D3DXVec3Dot(&n, &centre), 0.0f) << "face " << f;
  }
}

}  // namespace
