#pragma once
// The graphics device: the Direct3D 9 operations this program draws with, as one abstract
// interface with two implementations, the OpenGL 3.3 backend (CreateGLDevice below) and the
// recording device for tests (gfx/RecordingDevice.h).
//
// Every operation returns an HRESULT from Common_Code/DeviceResult.h (D3D_OK, or a failure
// such as D3DERR_INVALIDCALL). Names and values of states, formats and flags are Direct3D's,
// kept as our own constants, so code above this layer reads like the calls it stands for.
//
// Resources are typed owning handles (std::unique_ptr of VertexBuffer, IndexBuffer,
// Texture, StateBlock): "release" is reset(), "null" is an empty pointer. No name of the
// underlying graphics library ever appears above gfx/. Release every handle before the
// device itself: the frame objects do so in OnDeviceDestroy / OnDeviceLost, which run
// before the framework releases the device. (The GL backend tolerates a late release, but
// the resource is already gone then.)
//
// Pools: everything lives in what Direct3D calls the managed pool. Reset keeps buffers and
// textures but forgets every device state, as Direct3D's Reset does; state blocks should be
// recorded again after it (the frame objects do so in OnDeviceRestore).
//
// Threads: the device and its resources are used by the main thread only.

#include <cstdint>
#include <memory>
#include <vector>

#include "Common_Code/DeviceResult.h"

