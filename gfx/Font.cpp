#include "gfx/Font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cctype>
#include <cstring>

#include "Common_Code/Cp1250.h"
#include "gfx/OverlayStates.h"

namespace gfx {

// ---------------------------------------------------------------------------------------
// Layout

namespace {

struct Line {
  std::size_t begin, end;  // bytes of the text
  int width;
};

int Advance(const FontMetrics& m, unsigned char byte) { return m.glyphs[byte].advance; }

int Width(const FontMetrics& m, std::string_view text, std::size_t begin, std::size_t end) {
  int w = 0;
  for (std::size_t i = begin; i < end; ++i) w += Advance(m, static_cast<unsigned char>(text[i]));
  return w;
}

bool IsSpace(char c) { return c == ' '; }

// One paragraph (no line feeds inside) broken between words so that lines fit in
// maxWidth; a word wider than the line stands alone.
void BreakParagraph(const FontMetrics& m, std::string_view text, std::size_t begin, std::size_t end, int maxWidth,
                    std::vector<Line>& lines) {
  std::size_t lineBegin = begin, lineEnd = begin;  // lineEnd: after the last word placed
  int lineWidth = 0;
  bool empty = true;
  std::size_t i = begin;
  while (i < end) {
    std::size_t spacesEnd = i;
    while (spacesEnd < end && IsSpace(text[spacesEnd])) ++spacesEnd;
    std::size_t wordEnd = spacesEnd;
    while (wordEnd < end && !IsSpace(text[wordEnd])) ++wordEnd;
    const int spaces = Width(m, text, i, spacesEnd);
    const int word = Width(m, text, spacesEnd, wordEnd);
    if (!empty && wordEnd > spacesEnd && lineWidth + spaces + word > maxWidth) {
      lines.push_back({lineBegin, lineEnd, lineWidth});
      lineBegin = lineEnd = spacesEnd;  // the spaces at the break are dropped
      lineWidth = word;
    } else {
      lineWidth += spaces + word;
    }
    lineEnd = wordEnd;
    empty = false;
    i = wordEnd;
  }
  lines.push_back({lineBegin, lineEnd, lineWidth});
}

}  // namespace

TextLayout LayoutText(const FontMetrics& m, std::string_view text, const RECT& rect, DWORD format) {
  TextLayout layout;
  std::vector<Line> lines;
  if (!text.empty()) {
    if (format & DT_SINGLELINE) {
      lines.push_back({0, text.size(), Width(m, text, 0, text.size())});
    } else {
      std::size_t begin = 0;
      while (begin <= text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        std::size_t contentEnd = end;
        if (contentEnd > begin && text[contentEnd - 1] == '\r') --contentEnd;
        if (format & DT_WORDBREAK) {
          BreakParagraph(m, text, begin, contentEnd, rect.right - rect.left, lines);
        } else {
          lines.push_back({begin, contentEnd, Width(m, text, begin, contentEnd)});
        }
        if (end == text.size()) break;
        begin = end + 1;
      }
    }
  }

  layout.height = static_cast<int>(lines.size()) * m.lineHeight;
  int top = rect.top;
  if (format & DT_BOTTOM) {
    top = rect.bottom - layout.height;
  } else if (format & DT_VCENTER) {
    top = rect.top + (rect.bottom - rect.top - layout.height) / 2;
  }
  layout.bounds = {rect.left, top, rect.left, top + layout.height};
  bool first = true;
  int y = top;
  for (const auto& line : lines) {
    int x = rect.left;
    if (format & DT_RIGHT) {
      x = rect.right - line.width;
    } else if (format & DT_CENTER) {
      x = rect.left + (rect.right - rect.left - line.width) / 2;
    }
    if (first) {
      layout.bounds.left = x;
      layout.bounds.right = x + line.width;
      first = false;
    } else {
      layout.bounds.left = std::min(layout.bounds.left, x);
      layout.bounds.right = std::max(layout.bounds.right, x + line.width);
    }
    for (std::size_t i = line.begin; i < line.end; ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      layout.glyphs.push_back({byte, x, y});
      x += Advance(m, byte);
    }
    y += m.lineHeight;
  }
  return layout;
}

// ---------------------------------------------------------------------------------------
// Rasterising

namespace {

struct Bitmap {
  int width = 0, height = 0;
  std::vector<std::uint8_t> coverage;
};

// Family names compared as fontconfig compares them: ASCII case and blanks do not count.
bool SameFamily(const char* a, const char* b) {
  auto next = [](const char*& p) {
    while (*p == ' ') ++p;
    return *p ? static_cast<char>(std::tolower(static_cast<unsigned char>(*p++))) : '\0';
  };
  for (;;) {
    const char x = next(a), y = next(b);
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

// Whether one of the match's family names is the one asked for (UTF-8).
bool IsFamily(FcPattern* match, const std::string& utf8Name) {
  FcChar8* family = nullptr;
  for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch; ++i) {
    if (family && SameFamily(reinterpret_cast<const char*>(family), utf8Name.c_str())) return true;
  }
  return false;
}

// The font file for a face name and weight. fontconfig always matches something, falling
// back to another family; that is not the font asked for (D3DERR_NOTFOUND), and E_FAIL
// when fontconfig has nothing at all.
HRESULT FindFace(const std::string& name, bool bold, bool italic, int pixelSize, std::string& file, int& index) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return E_FAIL;
  // The configuration's text is Windows-1250; fontconfig's names are UTF-8.
  const std::string utf8Name = cp1250::ToUtf8(name);
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8Name.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddDouble(pattern, FC_PIXEL_SIZE, pixelSize);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  HRESULT hr = E_FAIL;
  if (match) {
    FcChar8* path = nullptr;
    if (!IsFamily(match, utf8Name)) {
      hr = D3DERR_NOTFOUND;
    } else if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
      file = reinterpret_cast<const char*>(path);
      index = 0;
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      hr = D3D_OK;
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return hr;
}

// Renders the 224 printable bytes into metrics and one atlas image (rows of glyphs).
bool Rasterise(const std::string& file, int index, const FontDesc& desc, FontMetrics& metrics, Bitmap& atlas) {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library)) return false;
  FT_Face face = nullptr;
  bool ok = FT_New_Face(library, file.c_str(), index, &face) == 0;
  if (ok) {
    int pixels = desc.height < 0 ? -desc.height : desc.height;
    if (desc.height > 0 && face->units_per_EM > 0 && face->ascender - face->descender > 0) {
      // A positive height is the cell's: scale the em so that ascent + descent fits.
      pixels = pixels * face->units_per_EM / (face->ascender - face->descender);
    }
    ok = pixels > 0 && FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) == 0;
  }
  struct Rendered {
    Bitmap bitmap;
    int left = 0, top = 0;
  };
  std::vector<Rendered> rendered(256);
  if (ok) {
    metrics.ascent = static_cast<int>(face->size->metrics.ascender >> 6);
    metrics.lineHeight = static_cast<int>((face->size->metrics.ascender - face->size->metrics.descender) >> 6);
    const bool embolden = desc.weight >= 600 && !(face->style_flags & FT_STYLE_FLAG_BOLD);
    for (int byte = 0x20; byte < 256 && ok; ++byte) {
      const char32_t cp = cp1250::ToCodePoint(static_cast<unsigned char>(byte));
      if (byte == 0x7F) continue;
      // A character the face lacks loads its missing-glyph box; a load or render that fails
      // is a broken font, and text drawn without the glyph would silently lose letters.
      if (FT_Load_Char(face, cp, FT_LOAD_DEFAULT) != 0) {
        ok = false;
        break;
      }
      if (embolden) FT_GlyphSlot_Embolden(face->glyph);
      if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) {
        ok = false;
        break;
      }
      const FT_GlyphSlot slot = face->glyph;
      auto& g = metrics.glyphs[byte];
      g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
      auto& r = rendered[byte];
      r.left = slot->bitmap_left;
      r.top = metrics.ascent - slot->bitmap_top;
      r.bitmap.width = static_cast<int>(slot->bitmap.width);
      r.bitmap.height = static_cast<int>(slot->bitmap.rows);
      r.bitmap.coverage.resize(static_cast<std::size_t>(r.bitmap.width) * r.bitmap.height);
      for (int y = 0; y < r.bitmap.height; ++y) {
        const unsigned char* row = slot->bitmap.buffer + y * slot->bitmap.pitch;
        if (slot->bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
          for (int x = 0; x < r.bitmap.width; ++x) {
            r.bitmap.coverage[y * r.bitmap.width + x] = (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
          }
        } else {
          std::memcpy(&r.bitmap.coverage[static_cast<std::size_t>(y) * r.bitmap.width], row,
                      static_cast<std::size_t>(r.bitmap.width));
        }
      }
    }
  }
  if (face) FT_Done_Face(face);
  FT_Done_FreeType(library);
  if (!ok || metrics.lineHeight <= 0) return false;

