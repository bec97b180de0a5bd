#include "gfx/Device.h"

#include <cstring>

namespace gfx {

DWORD FloatToDword(float value) {
  DWORD bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float DwordToFloat(DWORD value) {
  float f;
  std::memcpy(&f, &value, sizeof f);
  return f;
}

UINT FvfStride(DWORD fvf) {
  switch (fvf) {
    case D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE:
      return 28;
    case D3DFVF_XYZ | D3DFVF_NORMAL:
      return 24;
    case D3DFVF_XYZRHW | D3DFVF_DIFFUSE:
      return 20;
    case D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1:
      return 28;
    default:
      return 0;
  }
}

UINT VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT primitiveCount) {
  switch (type) {
    case D3DPT_POINTLIST:
      return primitiveCount;
    case D3DPT_LINELIST:
      return primitiveCount * 2;
    case D3DPT_LINESTRIP:
      return primitiveCount == 0 ? 0 : primitiveCount + 1;
    case D3DPT_TRIANGLELIST:
      return primitiveCount * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      return primitiveCount == 0 ? 0 : primitiveCount + 2;
    default:
      return 0;
  }
}

}  // namespace gfx