namespace gfx {

using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = int;                // 1 or 0 (no TRUE/FALSE here: GLib defines them as macros)
using D3DCOLOR = std::uint32_t;  // A8R8G8B8

// A float render-state value (D3DRS_DEPTHBIAS) travels as its bit pattern, as in Direct3D.
DWORD FloatToDword(float value);
float DwordToFloat(DWORD value);

// ---------------------------------------------------------------------------------------
// Formats, pools, usages, lock flags

using D3DFORMAT = DWORD;
inline constexpr D3DFORMAT D3DFMT_UNKNOWN = 0;
inline constexpr D3DFORMAT D3DFMT_A8R8G8B8 = 21;
inline constexpr D3DFORMAT D3DFMT_X8R8G8B8 = 22;
inline constexpr D3DFORMAT D3DFMT_A8 = 28;
inline constexpr D3DFORMAT D3DFMT_D24S8 = 75;
inline constexpr D3DFORMAT D3DFMT_D16 = 80;
inline constexpr D3DFORMAT D3DFMT_INDEX16 = 101;
inline constexpr D3DFORMAT D3DFMT_INDEX32 = 102;

using D3DPOOL = DWORD;
inline constexpr D3DPOOL D3DPOOL_DEFAULT = 0;
inline constexpr D3DPOOL D3DPOOL_MANAGED = 1;
inline constexpr D3DPOOL D3DPOOL_SYSTEMMEM = 2;

inline constexpr DWORD D3DUSAGE_WRITEONLY = 0x8;
inline constexpr DWORD D3DUSAGE_DYNAMIC = 0x200;

inline constexpr DWORD D3DLOCK_READONLY = 0x10;
inline constexpr DWORD D3DLOCK_NOOVERWRITE = 0x1000;
inline constexpr DWORD D3DLOCK_DISCARD = 0x2000;

// ---------------------------------------------------------------------------------------
// Flexible vertex formats. The three this program uses:
//   0x52  = XYZ | NORMAL | DIFFUSE      28 bytes: position, normal, colour (the scene)
//   0x44  = XYZRHW | DIFFUSE            20 bytes: x, y in pixels (y down), z, rhw, colour
//   0x144 = XYZRHW | DIFFUSE | TEX1     28 bytes: the above plus u, v
// and 0x12 = XYZ | NORMAL (24 bytes) of the sphere mesh.

inline constexpr DWORD D3DFVF_XYZ = 0x002;
inline constexpr DWORD D3DFVF_XYZRHW = 0x004;
inline constexpr DWORD D3DFVF_NORMAL = 0x010;
inline constexpr DWORD D3DFVF_DIFFUSE = 0x040;
inline constexpr DWORD D3DFVF_SPECULAR = 0x080;
inline constexpr DWORD D3DFVF_TEX1 = 0x100;

// Bytes per vertex of an FVF this layer knows; 0 for any other.
UINT FvfStride(DWORD fvf);

// ---------------------------------------------------------------------------------------
// Render states and their values

using D3DRENDERSTATETYPE = DWORD;
inline constexpr D3DRENDERSTATETYPE D3DRS_ZENABLE = 7;
inline constexpr D3DRENDERSTATETYPE D3DRS_FILLMODE = 8;
inline constexpr D3DRENDERSTATETYPE D3DRS_SHADEMODE = 9;
inline constexpr D3DRENDERSTATETYPE D3DRS_ZWRITEENABLE = 14;
inline constexpr D3DRENDERSTATETYPE D3DRS_ALPHATESTENABLE = 15;
inline constexpr D3DRENDERSTATETYPE D3DRS_SRCBLEND = 19;
inline constexpr D3DRENDERSTATETYPE D3DRS_DESTBLEND = 20;
inline constexpr D3DRENDERSTATETYPE D3DRS_CULLMODE = 22;
inline constexpr D3DRENDERSTATETYPE D3DRS_ZFUNC = 23;
inline constexpr D3DRENDERSTATETYPE D3DRS_ALPHAREF = 24;
inline constexpr D3DRENDERSTATETYPE D3DRS_ALPHAFUNC = 25;
inline constexpr D3DRENDERSTATETYPE D3DRS_DITHERENABLE = 26;
inline constexpr D3DRENDERSTATETYPE D3DRS_ALPHABLENDENABLE = 27;
inline constexpr D3DRENDERSTATETYPE D3DRS_SPECULARENABLE = 29;
inline constexpr D3DRENDERSTATETYPE D3DRS_TEXTUREFACTOR = 60;
inline constexpr D3DRENDERSTATETYPE D3DRS_CLIPPING = 136;
inline constexpr D3DRENDERSTATETYPE D3DRS_LIGHTING = 137;
inline constexpr D3DRENDERSTATETYPE D3DRS_AMBIENT = 139;
inline constexpr D3DRENDERSTATETYPE D3DRS_COLORVERTEX = 141;
inline constexpr D3DRENDERSTATETYPE D3DRS_NORMALIZENORMALS = 143;
inline constexpr D3DRENDERSTATETYPE D3DRS_CLIPPLANEENABLE = 152;
inline constexpr D3DRENDERSTATETYPE D3DRS_BLENDOP = 171;
inline constexpr D3DRENDERSTATETYPE D3DRS_SCISSORTESTENABLE = 174;
inline constexpr D3DRENDERSTATETYPE D3DRS_SLOPESCALEDEPTHBIAS = 175;
inline constexpr D3DRENDERSTATETYPE D3DRS_DEPTHBIAS = 195;  // float bits, 0..1 depth units
inline constexpr D3DRENDERSTATETYPE D3DRS_MAX = 210;        // one past the largest number

inline constexpr DWORD D3DZB_FALSE = 0;
inline constexpr DWORD D3DZB_TRUE = 1;

inline constexpr DWORD D3DFILL_POINT = 1;
inline constexpr DWORD D3DFILL_WIREFRAME = 2;
inline constexpr DWORD D3DFILL_SOLID = 3;

inline constexpr DWORD D3DSHADE_FLAT = 1;
inline constexpr DWORD D3DSHADE_GOURAUD = 2;

// D3DCULL_CCW culls triangles whose corners appear counter-clockwise on screen.
inline constexpr DWORD D3DCULL_NONE = 1;
inline constexpr DWORD D3DCULL_CW = 2;
inline constexpr DWORD D3DCULL_CCW = 3;

inline constexpr DWORD D3DBLEND_ZERO = 1;
inline constexpr DWORD D3DBLEND_ONE = 2;
inline constexpr DWORD D3DBLEND_SRCCOLOR = 3;
inline constexpr DWORD D3DBLEND_INVSRCCOLOR = 4;
inline constexpr DWORD D3DBLEND_SRCALPHA = 5;
inline constexpr DWORD D3DBLEND_INVSRCALPHA = 6;
inline constexpr DWORD D3DBLEND_DESTALPHA = 7;
inline constexpr DWORD D3DBLEND_INVDESTALPHA = 8;
inline constexpr DWORD D3DBLEND_DESTCOLOR = 9;
inline constexpr DWORD D3DBLEND_INVDESTCOLOR = 10;

inline constexpr DWORD D3DBLENDOP_ADD = 1;

inline constexpr DWORD D3DCMP_NEVER = 1;
inline constexpr DWORD D3DCMP_LESS = 2;
inline constexpr DWORD D3DCMP_EQUAL = 3;
inline constexpr DWORD D3DCMP_LESSEQUAL = 4;
inline constexpr DWORD D3DCMP_GREATER = 5;
inline constexpr DWORD D3DCMP_NOTEQUAL = 6;
inline constexpr DWORD D3DCMP_GREATEREQUAL = 7;
inline constexpr DWORD D3DCMP_ALWAYS = 8;

inline constexpr DWORD D3DCLIPPLANE0 = 1;  // bit of D3DRS_CLIPPLANEENABLE

// ---------------------------------------------------------------------------------------
// Texture stages and samplers (one stage is honoured: stage 0)

using D3DTEXTURESTAGESTATETYPE = DWORD;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLOROP = 1;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG1 = 2;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG2 = 3;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAOP = 4;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAARG1 = 5;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAARG2 = 6;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_TEXCOORDINDEX = 11;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_TEXTURETRANSFORMFLAGS = 24;
inline constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_MAX = 33;

inline constexpr DWORD D3DTOP_DISABLE = 1;
inline constexpr DWORD D3DTOP_SELECTARG1 = 2;
inline constexpr DWORD D3DTOP_SELECTARG2 = 3;
inline constexpr DWORD D3DTOP_MODULATE = 4;
inline constexpr DWORD D3DTOP_MODULATE2X = 5;
inline constexpr DWORD D3DTOP_MODULATE4X = 6;
inline constexpr DWORD D3DTOP_ADD = 7;

inline constexpr DWORD D3DTA_SELECTMASK = 0x0F;
inline constexpr DWORD D3DTA_DIFFUSE = 0;
inline constexpr DWORD D3DTA_CURRENT = 1;
inline constexpr DWORD D3DTA_TEXTURE = 2;
inline constexpr DWORD D3DTA_TFACTOR = 3;
inline constexpr DWORD D3DTA_SPECULAR = 4;
inline constexpr DWORD D3DTA_COMPLEMENT = 0x10;
inline constexpr DWORD D3DTA_ALPHAREPLICATE = 0x20;

using D3DSAMPLERSTATETYPE = DWORD;
inline constexpr D3DSAMPLERSTATETYPE D3DSAMP_ADDRESSU = 1;
inline constexpr D3DSAMPLERSTATETYPE D3DSAMP_ADDRESSV = 2;
inline constexpr D3DSAMPLERSTATETYPE D3DSAMP_MAGFILTER = 5;
inline constexpr D3DSAMPLERSTATETYPE D3DSAMP_MINFILTER = 6;
inline constexpr D3DSAMPLERSTATETYPE D3DSAMP_MIPFILTER = 7;
inline constexpr D3DSAMPLERSTATETYPE D3DSAMP_MAX = 14;

inline constexpr DWORD D3DTEXF_NONE = 0;
inline constexpr DWORD D3DTEXF_POINT = 1;
inline constexpr DWORD D3DTEXF_LINEAR = 2;

inline constexpr DWORD D3DTADDRESS_WRAP = 1;
inline constexpr DWORD D3DTADDRESS_CLAMP = 3;

// ---------------------------------------------------------------------------------------
// Transforms, primitives, clearing, state blocks

using D3DTRANSFORMSTATETYPE = DWORD;
inline constexpr D3DTRANSFORMSTATETYPE D3DTS_VIEW = 2;
inline constexpr D3DTRANSFORMSTATETYPE D3DTS_PROJECTION = 3;
inline constexpr D3DTRANSFORMSTATETYPE D3DTS_WORLD = 256;

using D3DPRIMITIVETYPE = DWORD;
inline constexpr D3DPRIMITIVETYPE D3DPT_POINTLIST = 1;
inline constexpr D3DPRIMITIVETYPE D3DPT_LINELIST = 2;
inline constexpr D3DPRIMITIVETYPE D3DPT_LINESTRIP = 3;
inline constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLELIST = 4;
inline constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLESTRIP = 5;
inline constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLEFAN = 6;

// Vertices used by primitiveCount primitives of this type (0 for an unknown type).
UINT VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT primitiveCount);

