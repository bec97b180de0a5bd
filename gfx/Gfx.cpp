#include "gfx/Gfx.h"

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "gfx/OverlayStates.h"

namespace gfx {

LineManager g_lineManager;
RectManager g_rectManager;
SpriteManager g_spriteManager;
FontManager g_fontManager;

namespace {

// The sprite batcher's settings, which the text batcher records too: the overlay states,
// colour = texture x diffuse x 2, alpha = texture x diffuse.
void RecordSpriteStates(Device& device) {
  SetOverlayRenderStates(device);
  device.SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  device.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
  device.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device.SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  device.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device.SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

}  // namespace

// ---------------------------------------------------------------------------------------

void LineManager::OnDeviceRestore() {
  Device& device = *frame::GetDevice();
  stateBlock.reset();
  HRESULT hr = device.BeginStateBlock();
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można rozpocząć rejestracji bloku stanów urządzenia"_cp, ERROR_FILE_LINE);
    return;
  }
  device.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device.SetFVF(kScreenFvf);
  hr = device.EndStateBlock(stateBlock);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można zapamiętać bloku stanów urządzenia"_cp, ERROR_FILE_LINE);
  }
}

void LineManager::OnDeviceLost() { stateBlock.reset(); }

// ---------------------------------------------------------------------------------------

RectManager::RectManager() : vertices(4 * kCapacity), indices(6 * kCapacity) {}

void RectManager::OnDeviceRestore() {
  Device& device = *frame::GetDevice();
  stateBlock.reset();
  const HRESULT hr = device.BeginStateBlock();
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie rozpocząć rejestracji bloku stanów"_cp, ERROR_FILE_LINE);
    ErrorAdd("Nie można zainicjalizować rysowania prostokątów"_cp, "", 0);
    return;
  }
  SetOverlayRenderStates(device);
  device.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  device.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  device.SetFVF(kScreenFvf);
  device.SetTexture(0, nullptr);
  device.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  device.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  device.EndStateBlock(stateBlock);
}

void RectManager::OnDeviceLost() { stateBlock.reset(); }

void RectManager::Begin() {
  // Without a recorded block (its recording failed) there is nothing to apply: that is
  // reported as the device would report an invalid call.
  const HRESULT hr = stateBlock ? stateBlock->Apply() : D3DERR_INVALIDCALL;
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można przywrócić ustawień urządzenia do rysowania prostokątów"_cp, ERROR_FILE_LINE);
  }
  count = 0;
}

void RectManager::Add(const Rectangle& r, D3DCOLOR colour) {
  if (count == kCapacity) {
    Flush();
    if (ErrorPending()) {
      ErrorAdd("Nie można narysować prostokąta"_cp, ERROR_FILE_LINE);
      return;
    }
  }
  const int b = 4 * count;
  vertices[b] = {r.left, r.top, 0.0f, 1.0f, colour};
  vertices[b + 1] = {r.right, r.top, 0.0f, 1.0f, colour};
  vertices[b + 2] = {r.right, r.bottom, 0.0f, 1.0f, colour};
  vertices[b + 3] = {r.left, r.bottom, 0.0f, 1.0f, colour};
  const auto i = static_cast<std::uint16_t>(b);
  std::uint16_t* out = &indices[6 * count];
  out[0] = i;
  out[1] = i + 1;
  out[2] = i + 3;
  out[3] = i + 1;
  out[4] = i + 3;
  out[5] = i + 2;
  ++count;
}

void RectManager::End() {
  if (count >= 1) {
    Flush();
    if (ErrorPending()) ErrorAdd("Nie można zakończyć rysowania prostokątów"_cp, ERROR_FILE_LINE);
  }
}

void RectManager::Flush() {
  const auto n = static_cast<UINT>(count);
  const HRESULT hr = frame::GetDevice()->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4 * n, 2 * n, indices.data(),
                                                                D3DFMT_INDEX16, vertices.data(), sizeof(ScreenVertex));
  if (Failed(hr)) ErrorRaiseDirectX(hr, "Nie można narysować prostokątów"_cp, ERROR_FILE_LINE);
  count = 0;
}

// ---------------------------------------------------------------------------------------

void SpriteManager::OnDeviceRestore() {
  Device& device = *frame::GetDevice();
  stateBlock.reset();
  const HRESULT hr = device.BeginStateBlock();
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie rozpocząć rejestracji bloku stanów"_cp, ERROR_FILE_LINE);
    ErrorAdd("Nie można zainicjalizować rysowania spritów"_cp, ERROR_FILE_LINE);
    return;
  }
  RecordSpriteStates(device);
  device.SetFVF(kSpriteFvf);
  device.EndStateBlock(stateBlock);
}

void SpriteManager::OnDeviceLost() { stateBlock.reset(); }

// ---------------------------------------------------------------------------------------

void FontManager::OnDeviceRestore() {
  Device& device = *frame::GetDevice();
  stateBlock.reset();
  HRESULT hr = device.BeginStateBlock();
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie rozpocząć rejestracji bloku stanów"_cp, ERROR_FILE_LINE);
    ErrorAdd("Nie można zainicjować rysowania czcionek"_cp, ERROR_FILE_LINE);
    return;
  }
  RecordSpriteStates(device);
  device.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device.SetFVF(kSpriteFvf);
  device.EndStateBlock(stateBlock);
  ClearQueue();
  hr = device.CreateVertexBuffer(kBufferBytes, D3DUSAGE_WRITEONLY, kSpriteFvf, D3DPOOL_MANAGED, vertexBuffer);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można utworzyć bufora wierzchołków"_cp, ERROR_FILE_LINE);
    vertexBuffer.reset();
  }
  if (ErrorPending()) {
    ErrorAdd("Nie można zainicjalizować systemu buforowania tekstu"_cp, ERROR_FILE_LINE);
  }
}

void FontManager::OnDeviceLost() {
  ClearQueue();
  vertexBuffer.reset();
  stateBlock.reset();
}

void FontManager::Queue(std::string text) { queue.push_back(std::make_unique<Entry>(Entry{std::move(text)})); }

void FontManager::ClearQueue() { queue.clear(); }

}  // namespace gfx
