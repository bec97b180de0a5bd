#include "gfx/ResMngr.h"

#include <string>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "config/Config.h"

ResMngr g_resMngr;

namespace {

constexpr std::int32_t kMinFontHeight = 4;
constexpr std::int32_t kMaxFontHeight = 256;

}  // namespace

void ResMngr::Font::OnDeviceCreate() {
  font.reset();
  std::string name;
  std::int32_t height = 0;
  bool bold = false;
  g_config->GetString("Gfx/Font/Name", name);
  g_config->GetInt("Gfx/Font/Height", height);
  g_config->GetBool("Gfx/Font/Bold", bold);
  if (ErrorPending()) {
    ErrorAdd("Nie można wczytać z konfiguracji parametrów czcionki"_cp, "", 0);
  } else if (height < kMinFontHeight || height > kMaxFontHeight) {
    // Below 4 pixels no letter is legible; above 256 the glyphs no longer fit one texture.
    ErrorRaise("Wysokość czcionki musi wynosić od 4 do 256 pikseli"_cp, "", 0);
  } else {
    // A negative height asks for that character height, not cell height.
    const HRESULT hr = gfx::D3DXCreateFontA(frame::GetDevice(), -height, 0, bold ? gfx::FW_BOLD : gfx::FW_NORMAL, 1, 0,
                                            gfx::EASTEUROPE_CHARSET, gfx::OUT_DEFAULT_PRECIS, gfx::ANTIALIASED_QUALITY,
                                            gfx::DEFAULT_PITCH | gfx::FF_DONTCARE, name.c_str(), font);
    if (hr == D3DERR_NOTFOUND) {
      // fontconfig offered another family in its place.
      ErrorRaise("Nie znaleziono czcionki \""_cp + name + "\"", "", 0);
    } else if (Failed(hr)) {
      ErrorRaiseDirectX(hr, "Nie można utworzyć czcionki"_cp, "", 0);
    } else {
      constexpr gfx::DWORD measure = gfx::DT_CALCRECT | gfx::DT_SINGLELINE | gfx::DT_NOCLIP;
      gfx::RECT m;
      font->DrawTextA(nullptr, "M", 1, &m, measure, 0xFFFFFFFF);
      charWidth = m.right - m.left;
      charHeight = m.bottom - m.top;
      gfx::RECT i;
      font->DrawTextA(nullptr, "i", 1, &i, measure, 0xFFFFFFFF);
      if (i.right - i.left != charWidth || i.bottom - i.top != charHeight) {
        ErrorRaise("Czcionka musi być stałej szerokości"_cp, "", 0);
      }
    }
  }
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void ResMngr::Font::OnDeviceRestore() {
  if (font) {
    const HRESULT hr = font->OnResetDevice();
    if (Failed(hr)) {
      ErrorRaiseDirectX(hr, "Nie można przywrócić czcionki"_cp, ERROR_FILE_LINE);
      ERROR_ADD_LOCATION();
    }
  }
}

void ResMngr::OnCreate() { sphere.reset(); }

void ResMngr::OnDestroy() {}

void ResMngr::OnDeviceCreate() {
  font.OnDeviceCreate();
  if (!ErrorPending()) {
    const HRESULT hr = gfx::D3DXCreateSphere(frame::GetDevice(), 1.0f, 32, 32, sphere, nullptr);
    if (Failed(hr)) {
      sphere.reset();
      ErrorRaiseDirectX(hr, "Cannot create sphere mesh", "", 0);
    }
  }
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void ResMngr::OnDeviceDestroy() {
  sphere.reset();
  font.font.reset();
}

void ResMngr::OnDeviceRestore() {
  font.OnDeviceRestore();
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void ResMngr::OnDeviceLost() {
  if (font.font) font.font->OnLostDevice();
}