// The codes of Device::DrawIndexedOutline, one byte per vertex.
inline constexpr std::uint8_t kOutlineFirst = 1;  // the first corner of its polygon
inline constexpr std::uint8_t kOutlineHalf = 2;   // the edge to the next corner: a polygon across
inline constexpr std::uint8_t kOutlineWhole = 4;  // the edge to the next corner: no polygon across
// The most corners a polygon of Device::DrawIndexedOutline may have: the edges of a larger
// one are drawn only as far as its sixth corner.
inline constexpr std::uint32_t kFilledOutlineCorners = 6;

inline constexpr DWORD D3DCLEAR_TARGET = 0x1;
inline constexpr DWORD D3DCLEAR_ZBUFFER = 0x2;
inline constexpr DWORD D3DCLEAR_STENCIL = 0x4;

using D3DSTATEBLOCKTYPE = DWORD;
inline constexpr D3DSTATEBLOCKTYPE D3DSBT_ALL = 1;
inline constexpr D3DSTATEBLOCKTYPE D3DSBT_PIXELSTATE = 2;
inline constexpr D3DSTATEBLOCKTYPE D3DSBT_VERTEXSTATE = 3;

// ---------------------------------------------------------------------------------------
// Presentation and device creation (values the framework fills in)

inline constexpr UINT D3DADAPTER_DEFAULT = 0;
inline constexpr DWORD D3DDEVTYPE_HAL = 1;
inline constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
inline constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
inline constexpr DWORD D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;
inline constexpr DWORD D3DMULTISAMPLE_NONE = 0;
inline constexpr DWORD D3DSWAPEFFECT_DISCARD = 1;
inline constexpr DWORD D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL = 0x2;
inline constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0;
inline constexpr UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

