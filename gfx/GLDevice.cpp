// The OpenGL 3.3 core device. Every state lives in one State record; a draw call turns the
// record into GL state and shader uniforms at once, so state blocks are plain copies (a
// D3DSBT_ALL block) or lists of recorded setter calls (BeginStateBlock ... EndStateBlock).
//
// Platform meanings kept from Direct3D:
// - pre-transformed vertices: x, y in pixels of the viewport with y down, z in 0..1;
// - depth 0..1 with the bias added in 0..1 units; D3DCULL_CCW culls triangles that appear
//   counter-clockwise on screen;
// - wireframe fill of triangle lists from a vertex buffer is drawn as the filled triangles,
//   keeping only the pixels within half a pixel of an edge (a whole pixel inside where the
//   triangle across is culled or missing), so that the edges of culled triangles are left
//   out and the picture is that of one-pixel lines: on a software renderer one more filled
//   pass costs far less than a line per edge. DrawIndexedOutline (the section's polygons)
//   is drawn the same way over the polygons' fans, the fans' diagonals left out. Indexed and
//   user-memory triangle lists are
//   drawn as lines over the triangles' edges, each shared edge once, a geometry shader
//   leaving out the edges of culled triangles (the same picture as polygon-mode lines,
//   several times faster on software renderers); other primitives in wireframe use the
//   polygon mode;
// - pixel (i, j) covers [i, i + 1) x [j, j + 1): a rectangle on whole pixels covers what
//   Direct3D 9 covers, without its half-pixel offset for texel centres;
// - lighting: the first enabled directional light, diffuse and ambient terms, the vertex
//   colour as the diffuse material when the format has one (Direct3D's default
//   D3DRS_DIFFUSEMATERIALSOURCE); specular is not computed (D3DRS_SPECULARENABLE is never
//   set); normals are normalised only with D3DRS_NORMALIZENORMALS, as in Direct3D;
// - CreateStateBlock captures every state whatever the type asked for;
// - managed buffers keep their contents across Reset (the context survives it); there is
//   no lost device: TestCooperativeLevel always succeeds.
#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "gfx/Device.h"
#include "gfx/GLPrograms.h"
#include "gfx/GLResources.h"
#include "gfx/Math.h"

