#pragma once
// The render states every screen-space overlay draws with (the rectangle, sprite and text
// batchers and the font): both faces drawn, since pre-transformed quads have no meaningful
// winding, and colours blended by the source alpha over what is already on the screen.
// Each caller adds what is its own (depth, fill, texture stages) around these.

#include "gfx/Device.h"

namespace gfx {

inline void SetOverlayRenderStates(Device& device) {
  device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

}  // namespace gfx