struct D3DPRESENT_PARAMETERS {
  UINT BackBufferWidth = 0;
  UINT BackBufferHeight = 0;
  D3DFORMAT BackBufferFormat = D3DFMT_A8R8G8B8;
  UINT BackBufferCount = 2;
  DWORD MultiSampleType = D3DMULTISAMPLE_NONE;
  DWORD MultiSampleQuality = 0;
  DWORD SwapEffect = D3DSWAPEFFECT_DISCARD;
  void* hDeviceWindow = nullptr;  // opaque; the GL backend draws to its Surface instead
  BOOL Windowed = 1;
  BOOL EnableAutoDepthStencil = 0;
  D3DFORMAT AutoDepthStencilFormat = D3DFMT_UNKNOWN;
  DWORD Flags = 0;
  UINT FullScreen_RefreshRateInHz = 0;
  UINT PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
};

// ---------------------------------------------------------------------------------------
// Plain records

struct D3DVECTOR {
  float x = 0, y = 0, z = 0;
};

// Row-vector convention: a point p transforms as p * M; m[3][0..2] is the translation.
struct D3DMATRIX {
  float m[4][4] = {};
};

struct D3DCOLORVALUE {
  float r = 0, g = 0, b = 0, a = 0;
};

struct D3DMATERIAL9 {
  D3DCOLORVALUE Diffuse, Ambient, Specular, Emissive;
  float Power = 0;
};

inline constexpr DWORD D3DLIGHT_POINT = 1;
inline constexpr DWORD D3DLIGHT_SPOT = 2;
inline constexpr DWORD D3DLIGHT_DIRECTIONAL = 3;

// Direction is where the light travels (world space, need not be normalised).
struct D3DLIGHT9 {
  DWORD Type = D3DLIGHT_DIRECTIONAL;
  D3DCOLORVALUE Diffuse, Specular, Ambient;
  D3DVECTOR Position, Direction;
  float Range = 0, Falloff = 0, Attenuation0 = 0, Attenuation1 = 0, Attenuation2 = 0;
  float Theta = 0, Phi = 0;
};