  // Shelf packing into a 256- or 512-pixel-wide image, one pixel of space around each glyph;
  // large glyphs widen the image until it is no taller than wide, which keeps the largest
  // font height's atlas (4096 x 4096) within what every device can hold.
  struct Spot {
    int x, y;
  };
  std::vector<Spot> spots(256, Spot{0, 0});
  auto pack = [&](int width) {
    int x = 1, y = 1, shelf = 0;
    for (int byte = 0; byte < 256; ++byte) {
      const auto& b = rendered[byte].bitmap;
      if (b.width == 0 || b.height == 0) continue;
      if (x + b.width + 1 > width) {
        x = 1;
        y += shelf + 1;
        shelf = 0;
      }
      spots[byte] = {x, y};
      x += b.width + 1;
      shelf = std::max(shelf, b.height);
    }
    int height = 1;
    while (height < y + shelf + 1) height *= 2;
    return height;
  };
  int width = metrics.lineHeight > 24 ? 512 : 256;
  int height = pack(width);
  while (height > width) {
    width *= 2;
    height = pack(width);
  }
  atlas.width = width;
  atlas.height = height;
  atlas.coverage.assign(static_cast<std::size_t>(width) * height, 0);
  for (int byte = 0; byte < 256; ++byte) {
    const auto& r = rendered[byte];
    const auto& b = r.bitmap;
    if (b.width == 0 || b.height == 0) continue;
    for (int row = 0; row < b.height; ++row) {
      std::memcpy(&atlas.coverage[static_cast<std::size_t>(spots[byte].y + row) * width + spots[byte].x],
                  &b.coverage[static_cast<std::size_t>(row) * b.width], static_cast<std::size_t>(b.width));
    }
    auto& g = metrics.glyphs[byte];
    g.left = r.left;
    g.top = r.top;
    g.width = b.width;
    g.height = b.height;
    g.u0 = static_cast<float>(spots[byte].x) / width;
    g.v0 = static_cast<float>(spots[byte].y) / height;
    g.u1 = static_cast<float>(spots[byte].x + b.width) / width;
    g.v1 = static_cast<float>(spots[byte].y + b.height) / height;
  }
  return true;
}

}  // namespace