namespace gfx {

namespace {

using namespace gl;

constexpr int kMaxLights = 8;

struct State {
  DWORD render[D3DRS_MAX] = {};
  DWORD stage[D3DTSS_MAX] = {};  // stage 0 only
  DWORD sampler[D3DSAMP_MAX] = {};
  D3DMATRIX world, view, projection;
  D3DMATERIAL9 material;
  D3DLIGHT9 lights[kMaxLights];
  bool lightOn[kMaxLights] = {};
  float clipPlane[4] = {0, 0, 0, 0};
  DWORD fvf = 0;
  VertexBuffer* stream = nullptr;
  UINT streamOffset = 0;
  UINT streamStride = 0;
  IndexBuffer* indices = nullptr;
  Texture* texture = nullptr;
  D3DVIEWPORT9 viewport;
};

void DefaultState(State& s, UINT width, UINT height) {
  s = State{};
  s.render[D3DRS_ZENABLE] = D3DZB_TRUE;
  s.render[D3DRS_FILLMODE] = D3DFILL_SOLID;
  s.render[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  s.render[D3DRS_ZWRITEENABLE] = 1;
  s.render[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  s.render[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  s.render[D3DRS_CULLMODE] = D3DCULL_CCW;
  s.render[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  s.render[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  s.render[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  s.render[D3DRS_CLIPPING] = 1;
  s.render[D3DRS_LIGHTING] = 1;
  s.render[D3DRS_COLORVERTEX] = 1;
  s.render[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  s.stage[D3DTSS_COLOROP] = D3DTOP_MODULATE;
  s.stage[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
  s.stage[D3DTSS_COLORARG2] = D3DTA_CURRENT;
  s.stage[D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;
  s.stage[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
  s.stage[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
  s.sampler[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
  s.sampler[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
  s.sampler[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
  s.sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
  D3DXMatrixIdentity(&s.world);
  D3DXMatrixIdentity(&s.view);
  D3DXMatrixIdentity(&s.projection);
  for (auto& l : s.lights) {
    l.Diffuse = {1, 1, 1, 0};
    l.Direction = {0, 0, 1};
  }
  s.viewport = {0, 0, width, height, 0.0f, 1.0f};
}

GLenum BlendFactor(DWORD blend) {
  switch (blend) {
    case D3DBLEND_ZERO:
      return GL_ZERO;
    case D3DBLEND_ONE:
      return GL_ONE;
    case D3DBLEND_SRCCOLOR:
      return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
      return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
      return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
      return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
      return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
      return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
      return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
      return GL_ONE_MINUS_DST_COLOR;
    default:
      return GL_ONE;
  }
}

GLenum CompareFunc(DWORD cmp) {
  switch (cmp) {
    case D3DCMP_NEVER:
      return GL_NEVER;
    case D3DCMP_LESS:
      return GL_LESS;
    case D3DCMP_EQUAL:
      return GL_EQUAL;
    case D3DCMP_LESSEQUAL:
      return GL_LEQUAL;
    case D3DCMP_GREATER:
      return GL_GREATER;
    case D3DCMP_NOTEQUAL:
      return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
      return GL_GEQUAL;
    default:
      return GL_ALWAYS;
  }
}

GLenum PrimitiveMode(D3DPRIMITIVETYPE type) {
  switch (type) {
    case D3DPT_POINTLIST:
      return GL_POINTS;
    case D3DPT_LINELIST:
      return GL_LINES;
    case D3DPT_LINESTRIP:
      return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST:
      return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP:
      return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN:
      return GL_TRIANGLE_FAN;
    default:
      return GL_TRIANGLES;
  }
}

void ColourOf(D3DCOLOR c, float out[4]) {
  out[0] = ((c >> 16) & 0xFF) / 255.0f;
  out[1] = ((c >> 8) & 0xFF) / 255.0f;
  out[2] = (c & 0xFF) / 255.0f;
  out[3] = ((c >> 24) & 0xFF) / 255.0f;
}

// Indices of the three edges of each triangle of a triangle list, as line pairs.
class GLDevice;

class GLStateBlock final : public StateBlock {
 public:
  HRESULT Apply() override;
  HRESULT Capture() override;

  GLDevice* device = nullptr;
  std::shared_ptr<Liveness> live;
  bool all = false;
  State snapshot;                                     // a D3DSBT_ALL block
  std::vector<std::function<void(GLDevice&)>> calls;  // a recorded block
};

class GLDevice final : public Device {
 public:
  GLDevice(Surface& surface) : surface(surface), live(std::make_shared<Liveness>()) {
    live->forget = [this](const void* resource) {
      if (state.stream == resource) state.stream = nullptr;
      if (state.indices == resource) state.indices = nullptr;
      if (state.texture == resource) state.texture = nullptr;
    };
  }

  ~GLDevice() override {
    live->alive = false;
    if (!vao || !surface.MakeCurrent()) return;
    glDeleteBuffers(1, &upVertices);
    glDeleteBuffers(1, &upIndices);
    glDeleteBuffers(1, &outlineBuffer);
    glDeleteVertexArrays(1, &vao);
    programs.reset();
  }

  HRESULT Init(const D3DPRESENT_PARAMETERS& p) {
    if (!surface.MakeCurrent()) return D3DERR_INVALIDCALL;
    if (!epoxy_is_desktop_gl() || epoxy_gl_version() < 33) return D3DERR_NOTAVAILABLE;
    // The scene's program, built now so that a driver that cannot compile it fails here.
    // The scene's programs, solid and wire, built now so that a driver that cannot compile
    // them fails here.
    ProgramKey scene{false,
                     true,
                     true,
                     false,
                     true,
                     true,
                     false,
                     true,
                     false,
                     0,
                     false,
                     D3DTOP_SELECTARG1,
                     D3DTA_DIFFUSE,
                     D3DTA_CURRENT,
                     D3DTOP_SELECTARG1,
                     D3DTA_DIFFUSE,
                     D3DTA_CURRENT};
    if (!programs->For(scene)) return E_FAIL;
    scene.wireCull = 3;
    if (!programs->For(scene)) return E_FAIL;
    scene.wireCull = 0;
    scene.wireFill = 1;
    if (!programs->For(scene)) return E_FAIL;
    scene.wireFill = 2;
    if (!programs->For(scene)) return E_FAIL;
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &upVertices);
    glGenBuffers(1, &upIndices);
    glGenBuffers(1, &outlineBuffer);
    return Reset(p);
  }

  // --- life

  HRESULT TestCooperativeLevel() override { return D3D_OK; }

  HRESULT Reset(const D3DPRESENT_PARAMETERS& p) override {
    if (inScene || recording) return D3DERR_INVALIDCALL;
    parameters = p;
    int w = static_cast<int>(p.BackBufferWidth), h = static_cast<int>(p.BackBufferHeight);
    if (w <= 0 || h <= 0) surface.GetDrawableSize(w, h);
    if (w <= 0 || h <= 0) return D3DERR_INVALIDCALL;
    width = static_cast<UINT>(w);
    height = static_cast<UINT>(h);
    if (p.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE) surface.DisableVsync();
    DefaultState(state, width, height);
    return D3D_OK;
  }

  HRESULT Present() override {
    if (inScene) return D3DERR_INVALIDCALL;
    surface.SwapBuffers();
    return D3D_OK;
  }

  HRESULT ReadBackBuffer(std::vector<std::uint8_t>& rgba, UINT& w, UINT& h) override {
    if (inScene) return D3DERR_INVALIDCALL;
    w = width;
    h = height;
    const std::size_t row = std::size_t{width} * 4;
    rgba.resize(row * height);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA, GL_UNSIGNED_BYTE,
                 rgba.data());
    if (glGetError() != GL_NO_ERROR) return D3DERR_INVALIDCALL;
    // GL's rows run from the bottom up; the picture's from the top down.
    std::vector<std::uint8_t> swap(row);
    for (UINT y = 0; y < height / 2; ++y) {
      std::uint8_t* top = rgba.data() + row * y;
      std::uint8_t* bottom = rgba.data() + row * (height - 1 - y);
      std::memcpy(swap.data(), top, row);
      std::memcpy(top, bottom, row);
      std::memcpy(bottom, swap.data(), row);
    }
    return D3D_OK;
  }

  HRESULT BeginScene() override {
    if (inScene) return D3DERR_INVALIDCALL;
    inScene = true;
    return D3D_OK;
  }

  HRESULT EndScene() override {
    if (!inScene) return D3DERR_INVALIDCALL;
    inScene = false;
    glFlush();
    return D3D_OK;
  }

  HRESULT Clear(DWORD flags, D3DCOLOR colour, float z, DWORD stencil) override {
    ApplyViewport();
    glDisable(GL_SCISSOR_TEST);
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
      float c[4];
      ColourOf(colour, c);
      glClearColor(c[0], c[1], c[2], c[3]);
      glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
      mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
      glClearDepth(z);
      glDepthMask(GL_TRUE);
      mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_STENCIL) {
      glClearStencil(static_cast<GLint>(stencil));
      glStencilMask(~0u);
      mask |= GL_STENCIL_BUFFER_BIT;
    }
    // The viewport alone limits a Direct3D clear.
    if (state.viewport.X != 0 || state.viewport.Y != 0 || state.viewport.Width != width ||
        state.viewport.Height != height) {
      glEnable(GL_SCISSOR_TEST);
      glScissor(static_cast<GLint>(state.viewport.X),
                static_cast<GLint>(height) - static_cast<GLint>(state.viewport.Y + state.viewport.Height),
                static_cast<GLsizei>(state.viewport.Width), static_cast<GLsizei>(state.viewport.Height));
    }
    glClear(mask);
    glDisable(GL_SCISSOR_TEST);
    return D3D_OK;
  }

  // --- state blocks

  HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE, StateBlockPtr& block) override {
    block.reset();
    if (recording) return D3DERR_INVALIDCALL;
    auto made = std::make_unique<GLStateBlock>();
    made->device = this;
    made->live = live;
    made->all = true;
    made->snapshot = state;
    block = std::move(made);
    return D3D_OK;
  }

  HRESULT BeginStateBlock() override {
    if (recording) return D3DERR_INVALIDCALL;
    recording = std::make_unique<GLStateBlock>();
    recording->device = this;
    recording->live = live;
    return D3D_OK;
  }

  HRESULT EndStateBlock(StateBlockPtr& block) override {
    block.reset();
    if (!recording) return D3DERR_INVALIDCALL;
    block = std::move(recording);
    return D3D_OK;
  }

  // Records the call while a block is open; true when it was recorded.
  template <class F>
  bool Recorded(F call) {
    if (!recording) return false;
    recording->calls.push_back(std::move(call));
    return true;
  }

  // --- states

  HRESULT SetRenderState(D3DRENDERSTATETYPE s, DWORD value) override {
    if (s >= D3DRS_MAX) return D3DERR_INVALIDCALL;
    if (!Recorded([=](GLDevice& d) { d.SetRenderState(s, value); })) state.render[s] = value;
    return D3D_OK;
  }

  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE t, DWORD value) override {
    if (t >= D3DTSS_MAX || stage >= 8) return D3DERR_INVALIDCALL;
    if (!Recorded([=](GLDevice& d) { d.SetTextureStageState(stage, t, value); }) && stage == 0) {
      state.stage[t] = value;
    }
    return D3D_OK;
  }

  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE t, DWORD value) override {
    if (t >= D3DSAMP_MAX || sampler >= 16) return D3DERR_INVALIDCALL;
    if (!Recorded([=](GLDevice& d) { d.SetSamplerState(sampler, t, value); }) && sampler == 0) {
      state.sampler[t] = value;
    }
    return D3D_OK;
  }

  HRESULT SetTexture(DWORD stage, Texture* texture) override {
    if (stage >= 8) return D3DERR_INVALIDCALL;
    if (!Recorded([=](GLDevice& d) { d.SetTexture(stage, texture); }) && stage == 0) {
      state.texture = texture;
    }
    return D3D_OK;
  }

  HRESULT SetTransform(D3DTRANSFORMSTATETYPE t, const D3DMATRIX& m) override {
    if (t != D3DTS_WORLD && t != D3DTS_VIEW && t != D3DTS_PROJECTION) return D3DERR_INVALIDCALL;
    if (Recorded([=](GLDevice& d) { d.SetTransform(t, m); })) return D3D_OK;
    (t == D3DTS_WORLD ? state.world : t == D3DTS_VIEW ? state.view : state.projection) = m;
    return D3D_OK;
  }

  HRESULT SetMaterial(const D3DMATERIAL9& m) override {
    if (!Recorded([=](GLDevice& d) { d.SetMaterial(m); })) state.material = m;
    return D3D_OK;
  }

  HRESULT SetLight(DWORD index, const D3DLIGHT9& light) override {
    if (index >= kMaxLights) return D3DERR_INVALIDCALL;
    if (!Recorded([=](GLDevice& d) { d.SetLight(index, light); })) state.lights[index] = light;
    return D3D_OK;
  }

  HRESULT LightEnable(DWORD index, BOOL enable) override {
    if (index >= kMaxLights) return D3DERR_INVALIDCALL;
    if (!Recorded([=](GLDevice& d) { d.LightEnable(index, enable); })) {
      state.lightOn[index] = enable != 0;
    }
    return D3D_OK;
  }

  HRESULT SetClipPlane(DWORD index, const float plane[4]) override {
    if (index != 0 || !plane) return D3DERR_INVALIDCALL;
    const float p[4] = {plane[0], plane[1], plane[2], plane[3]};
    if (!Recorded([=](GLDevice& d) { d.SetClipPlane(index, p); })) {
      std::memcpy(state.clipPlane, p, sizeof p);
    }
    return D3D_OK;
  }

  HRESULT SetFVF(DWORD fvf) override {
    if (!Recorded([=](GLDevice& d) { d.SetFVF(fvf); })) state.fvf = fvf;
    return D3D_OK;
  }

  HRESULT SetViewport(const D3DVIEWPORT9& v) override {
    if (v.Width == 0 || v.Height == 0 || v.X + v.Width > width || v.Y + v.Height > height) {
      return D3DERR_INVALIDCALL;
    }
    if (!Recorded([=](GLDevice& d) { d.SetViewport(v); })) state.viewport = v;
    return D3D_OK;
  }

  HRESULT GetViewport(D3DVIEWPORT9& v) override {
    v = state.viewport;
    return D3D_OK;
  }

  HRESULT GetDeviceCaps(D3DCAPS9& caps) override {
    // The back buffer is the window's; what the device draws whole is bounded by its
    // viewport as well as by its textures.
    GLint texture = 0;
    GLint viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    caps.MaxTextureWidth = static_cast<DWORD>(std::max(0, std::min(texture, viewport[0])));
    caps.MaxTextureHeight = static_cast<DWORD>(std::max(0, std::min(texture, viewport[1])));
    return D3D_OK;
  }

  // --- resources

  HRESULT CreateVertexBuffer(UINT length, DWORD, DWORD fvf, D3DPOOL, VertexBufferPtr& buffer) override {
    buffer.reset();
    if (length == 0) return D3DERR_INVALIDCALL;
    glGetError();
    auto made = std::make_unique<GLVertexBuffer>(live, length, fvf);
    if (glGetError() == GL_OUT_OF_MEMORY) return D3DERR_OUTOFVIDEOMEMORY;
    buffer = std::move(made);
    return D3D_OK;
  }

  HRESULT CreateIndexBuffer(UINT length, DWORD, D3DFORMAT format, D3DPOOL, IndexBufferPtr& buffer) override {
    buffer.reset();
    if (length == 0 || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)) {
      return D3DERR_INVALIDCALL;
    }
    glGetError();
    auto made = std::make_unique<GLIndexBuffer>(live, length, format);
    if (glGetError() == GL_OUT_OF_MEMORY) return D3DERR_OUTOFVIDEOMEMORY;
    buffer = std::move(made);
    return D3D_OK;
  }

  HRESULT CreateTexture(UINT w, UINT h, UINT levels, DWORD, D3DFORMAT format, D3DPOOL, TexturePtr& texture) override {
    texture.reset();
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (w == 0 || h == 0 || w > static_cast<UINT>(maxSize) || h > static_cast<UINT>(maxSize) || levels > 1 ||
        (format != D3DFMT_A8R8G8B8 && format != D3DFMT_A8)) {
      return D3DERR_INVALIDCALL;
    }
    glGetError();
    auto made = std::make_unique<GLTexture>(live, w, h, format);
    if (glGetError() == GL_OUT_OF_MEMORY) return D3DERR_OUTOFVIDEOMEMORY;
    texture = std::move(made);
    return D3D_OK;
  }

  // --- geometry

  HRESULT SetStreamSource(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride) override {
    if (stream != 0) return D3DERR_INVALIDCALL;
    if (!Recorded([=](GLDevice& d) { d.SetStreamSource(stream, buffer, offset, stride); })) {
      state.stream = buffer;
      state.streamOffset = offset;
      state.streamStride = stride;
    }
    return D3D_OK;
  }

  HRESULT SetIndices(IndexBuffer* buffer) override {
    if (!Recorded([=](GLDevice& d) { d.SetIndices(buffer); })) state.indices = buffer;
    return D3D_OK;
  }

  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT count) override {
    auto* vb = static_cast<GLVertexBuffer*>(state.stream);
    const UINT vertices = VerticesForPrimitives(type, count);
    if (!vb || vertices == 0 ||
        state.streamOffset + (static_cast<std::uint64_t>(startVertex) + vertices) * state.streamStride > vb->Length() ||
        !Prepare(vb->name, state.streamOffset, state.streamStride, type,
                 Lines(type) ? static_cast<GLint>(startVertex) : -1)) {
      return D3DERR_INVALIDCALL;
    }
    if (Lines(type)) {
      glActiveTexture(GL_TEXTURE1);
      glBindTexture(GL_TEXTURE_BUFFER,
                    vb->Planes(state.streamOffset + startVertex * state.streamStride, state.streamStride, count));
      glActiveTexture(GL_TEXTURE0);
    }
    glDrawArrays(PrimitiveMode(type), static_cast<GLint>(startVertex), static_cast<GLsizei>(vertices));
    Finish();
    return D3D_OK;
  }

  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT, UINT, UINT startIndex,
                               UINT count) override {
    auto* vb = static_cast<GLVertexBuffer*>(state.stream);
    auto* ib = static_cast<GLIndexBuffer*>(state.indices);
    const UINT indices = VerticesForPrimitives(type, count);
    if (!vb || !ib || indices == 0 ||
        static_cast<std::size_t>(startIndex) + indices > ib->bytes.size() / ib->IndexSize() ||
        !Prepare(vb->name, state.streamOffset, state.streamStride, type)) {
      return D3DERR_INVALIDCALL;
    }
    if (Lines(type)) {
      GLsizei lineIndices = 0;
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib->Edges(startIndex, count, lineIndices));
      glDrawElementsBaseVertex(GL_LINES_ADJACENCY, lineIndices, GL_UNSIGNED_INT, nullptr, baseVertex);
    } else {
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib->Uploaded());
      glDrawElementsBaseVertex(PrimitiveMode(type), static_cast<GLsizei>(indices),
                               ib->IndexSize() == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                               reinterpret_cast<const void*>(static_cast<std::uintptr_t>(startIndex) * ib->IndexSize()),
                               baseVertex);
    }
    Finish();
    return D3D_OK;
  }

  HRESULT DrawIndexedOutline(UINT minIndex, UINT numVertices, UINT startIndex, UINT count,
                             const std::uint8_t* outline) override {
    auto* vb = static_cast<GLVertexBuffer*>(state.stream);
    auto* ib = static_cast<GLIndexBuffer*>(state.indices);
    if (!vb || !ib || !outline || count == 0 || numVertices == 0 ||
        static_cast<std::size_t>(startIndex) + 3ull * count > ib->bytes.size() / ib->IndexSize() ||
        state.streamStride > GLVertexBuffer::kLargestOutlineStride ||
        state.streamOffset + (std::uint64_t{minIndex} + numVertices) * state.streamStride > vb->Length() ||
        !Prepare(vb->name, state.streamOffset, state.streamStride, D3DPT_TRIANGLELIST, -1, true)) {
      return D3DERR_INVALIDCALL;
    }
    // Each polygon's first corner draws its outline (GLShaders.h): its code carries the
    // number of corners, and it reads the next five vertices' positions and codes beside
    // its own (past the last vertex, codes of 0).
    outlineCodes.assign(std::size_t{minIndex} + numVertices + 5, 0);
    std::uint16_t* codes = outlineCodes.data() + minIndex;
    for (UINT first = 0; first < numVertices;) {
      UINT end = first + 1;
      while (end < numVertices && !(outline[end] & kOutlineFirst)) ++end;
      codes[first] =
          static_cast<std::uint16_t>((outline[first] & 6) | kOutlineFirst | std::min<UINT>(end - first, 0x1FFF) << 3);
      for (UINT k = first + 1; k < end; ++k) codes[k] = outline[k] & 6;
      first = end;
    }
    glBindBuffer(GL_ARRAY_BUFFER, outlineBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(outlineCodes.size() * 2), outlineCodes.data(),
                 GL_STREAM_DRAW);
    glEnableVertexAttribArray(9);
    glVertexAttribIPointer(9, 4, GL_UNSIGNED_SHORT, 2, nullptr);
    glEnableVertexAttribArray(10);
    glVertexAttribIPointer(10, 2, GL_UNSIGNED_SHORT, 2, reinterpret_cast<const void*>(std::uintptr_t{8}));
    glBindBuffer(GL_ARRAY_BUFFER, vb->name);
    for (GLuint i = 1; i <= 5; ++i) {
      glEnableVertexAttribArray(3 + i);
      glVertexAttribPointer(3 + i, 3, GL_FLOAT, GL_FALSE, static_cast<GLsizei>(state.streamStride),
                            reinterpret_cast<const void*>(std::uintptr_t{state.streamOffset} + i * state.streamStride));
    }
    const Uniforms& u = current->u;
    GLint window[4];
    glGetIntegerv(GL_VIEWPORT, window);
    glUniform4f(u.window, static_cast<float>(window[0]), static_cast<float>(window[1]), static_cast<float>(window[2]),
                static_cast<float>(window[3]));
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    // Lines are never culled, nor is their outline drawn in the polygon mode.
    glDisable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib->Uploaded());
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(3 * count),
                   ib->IndexSize() == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                   reinterpret_cast<const void*>(static_cast<std::uintptr_t>(startIndex) * ib->IndexSize()));
    glProvokingVertex(GL_LAST_VERTEX_CONVENTION);
    for (GLuint i = 4; i <= 10; ++i) glDisableVertexAttribArray(i);
    Finish();
    return D3D_OK;
  }

  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* data, UINT stride) override {
    const UINT vertices = VerticesForPrimitives(type, count);
    if (!data || vertices == 0 || stride == 0) return D3DERR_INVALIDCALL;
    glBindBuffer(GL_ARRAY_BUFFER, upVertices);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices) * stride, data, GL_STREAM_DRAW);
    if (!Prepare(upVertices, 0, stride, type)) return D3DERR_INVALIDCALL;
    if (Lines(type)) {
      std::vector<std::uint32_t> lines;
      UniqueEdgesOfTriangleList(static_cast<const std::uint8_t*>(data), stride, count, lines);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, upIndices);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(lines.size() * 4), lines.data(), GL_STREAM_DRAW);
      glDrawElements(GL_LINES_ADJACENCY, static_cast<GLsizei>(lines.size()), GL_UNSIGNED_INT, nullptr);
    } else {
      glDrawArrays(PrimitiveMode(type), 0, static_cast<GLsizei>(vertices));
    }
    Finish();
    return D3D_OK;
  }

  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT count,
                                 const void* indexData, D3DFORMAT indexFormat, const void* vertexData,
                                 UINT stride) override {
    const UINT indices = VerticesForPrimitives(type, count);
    if (!indexData || !vertexData || indices == 0 || stride == 0 ||
        (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32)) {
      return D3DERR_INVALIDCALL;
    }
    const UINT indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    glBindBuffer(GL_ARRAY_BUFFER, upVertices);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(minIndex + numVertices) * stride, vertexData, GL_STREAM_DRAW);
    if (!Prepare(upVertices, 0, stride, type)) return D3DERR_INVALIDCALL;
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, upIndices);
    if (Lines(type)) {
      std::vector<std::uint32_t> lines;
      if (indexSize == 4) {
        UniqueEdgesOfIndexedTriangles(static_cast<const std::uint32_t*>(indexData), count, lines);
      } else {
        UniqueEdgesOfIndexedTriangles(static_cast<const std::uint16_t*>(indexData), count, lines);
      }
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(lines.size() * 4), lines.data(), GL_STREAM_DRAW);
      glDrawElements(GL_LINES_ADJACENCY, static_cast<GLsizei>(lines.size()), GL_UNSIGNED_INT, nullptr);
    } else {
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices) * indexSize, indexData, GL_STREAM_DRAW);
      glDrawElements(PrimitiveMode(type), static_cast<GLsizei>(indices),
                     indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT, nullptr);
    }
    Finish();
    return D3D_OK;
  }

  State state;
  std::unique_ptr<GLStateBlock> recording;

 private:
  // For wireframe triangle lists, drawn as edge lists: which triangles' edges to keep
  // (WIRE_CULL of GLShaders.h), 0 when all of them.
  DWORD WireCull(D3DPRIMITIVETYPE type) const {
    if (!Lines(type)) return 0;
    // Without culling no geometry shader is needed: with none active, GL draws lines with
    // adjacency as plain lines and ignores the adjacent vertices.
    const DWORD cull = state.render[D3DRS_CULLMODE];
    return cull == D3DCULL_CCW ? 3 : cull == D3DCULL_CW ? 2 : 0;
  }

  bool Lines(D3DPRIMITIVETYPE type) const {
    return state.render[D3DRS_FILLMODE] == D3DFILL_WIREFRAME && type == D3DPT_TRIANGLELIST;
  }

  void ApplyViewport() {
    const auto& v = state.viewport;
    glViewport(static_cast<GLint>(v.X), static_cast<GLint>(height) - static_cast<GLint>(v.Y + v.Height),
               static_cast<GLsizei>(v.Width), static_cast<GLsizei>(v.Height));
    glDepthRange(v.MinZ, v.MaxZ);
  }

  // Everything a draw call needs, from the recorded states: the vertex layout of the
  // current FVF over buffer, the states GL keeps itself, and the shader program with its
  // uniforms; false when the FVF cannot be drawn or no program builds. wireFirstVertex: for
  // a wireframe triangle list drawn as filled triangles (WIRE_FILL, GLShaders.h), the number
  // of its first vertex; else -1. outline: polygon outlines (DrawIndexedOutline).
  bool Prepare(GLuint buffer, UINT offset, UINT stride, D3DPRIMITIVETYPE type, GLint wireFirstVertex = -1,
               bool outline = false) {
    const DWORD wireFill = outline ? 2 : wireFirstVertex >= 0 ? 1 : 0;
    const DWORD fvf = state.fvf;
    const bool pretransformed = (fvf & D3DFVF_XYZRHW) != 0;
    if (!(fvf & (D3DFVF_XYZ | D3DFVF_XYZRHW)) || stride == 0) return false;
    BindVertexLayout(buffer, offset, stride);
    ApplyViewport();
    ApplyRasterStates(type);

    const DWORD* rs = state.render;
    // One directional light: the first enabled one.
    const bool lighting = rs[D3DRS_LIGHTING] != 0 && !pretransformed;
    int light = -1;
    for (int i = 0; lighting && i < kMaxLights && light < 0; ++i) {
      if (state.lightOn[i] && state.lights[i].Type == D3DLIGHT_DIRECTIONAL) light = i;
    }
    const bool clip = (rs[D3DRS_CLIPPLANEENABLE] & D3DCLIPPLANE0) != 0 && !pretransformed;
    const bool hasColour = (fvf & D3DFVF_DIFFUSE) != 0;
    auto* texture = static_cast<GLTexture*>(state.texture);
    const DWORD* ts = state.stage;
    const ProgramKey key{
        pretransformed, (fvf & D3DFVF_NORMAL) != 0, hasColour, texture != nullptr && (fvf & D3DFVF_TEX1) != 0, lighting,
        light >= 0, rs[D3DRS_NORMALIZENORMALS] != 0,
        // D3DRS_DIFFUSEMATERIALSOURCE keeps its default, the vertex colour.
        hasColour && rs[D3DRS_COLORVERTEX] != 0, clip, wireFill ? 0 : WireCull(type), wireFill, ts[D3DTSS_COLOROP],
        ts[D3DTSS_COLORARG1], ts[D3DTSS_COLORARG2], ts[D3DTSS_ALPHAOP], ts[D3DTSS_ALPHAARG1], ts[D3DTSS_ALPHAARG2]};
    const Program* program = programs->For(key);
    if (!program) return false;
    const Uniforms& u = program->u;
    glUseProgram(program->id);
    current = program;
    // Unused planes are off and unwritten (Mesa clips on a written distance even when the
    // plane is disabled).
    if (clip)
      glEnable(GL_CLIP_DISTANCE0);
    else
      glDisable(GL_CLIP_DISTANCE0);

    glUniform4f(u.viewport, static_cast<float>(state.viewport.X), static_cast<float>(state.viewport.Y),
                static_cast<float>(state.viewport.Width), static_cast<float>(state.viewport.Height));
    glUniform1f(u.depthBias, DwordToFloat(rs[D3DRS_DEPTHBIAS]));
    if (!pretransformed) {
      D3DXMATRIX viewProjection;
      D3DXMatrixMultiply(&viewProjection, &state.view, &state.projection);
      glUniformMatrix4fv(u.world, 1, GL_FALSE, &state.world.m[0][0]);
      glUniformMatrix4fv(u.viewProjection, 1, GL_FALSE, &viewProjection.m[0][0]);
    }
    if (lighting) SetLightUniforms(u, light);
    if (clip) glUniform4fv(u.clipPlane, 1, state.clipPlane);
    if (wireFill == 1) SetWireUniforms(u, pretransformed, wireFirstVertex);
    float factor[4];
    ColourOf(rs[D3DRS_TEXTUREFACTOR], factor);
    glUniform4fv(u.textureFactor, 1, factor);
    if (key.hasTexture) BindTexture(u, *texture);
    return true;
  }

  // The stage-0 texture, sampled as the sampler states say.
  void BindTexture(const Uniforms& u, const GLTexture& texture) {
    glUniform1i(u.texture, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture.name);
    const DWORD* ss = state.sampler;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER,
                    ss[D3DSAMP_MAGFILTER] == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    ss[D3DSAMP_MINFILTER] == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S,
                    ss[D3DSAMP_ADDRESSU] == D3DTADDRESS_CLAMP ? GL_CLAMP_TO_EDGE : GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T,
                    ss[D3DSAMP_ADDRESSV] == D3DTADDRESS_CLAMP ? GL_CLAMP_TO_EDGE : GL_REPEAT);
  }

  // The vertex attributes of the current FVF over buffer: position (x, y, z or x, y, z,
  // rhw), normal, colour (BGRA bytes), one pair of texture coordinates, in FVF order.
  void BindVertexLayout(GLuint buffer, UINT offset, UINT stride) {
    const DWORD fvf = state.fvf;
    const bool pretransformed = (fvf & D3DFVF_XYZRHW) != 0;
    const bool hasNormal = (fvf & D3DFVF_NORMAL) != 0;
    const bool hasColour = (fvf & D3DFVF_DIFFUSE) != 0;
    const bool hasTex = (fvf & D3DFVF_TEX1) != 0;
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    std::uintptr_t at = offset;
    auto pointer = [&](GLuint loc, GLint size, GLenum type, GLboolean norm, UINT bytes) {
      glEnableVertexAttribArray(loc);
      glVertexAttribPointer(loc, size, type, norm, static_cast<GLsizei>(stride), reinterpret_cast<const void*>(at));
      at += bytes;
    };
    pointer(0, pretransformed ? 4 : 3, GL_FLOAT, GL_FALSE, pretransformed ? 16 : 12);
    if (hasNormal)
      pointer(1, 3, GL_FLOAT, GL_FALSE, 12);
    else
      glDisableVertexAttribArray(1);
    if (hasColour)
      pointer(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    else
      glDisableVertexAttribArray(2);
    if (fvf & D3DFVF_SPECULAR) at += 4;
    if (hasTex)
      pointer(3, 2, GL_FLOAT, GL_FALSE, 8);
    else
      glDisableVertexAttribArray(3);
  }

  // Depth, blending, culling and fill as the render states ask.
  void ApplyRasterStates(D3DPRIMITIVETYPE type) {
    const DWORD* rs = state.render;
    if (rs[D3DRS_ZENABLE]) {
      glEnable(GL_DEPTH_TEST);
      glDepthFunc(CompareFunc(rs[D3DRS_ZFUNC]));
    } else {
      glDisable(GL_DEPTH_TEST);
    }
    glDepthMask(rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    if (rs[D3DRS_ALPHABLENDENABLE]) {
      glEnable(GL_BLEND);
      glBlendFunc(BlendFactor(rs[D3DRS_SRCBLEND]), BlendFactor(rs[D3DRS_DESTBLEND]));
    } else {
      glDisable(GL_BLEND);
    }
    // Window coordinates keep the screen's look (y up on the same picture), so a triangle
    // that appears counter-clockwise is GL_CCW: D3DCULL_CCW culls those.
    if (rs[D3DRS_CULLMODE] == D3DCULL_CCW || rs[D3DRS_CULLMODE] == D3DCULL_CW) {
      glEnable(GL_CULL_FACE);
      glCullFace(GL_BACK);
      glFrontFace(rs[D3DRS_CULLMODE] == D3DCULL_CCW ? GL_CW : GL_CCW);
    } else {
      glDisable(GL_CULL_FACE);
    }
    // Triangle lists in wireframe are drawn as lines, which need no polygon mode (a
    // polygon mode other than fill also sends Mesa's software renderer down a slow path).
    const DWORD fill = Lines(type) ? D3DFILL_SOLID : rs[D3DRS_FILLMODE];
    glPolygonMode(GL_FRONT_AND_BACK, fill == D3DFILL_WIREFRAME ? GL_LINE : fill == D3DFILL_POINT ? GL_POINT : GL_FILL);
  }

  // The directional light (index light, or none when negative), the global ambient colour
  // and the material.
  void SetLightUniforms(const Uniforms& u, int light) {
    if (light >= 0) {
      const D3DLIGHT9& l = state.lights[light];
      D3DXVECTOR3 to{-l.Direction.x, -l.Direction.y, -l.Direction.z};
      D3DXVec3Normalize(&to, &to);
      glUniform3f(u.toLight, to.x, to.y, to.z);
      glUniform4fv(u.lightDiffuse, 1, &l.Diffuse.r);
      glUniform4fv(u.lightAmbient, 1, &l.Ambient.r);
    }
    float ambient[4];
    ColourOf(state.render[D3DRS_AMBIENT], ambient);
    glUniform4fv(u.globalAmbient, 1, ambient);
    glUniform4fv(u.materialDiffuse, 1, &state.material.Diffuse.r);
    glUniform4fv(u.materialAmbient, 1, &state.material.Ambient.r);
    glUniform4fv(u.materialEmissive, 1, &state.material.Emissive.r);
  }

  // Drawing filled triangles as their wire outline: the camera's centre and the first
  // vertex of the draw, for the neighbour planes of WireEdges.h.
  void SetWireUniforms(const Uniforms& u, bool pretransformed, GLint wireFirstVertex) {
    // The x, y and w rows of the whole transform from the vertices' positions (x, y, z, 1)
    // to clip space: the camera's centre is their Cross4 (WireEdges.h).
    float rows[3][4], camera[4];
    const D3DVIEWPORT9& v = state.viewport;
    if (pretransformed) {
      const float w = static_cast<float>(v.Width), h = static_cast<float>(v.Height);
      const float x = static_cast<float>(v.X), y = static_cast<float>(v.Y);
      const float transform[3][4] = {{2 / w, 0, 0, -1 - 2 * x / w}, {0, -2 / h, 0, 1 + 2 * y / h}, {0, 0, 0, 1}};
      std::memcpy(rows, transform, sizeof rows);
    } else {
      D3DXMATRIX whole, viewProjection;
      D3DXMatrixMultiply(&viewProjection, &state.view, &state.projection);
      D3DXMatrixMultiply(&whole, &state.world, &viewProjection);
      for (int r = 0; r < 3; ++r) {
        for (int i = 0; i < 4; ++i) rows[r][i] = whole.m[i][r == 2 ? 3 : r];
      }
    }
    Cross4(rows[0], rows[1], rows[2], camera);
    glUniform4fv(u.camera, 1, camera);
    glUniform1i(u.firstVertex, wireFirstVertex);
    glUniform1i(u.neighbourPlanes, 1);
  }

  void Finish() {}

  Surface& surface;
  std::shared_ptr<Liveness> live;
  D3DPRESENT_PARAMETERS parameters;
  UINT width = 0, height = 0;
  bool inScene = false;
  GLuint vao = 0, upVertices = 0, upIndices = 0, outlineBuffer = 0;
  std::vector<std::uint16_t> outlineCodes;  // of the last DrawIndexedOutline (GLShaders.h)
  const Program* current = nullptr;         // of the last draw
  std::unique_ptr<ProgramCache> programs = std::make_unique<ProgramCache>();
};

HRESULT GLStateBlock::Apply() {
  if (!live->alive) return D3DERR_INVALIDCALL;
  if (all) {
    device->state = snapshot;
  } else {
    for (auto& call : calls) call(*device);
  }
  return D3D_OK;
}

HRESULT GLStateBlock::Capture() {
  if (!live->alive) return D3DERR_INVALIDCALL;
  if (all) snapshot = device->state;
  return D3D_OK;
}

}  // namespace

HRESULT CreateGLDevice(Surface& surface, const D3DPRESENT_PARAMETERS& parameters, std::unique_ptr<Device>& device) {
  device.reset();
  auto made = std::make_unique<GLDevice>(surface);
  const HRESULT hr = made->Init(parameters);
  if (Failed(hr)) return hr;
  device = std::move(made);
  return D3D_OK;
}

}  // namespace gfx