struct D3DVIEWPORT9 {
  DWORD X = 0, Y = 0, Width = 0, Height = 0;
  float MinZ = 0, MaxZ = 1;
};

// The device's limits this program reads (of Direct3D's D3DCAPS9). The largest texture is
// also the largest back buffer the device draws whole.
struct D3DCAPS9 {
  DWORD MaxTextureWidth = 0, MaxTextureHeight = 0;
};

struct D3DLOCKED_RECT {
  INT Pitch = 0;  // bytes from one row to the next
  void* pBits = nullptr;
};

// ---------------------------------------------------------------------------------------
// Resources

// Vertex data in the managed pool. Lock(0, 0, ...) locks the whole buffer; the memory is
// writable (and holds the last contents) until Unlock, which uploads it.
class VertexBuffer {
 public:
  virtual ~VertexBuffer() = default;
  virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
  virtual UINT Length() const = 0;  // bytes
  virtual DWORD Fvf() const = 0;
};

// 16-bit (D3DFMT_INDEX16) or 32-bit (D3DFMT_INDEX32) indices in the managed pool.
class IndexBuffer {
 public:
  virtual ~IndexBuffer() = default;
  virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
  virtual HRESULT Unlock() = 0;
  virtual UINT Length() const = 0;  // bytes
  virtual D3DFORMAT Format() const = 0;
};

// A 2D texture, one level, D3DFMT_A8R8G8B8 or D3DFMT_A8, in the managed pool. LockRect of
// level 0 gives the whole image, rows top to bottom.
class Texture {
 public:
  virtual ~Texture() = default;
  virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, DWORD flags) = 0;
  virtual HRESULT UnlockRect(UINT level) = 0;
  virtual UINT Width() const = 0;
  virtual UINT Height() const = 0;
  virtual D3DFORMAT Format() const = 0;
};

// A recorded set of device settings. Apply sets them again; Capture (for a block made by
// CreateStateBlock) reads the current values of the states it holds.
class StateBlock {
 public:
  virtual ~StateBlock() = default;
  virtual HRESULT Apply() = 0;
  virtual HRESULT Capture() = 0;
};

using VertexBufferPtr = std::unique_ptr<VertexBuffer>;
using IndexBufferPtr = std::unique_ptr<IndexBuffer>;
using TexturePtr = std::unique_ptr<Texture>;
using StateBlockPtr = std::unique_ptr<StateBlock>;

// ---------------------------------------------------------------------------------------
// The device

class Device {
 public:
  virtual ~Device() = default;

  // Life. TestCooperativeLevel: D3D_OK, D3DERR_DEVICELOST or D3DERR_DEVICENOTRESET.
  // Reset takes a new back-buffer size; buffers and textures survive, states return to
  // their defaults. Present shows the back buffer without waiting for the retrace when the
  // presentation interval is immediate.
  virtual HRESULT TestCooperativeLevel() = 0;
  virtual HRESULT Reset(const D3DPRESENT_PARAMETERS& parameters) = 0;
  virtual HRESULT Present() = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  // Whole viewport only (Direct3D's rectangle list is never used here).
  virtual HRESULT Clear(DWORD flags, D3DCOLOR colour, float z, DWORD stencil) = 0;
  // Copies the back buffer, as drawn since the last Present, into rgba: width * height
  // pixels of four bytes (red, green, blue, alpha), the top row first. Outside a scene only
  // (D3DERR_INVALIDCALL between BeginScene and EndScene); call it before Present, which
  // leaves the back buffer undefined.
  virtual HRESULT ReadBackBuffer(std::vector<std::uint8_t>& rgba, UINT& width, UINT& height) = 0;

