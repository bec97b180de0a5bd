#pragma once
// The text font: what D3DXCreateFontA and ID3DXFont give the program, built on fontconfig
// (face lookup by name and weight), FreeType (antialiased glyphs) and one atlas texture of
// the device. Text is Windows-1250 bytes; each byte is drawn with the glyph of its Unicode
// character.
//
// DrawTextA lays text out as the Windows function does for the flags this program uses:
// DT_CALCRECT (measure only, the rectangle is set to the text's bounds), DT_SINGLELINE (line
// feeds do not break), DT_WORDBREAK (lines break between words that would pass the right
// edge; a word longer than the line is kept whole), DT_NOCLIP (without it glyphs are cut at
// the rectangle), DT_RIGHT / DT_CENTER (per line), DT_BOTTOM / DT_VCENTER (the whole block,
// for multi-line text too, as the status display expects). A line is lineHeight pixels high
// (ascent + descent); x advances by the glyph advances in whole pixels.
//
// Drawing saves every device state in a state block, sets its own (pre-transformed
// textured quads, alpha blending, no depth, no culling, no clip plane) and restores the
// saved states afterwards. Lost / reset: OnLostDevice releases that state block,
// OnResetDevice makes it again; the atlas lives in the managed pool and survives.
//
// Main thread only.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/Device.h"

namespace gfx {

struct RECT {
  INT left = 0, top = 0, right = 0, bottom = 0;
};

inline constexpr DWORD DT_TOP = 0x0;
inline constexpr DWORD DT_LEFT = 0x0;
inline constexpr DWORD DT_CENTER = 0x1;
inline constexpr DWORD DT_RIGHT = 0x2;
inline constexpr DWORD DT_VCENTER = 0x4;
inline constexpr DWORD DT_BOTTOM = 0x8;
inline constexpr DWORD DT_WORDBREAK = 0x10;
inline constexpr DWORD DT_SINGLELINE = 0x20;
inline constexpr DWORD DT_NOCLIP = 0x100;
inline constexpr DWORD DT_CALCRECT = 0x400;

inline constexpr UINT FW_NORMAL = 400;
inline constexpr UINT FW_BOLD = 700;
inline constexpr DWORD EASTEUROPE_CHARSET = 238;
inline constexpr DWORD OUT_DEFAULT_PRECIS = 0;
inline constexpr DWORD ANTIALIASED_QUALITY = 4;
inline constexpr DWORD DEFAULT_PITCH = 0;
inline constexpr DWORD FF_DONTCARE = 0;

// What the font was asked for (D3DXFONT_DESC).
struct FontDesc {
  INT height = 0;  // negative: character height; positive: cell height
  UINT width = 0;
  UINT weight = FW_NORMAL;
  UINT mipLevels = 1;
  BOOL italic = 0;
  DWORD charSet = 0;
  DWORD outputPrecision = 0;
  DWORD quality = 0;
  DWORD pitchAndFamily = 0;
  std::string faceName;
};

// One byte's glyph: advance in pixels; bitmap box relative to the pen at the line's top
// left; atlas coordinates.
struct GlyphMetrics {
  int advance = 0;
  int left = 0, top = 0, width = 0, height = 0;
  float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
};

struct FontMetrics {
  int lineHeight = 0;
  int ascent = 0;
  std::array<GlyphMetrics, 256> glyphs{};
};

// A laid-out text: each drawn byte with its pen position (top left of its line cell).
struct PlacedGlyph {
  unsigned char byte = 0;
  int x = 0, y = 0;
};

struct TextLayout {
  std::vector<PlacedGlyph> glyphs;
  RECT bounds;     // of the line cells, as DT_CALCRECT reports it
  int height = 0;  // lines x lineHeight
};

// The layout alone, without a device (DrawTextA's rules above).
TextLayout LayoutText(const FontMetrics& metrics, std::string_view text, const RECT& rect, DWORD format);

class Font {
 public:
  ~Font();

  // Draws (or with DT_CALCRECT measures) count bytes of text (count -1: up to the
  // terminating zero) in rect with format and colour. sprite must be null (the font draws
  // its own quads). Returns the text's height in pixels (with DT_BOTTOM or DT_VCENTER, the
  // offset from rect's top to the text's bottom); 0 on failure.
  INT DrawTextA(void* sprite, const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR colour);
  HRESULT OnLostDevice();
  HRESULT OnResetDevice();

  const FontDesc& Desc() const { return desc; }
  const FontMetrics& Metrics() const { return metrics; }
  // The font file fontconfig chose for the face name.
  const std::string& FaceFile() const { return faceFile; }

 private:
  friend HRESULT D3DXCreateFontA(Device*, INT, UINT, UINT, UINT, BOOL, DWORD, DWORD, DWORD, DWORD, const char*,
                                 std::unique_ptr<Font>&);
  Font() = default;
  HRESULT DrawQuads(const void* vertices, UINT quads);  // FVF 0x144, six per quad

  Device* device = nullptr;
  FontDesc desc;
  FontMetrics metrics;
  std::string faceFile;
  TexturePtr atlas;
  StateBlockPtr saved;  // the caller's states while drawing; null while lost
};

// Creates the font on device: face faceName through fontconfig at the given height (see
// FontDesc), weight >= 600 bold. Fails with D3DERR_NOTFOUND when no installed face has
// that family name (fontconfig would substitute another), with E_FAIL when the face cannot
// be loaded or one of its glyphs cannot be rasterised, or with the device's result when the
// atlas texture cannot be made.
HRESULT D3DXCreateFontA(Device* device, INT height, UINT width, UINT weight, UINT mipLevels, BOOL italic, DWORD charSet,
                        DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily, const char* faceName,
                        std::unique_ptr<Font>& font);

}  // namespace gfx