HRESULT D3DXCreateFontA(Device* device, INT height, UINT width, UINT weight, UINT mipLevels, BOOL italic, DWORD charSet,
                        DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily, const char* faceName,
                        std::unique_ptr<Font>& font) {
  font.reset();
  if (!device || !faceName || height == 0) return D3DERR_INVALIDCALL;
  std::unique_ptr<Font> made(new Font);
  made->device = device;
  made->desc =
      FontDesc{height, width, weight, mipLevels, italic, charSet, outputPrecision, quality, pitchAndFamily, faceName};
  int index = 0;
  const int pixels = height < 0 ? -height : height;
  const HRESULT found = FindFace(faceName, weight >= 600, italic != 0, pixels, made->faceFile, index);
  if (Failed(found)) return found;
  Bitmap atlas;
  if (!Rasterise(made->faceFile, index, made->desc, made->metrics, atlas)) return E_FAIL;

  HRESULT hr = device->CreateTexture(static_cast<UINT>(atlas.width), static_cast<UINT>(atlas.height), 1, 0,
                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, made->atlas);
  if (Failed(hr)) return hr;
  D3DLOCKED_RECT locked;
  hr = made->atlas->LockRect(0, &locked, 0);
  if (Failed(hr)) return hr;
  // White glyphs whose alpha is the coverage, so the colour comes from the vertices.
  for (int y = 0; y < atlas.height; ++y) {
    auto* row = reinterpret_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch;
    for (int x = 0; x < atlas.width; ++x) {
      const std::uint32_t texel =
          static_cast<std::uint32_t>(atlas.coverage[static_cast<std::size_t>(y) * atlas.width + x]) << 24 | 0x00FFFFFFu;
      std::memcpy(row + 4 * x, &texel, 4);
    }
  }
  hr = made->atlas->UnlockRect(0);
  if (Failed(hr)) return hr;
  hr = made->OnResetDevice();
  if (Failed(hr)) return hr;
  font = std::move(made);
  return D3D_OK;
}