  // State blocks. Between BeginStateBlock and EndStateBlock the Set* calls are recorded
  // into the block instead of changing the device.
  virtual HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, StateBlockPtr& block) = 0;
  virtual HRESULT BeginStateBlock() = 0;
  virtual HRESULT EndStateBlock(StateBlockPtr& block) = 0;

  // States.
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
  virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
  virtual HRESULT SetTexture(DWORD stage, Texture* texture) = 0;  // null: none
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& matrix) = 0;
  virtual HRESULT SetMaterial(const D3DMATERIAL9& material) = 0;
  virtual HRESULT SetLight(DWORD index, const D3DLIGHT9& light) = 0;
  virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
  // World-space plane (a, b, c, d); the side where a x + b y + c z + d >= 0 is kept while
  // the plane's bit is set in D3DRS_CLIPPLANEENABLE.
  virtual HRESULT SetClipPlane(DWORD index, const float plane[4]) = 0;
  virtual HRESULT SetFVF(DWORD fvf) = 0;
  virtual HRESULT SetViewport(const D3DVIEWPORT9& viewport) = 0;
  virtual HRESULT GetViewport(D3DVIEWPORT9& viewport) = 0;
  virtual HRESULT GetDeviceCaps(D3DCAPS9& caps) = 0;

  // Resources (usage: D3DUSAGE_* bits; pool: D3DPOOL_MANAGED).
  virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, VertexBufferPtr& buffer) = 0;
  virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    IndexBufferPtr& buffer) = 0;
  virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                TexturePtr& texture) = 0;

  // Geometry. The device does not own what is set; keep it alive while it is set.
  virtual HRESULT SetStreamSource(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride) = 0;
  virtual HRESULT SetIndices(IndexBuffer* buffer) = 0;
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
  virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT numVertices,
                                       UINT startIndex, UINT primitiveCount) = 0;
  virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData, UINT stride) = 0;
  // The wireframe of convex polygons: their edges as one-pixel lines in the current states
  // (never culled), the outline of each polygon once. The polygons' corners are consecutive
  // vertices of the stream, and primitiveCount triangles from startIndex of the set index
  // buffer are their fans, (f, f + k - 1, f + k) for k = 2 ... over a polygon whose first
  // corner is f. outline[v - minIndex] (v from minIndex, numVertices of them): kOutlineFirst
  // when v is the first corner of its polygon, plus the edge from v to the next corner (the
  // last one's to the first): kOutlineHalf where a polygon across the edge is drawn too (it
  // draws the other half of the line), kOutlineWhole where none is. A renderer may draw an
  // edge with no polygon across on its inner side. Polygons of at most kFilledOutlineCorners
  // corners; the stream's vertex buffer is read up to five vertices past the last one.
  virtual HRESULT DrawIndexedOutline(UINT minIndex, UINT numVertices, UINT startIndex, UINT primitiveCount,
                                     const std::uint8_t* outline) = 0;
  virtual HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT primitiveCount,
                                         const void* indexData, D3DFORMAT indexFormat, const void* vertexData,
                                         UINT stride) = 0;
};

// ---------------------------------------------------------------------------------------
// The GL backend's window side. The window system (framework/) implements it for its
// window; the device draws into it. The GL 3.3 core context must exist before
// CreateGLDevice is called (it belongs to the surface, made with a depth buffer when the
// present parameters ask for one).
class Surface {
 public:
  virtual ~Surface() = default;
  // Makes the surface's GL context current on the calling thread; false on failure.
  virtual bool MakeCurrent() = 0;
  // Shows the back buffer.
  virtual void SwapBuffers() = 0;
  // The drawable's size in pixels.
  virtual void GetDrawableSize(int& width, int& height) = 0;
  // Asks for presentation without waiting for the retrace (interval 0); false if refused.
  virtual bool DisableVsync() = 0;
};

// Creates the OpenGL device for surface (which must outlive the device). Fails with
// D3DERR_NOTAVAILABLE when the context is not OpenGL 3.3 or later, D3DERR_INVALIDCALL when
// the surface cannot be made current or the parameters are unusable, E_FAIL when the
// shaders do not build. Defined in the qv_gfx_gl library.
HRESULT CreateGLDevice(Surface& surface, const D3DPRESENT_PARAMETERS& parameters, std::unique_ptr<Device>& device);

}  // namespace gfx