// ---------------------------------------------------------------------------------------
// Drawing

Font::~Font() = default;

HRESULT Font::OnLostDevice() {
  saved.reset();
  return D3D_OK;
}

HRESULT Font::OnResetDevice() {
  if (saved) return D3D_OK;
  return device->CreateStateBlock(D3DSBT_ALL, saved);
}

namespace {

struct TextVertex {  // FVF 0x144
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(TextVertex) == 28);

}  // namespace

HRESULT Font::DrawQuads(const void* data, UINT quads) {
  if (!saved) return D3DERR_INVALIDCALL;
  HRESULT hr = saved->Capture();
  if (Failed(hr)) return hr;
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  SetOverlayRenderStates(*device);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
  device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
  device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  device->SetTexture(0, atlas.get());
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  // Glyphs sit on whole pixels at their own size: point sampling copies them exactly.
  device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  hr = device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, quads * 2, data, sizeof(TextVertex));
  const HRESULT restored = saved->Apply();
  return Failed(hr) ? hr : restored;
}

INT Font::DrawTextA(void* sprite, const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR colour) {
  if (sprite || !text || !rect) return 0;
  const std::size_t length = count < 0 ? std::strlen(text) : static_cast<std::size_t>(count);
  const TextLayout layout = LayoutText(metrics, std::string_view(text, length), *rect, format);
  const INT result = (format & (DT_BOTTOM | DT_VCENTER)) ? layout.bounds.bottom - rect->top : layout.height;
  if (format & DT_CALCRECT) {
    *rect = layout.bounds;
    return result;
  }

  std::vector<TextVertex> data;
  UINT quads = 0;
  const bool clip = !(format & DT_NOCLIP);
  const float aw = static_cast<float>(atlas->Width()), ah = static_cast<float>(atlas->Height());
  for (const auto& placed : layout.glyphs) {
    const GlyphMetrics& g = metrics.glyphs[placed.byte];
    if (g.width == 0 || g.height == 0) continue;
    float x0 = static_cast<float>(placed.x + g.left), y0 = static_cast<float>(placed.y + g.top);
    float x1 = x0 + g.width, y1 = y0 + g.height;
    float u0 = g.u0, v0 = g.v0, u1 = g.u1, v1 = g.v1;
    if (clip) {
      // Cut the quad at the rectangle, moving its texture coordinates with it.
      const float l = static_cast<float>(rect->left), t = static_cast<float>(rect->top);
      const float r = static_cast<float>(rect->right), b = static_cast<float>(rect->bottom);
      if (x0 >= r || x1 <= l || y0 >= b || y1 <= t) continue;
      if (x0 < l) u0 += (l - x0) / aw, x0 = l;
      if (x1 > r) u1 -= (x1 - r) / aw, x1 = r;
      if (y0 < t) v0 += (t - y0) / ah, y0 = t;
      if (y1 > b) v1 -= (y1 - b) / ah, y1 = b;
    }
    const float corners[6][4] = {{x0, y0, u0, v0}, {x1, y0, u1, v0}, {x0, y1, u0, v1},
                                 {x1, y0, u1, v0}, {x1, y1, u1, v1}, {x0, y1, u0, v1}};
    for (const auto& k : corners) data.push_back({k[0], k[1], 0.0f, 1.0f, colour, k[2], k[3]});
    ++quads;
  }
  if (quads == 0) return result;
  return Failed(DrawQuads(data.data(), quads)) ? 0 : result;
}

}  // namespace gfx
