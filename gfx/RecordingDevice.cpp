#include "gfx/RecordingDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace gfx {

namespace {

RecordedCall MakeCall(std::string name, std::string args) {
  RecordedCall call;
  call.name = std::move(name);
  call.args = std::move(args);
  return call;
}

std::string Dec(long long v) { return std::to_string(v); }

std::string Hex(DWORD v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
  return text;
}

std::string Flt(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
  return text;
}

std::string Join(std::initializer_list<std::string> parts) {
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += ", ";
    out += p;
  }
  return out;
}

std::string Colour(const D3DCOLORVALUE& c) {
  return "(" + Flt(c.r) + " " + Flt(c.g) + " " + Flt(c.b) + " " + Flt(c.a) + ")";
}

std::string Vec(const D3DVECTOR& v) { return "(" + Flt(v.x) + " " + Flt(v.y) + " " + Flt(v.z) + ")"; }

template <class Handle>
std::string Id(const Handle* h) {
  return h ? "#" + Dec(h->id) : std::string("null");
}

// The failure FailCall set up for this occurrence of name, marked on call; D3D_OK when none.
HRESULT TakeFailure(const RecordedFailures& failures, std::string_view name, RecordedCall& call) {
  if (!failures) return D3D_OK;
  for (auto it = failures->begin(); it != failures->end(); ++it) {
    if (it->name != name) continue;
    if (--it->remaining == 0) {
      const HRESULT hr = it->hr;
      failures->erase(it);
      call.failed = true;
      return hr;
    }
  }
  return D3D_OK;
}

// Whole-buffer lock (offset 0, size 0) or a range inside it.
HRESULT LockBytes(std::vector<std::uint8_t>& bytes, bool& locked, UINT offset, UINT size, void** data) {
  if (!data || locked) return D3DERR_INVALIDCALL;
  if (offset > bytes.size() || (size != 0 && size > bytes.size() - offset)) {
    return D3DERR_INVALIDCALL;
  }
  locked = true;
  *data = bytes.data() + offset;
  return D3D_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Resources

HRESULT RecordingVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
  log->push_back(MakeCall("VertexBuffer::Lock", Join({Id(this), Dec(offset), Dec(size), Hex(flags)})));
  if (const HRESULT hr = TakeFailure(failures, "VertexBuffer::Lock", log->back()); Failed(hr)) return hr;
  return LockBytes(bytes, locked, offset, size, data);
}

HRESULT RecordingVertexBuffer::Unlock() {
  log->push_back(MakeCall("VertexBuffer::Unlock", Id(this)));
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  return D3D_OK;
}

RecordingVertexBuffer::~RecordingVertexBuffer() {
  log->push_back(MakeCall("VertexBuffer::Release", Id(this)));
  --*live;
}

HRESULT RecordingIndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
  log->push_back(MakeCall("IndexBuffer::Lock", Join({Id(this), Dec(offset), Dec(size), Hex(flags)})));
  if (const HRESULT hr = TakeFailure(failures, "IndexBuffer::Lock", log->back()); Failed(hr)) return hr;
  return LockBytes(bytes, locked, offset, size, data);
}

HRESULT RecordingIndexBuffer::Unlock() {
  log->push_back(MakeCall("IndexBuffer::Unlock", Id(this)));
  if (!locked) return D3DERR_INVALIDCALL;
  locked = false;
  return D3D_OK;
}

RecordingIndexBuffer::~RecordingIndexBuffer() {
  log->push_back(MakeCall("IndexBuffer::Release", Id(this)));
  --*live;
}

HRESULT RecordingTexture::LockRect(UINT level, D3DLOCKED_RECT* rect, DWORD flags) {
  log->push_back(MakeCall("Texture::LockRect", Join({Id(this), Dec(level), Hex(flags)})));
  if (!rect || level != 0 || locked) return D3DERR_INVALIDCALL;
  locked = true;
  rect->Pitch = static_cast<INT>(width * (format == D3DFMT_A8 ? 1 : 4));
  rect->pBits = bytes.data();
  return D3D_OK;
}

HRESULT RecordingTexture::UnlockRect(UINT level) {
  log->push_back(MakeCall("Texture::UnlockRect", Join({Id(this), Dec(level)})));
  if (level != 0 || !locked) return D3DERR_INVALIDCALL;
  locked = false;
  return D3D_OK;
}

RecordingTexture::~RecordingTexture() {
  log->push_back(MakeCall("Texture::Release", Id(this)));
  --*live;
}

HRESULT RecordingStateBlock::Apply() {
  if (!device) {
    log->push_back(MakeCall("StateBlock::Apply", Id(this)));
    return D3D_OK;
  }
  const HRESULT hr = device->Enter("StateBlock::Apply", Id(this));
  if (Failed(hr)) return hr;
  for (const auto& call : calls) device->ApplySetting(call);
  return D3D_OK;
}

HRESULT RecordingStateBlock::Capture() {
  if (!device) {
    log->push_back(MakeCall("StateBlock::Capture", Id(this)));
    return D3D_OK;
  }
  return device->Enter("StateBlock::Capture", Id(this));
}

RecordingStateBlock::~RecordingStateBlock() {
  log->push_back(MakeCall("StateBlock::Release", Id(this)));
  --*live;
  if (device) {
    auto& list = device->blocks;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

// ---------------------------------------------------------------------------------------
// The device

RecordingDevice::RecordingDevice()
    : log(std::make_shared<std::vector<RecordedCall>>()), live(std::make_shared<int>(0)) {}

RecordingDevice::~RecordingDevice() {
  for (auto* block : blocks) block->device = nullptr;
  if (openBlock) openBlock->device = nullptr;
}

void RecordingDevice::FailCall(std::string_view name, HRESULT hr, int occurrence) {
  failures->push_back({std::string(name), hr, occurrence});
}

std::vector<std::string> RecordingDevice::Texts() const {
  std::vector<std::string> out;
  for (const auto& call : *log) out.push_back(call.Text());
  return out;
}

std::vector<std::string> RecordingDevice::Texts(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& call : *log) {
    if (call.name == name) out.push_back(call.Text());
  }
  return out;
}

std::vector<RecordedCall> RecordingDevice::Calls(std::string_view name) const {
  std::vector<RecordedCall> out;
  for (const auto& call : *log) {
    if (call.name == name) out.push_back(call);
  }
  return out;
}

DWORD RecordingDevice::RenderState(D3DRENDERSTATETYPE state) const {
  const auto it = renderStates.find(state);
  return it == renderStates.end() ? 0 : it->second;
}

DWORD RecordingDevice::TextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const {
  const auto it = stageStates.find({stage, type});
  return it == stageStates.end() ? 0 : it->second;
}

DWORD RecordingDevice::SamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const {
  const auto it = samplerStates.find({sampler, type});
  return it == samplerStates.end() ? 0 : it->second;
}

HRESULT RecordingDevice::Enter(std::string_view name, std::string args) {
  log->push_back(MakeCall(std::string(name), std::move(args)));
  return TakeFailure(failures, name, log->back());
}

void RecordingDevice::Setting(const RecordedCall& call) {
  if (openBlock) {
    openBlock->calls.push_back(call);
  } else {
    ApplySetting(call);
  }
}

void RecordingDevice::ApplySetting(const RecordedCall& call) {
  // The arguments are parsed back from the logged text: it is the one record of the call.
  unsigned a = 0, b = 0, c = 0;
  if (call.name == "SetRenderState") {
    if (std::sscanf(call.args.c_str(), "%u, %x", &a, &b) == 2) renderStates[a] = b;
  } else if (call.name == "SetTextureStageState") {
    if (std::sscanf(call.args.c_str(), "%u, %u, %u", &a, &b, &c) == 3) stageStates[{a, b}] = c;
  } else if (call.name == "SetSamplerState") {
    if (std::sscanf(call.args.c_str(), "%u, %u, %u", &a, &b, &c) == 3) samplerStates[{a, b}] = c;
  } else if (call.name == "SetFVF") {
    if (std::sscanf(call.args.c_str(), "%x", &a) == 1) fvf = a;
  } else if (call.name == "SetTexture") {
    int id = 0;
    textureId = std::sscanf(call.args.c_str(), "%u, #%d", &a, &id) == 2 ? id : 0;
  }
}

HRESULT RecordingDevice::TestCooperativeLevel() { return Enter("TestCooperativeLevel", ""); }

HRESULT RecordingDevice::Reset(const D3DPRESENT_PARAMETERS& p) {
  const HRESULT hr = Enter(
      "Reset", Join({Dec(p.BackBufferWidth), Dec(p.BackBufferHeight), Dec(p.Windowed), Hex(p.PresentationInterval)}));
  if (Failed(hr)) return hr;
  presentParameters = p;
  renderStates.clear();
  stageStates.clear();
  samplerStates.clear();
  fvf = 0;
  textureId = 0;
  return D3D_OK;
}

HRESULT RecordingDevice::Present() { return Enter("Present", ""); }

HRESULT RecordingDevice::ReadBackBuffer(std::vector<std::uint8_t>& rgba, UINT& width, UINT& height) {
  const HRESULT hr = Enter("ReadBackBuffer", "");
  if (Failed(hr)) return hr;
  if (inScene) return D3DERR_INVALIDCALL;
  width = presentParameters.BackBufferWidth;
  height = presentParameters.BackBufferHeight;
  const std::size_t bytes = std::size_t{width} * height * 4;
  if (backBufferPixels.size() == bytes) {
    rgba = backBufferPixels;
  } else {
    rgba.assign(bytes, 0);
  }
  return D3D_OK;
}

HRESULT RecordingDevice::BeginScene() {
  const HRESULT hr = Enter("BeginScene", "");
  if (Failed(hr)) return hr;
  if (inScene) return D3DERR_INVALIDCALL;
  inScene = true;
  return D3D_OK;
}

HRESULT RecordingDevice::EndScene() {
  const HRESULT hr = Enter("EndScene", "");
  if (Failed(hr)) return hr;
  if (!inScene) return D3DERR_INVALIDCALL;
  inScene = false;
  return D3D_OK;
}

HRESULT RecordingDevice::Clear(DWORD flags, D3DCOLOR colour, float z, DWORD stencil) {
  return Enter("Clear", Join({Hex(flags), Hex(colour), Flt(z), Dec(stencil)}));
}

HRESULT RecordingDevice::CreateStateBlock(D3DSTATEBLOCKTYPE type, StateBlockPtr& block) {
  block.reset();
  const HRESULT hr = Enter("CreateStateBlock", Dec(type));
  if (Failed(hr)) return hr;
  auto made = std::make_unique<RecordingStateBlock>();
  made->id = nextId++;
  made->device = this;
  made->all = true;
  made->live = live;
  made->log = log;
  ++*live;
  blocks.push_back(made.get());
  log->back().args += " -> " + Id(made.get());
  block = std::move(made);
  return D3D_OK;
}

HRESULT RecordingDevice::BeginStateBlock() {
  const HRESULT hr = Enter("BeginStateBlock", "");
  if (Failed(hr)) return hr;
  if (openBlock) return D3DERR_INVALIDCALL;
  openBlock = std::make_unique<RecordingStateBlock>();
  openBlock->device = this;
  openBlock->live = live;
  openBlock->log = log;
  ++*live;
  return D3D_OK;
}

HRESULT RecordingDevice::EndStateBlock(StateBlockPtr& block) {
  block.reset();
  const HRESULT hr = Enter("EndStateBlock", "");
  if (Failed(hr)) {
    // Direct3D leaves recording either way; the calls made are lost.
    if (openBlock) openBlock->device = nullptr;
    openBlock.reset();
    return hr;
  }
  if (!openBlock) return D3DERR_INVALIDCALL;
  openBlock->id = nextId++;
  blocks.push_back(openBlock.get());
  log->back().args = "-> " + Id(openBlock.get());
  block = std::move(openBlock);
  return D3D_OK;
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  const HRESULT hr = Enter("SetRenderState", Join({Dec(state), Hex(value)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  const HRESULT hr = Enter("SetTextureStageState", Join({Dec(stage), Dec(type), Dec(value)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  const HRESULT hr = Enter("SetSamplerState", Join({Dec(sampler), Dec(type), Dec(value)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetTexture(DWORD stage, Texture* texture) {
  auto* t = static_cast<RecordingTexture*>(texture);
  const HRESULT hr = Enter("SetTexture", Join({Dec(stage), Id(t)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& m) {
  std::string args = Dec(state) + ",";
  for (int i = 0; i < 4; ++i) {
    args += " (";
    for (int j = 0; j < 4; ++j) args += (j ? " " : "") + Flt(m.m[i][j]);
    args += ")";
  }
  const HRESULT hr = Enter("SetTransform", args);
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetMaterial(const D3DMATERIAL9& m) {
  const HRESULT hr =
      Enter("SetMaterial",
            Join({Colour(m.Diffuse), Colour(m.Ambient), Colour(m.Specular), Colour(m.Emissive), Flt(m.Power)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetLight(DWORD index, const D3DLIGHT9& l) {
  const HRESULT hr = Enter("SetLight", Join({Dec(index), Dec(l.Type), Colour(l.Diffuse), Colour(l.Specular),
                                             Colour(l.Ambient), Vec(l.Direction)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::LightEnable(DWORD index, BOOL enable) {
  const HRESULT hr = Enter("LightEnable", Join({Dec(index), Dec(enable)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetClipPlane(DWORD index, const float plane[4]) {
  const HRESULT hr = Enter("SetClipPlane", Join({Dec(index), "(" + Flt(plane[0]) + " " + Flt(plane[1]) + " " +
                                                                 Flt(plane[2]) + " " + Flt(plane[3]) + ")"}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetFVF(DWORD value) {
  const HRESULT hr = Enter("SetFVF", Hex(value));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetViewport(const D3DVIEWPORT9& v) {
  const HRESULT hr =
      Enter("SetViewport", Join({Dec(v.X), Dec(v.Y), Dec(v.Width), Dec(v.Height), Flt(v.MinZ), Flt(v.MaxZ)}));
  if (Failed(hr)) return hr;
  if (!openBlock) viewport = v;
  return D3D_OK;
}

HRESULT RecordingDevice::GetViewport(D3DVIEWPORT9& v) {
  const HRESULT hr = Enter("GetViewport", "");
  if (Failed(hr)) return hr;
  v = viewport;
  if (v.Width == 0 && v.Height == 0) {
    v.Width = presentParameters.BackBufferWidth;
    v.Height = presentParameters.BackBufferHeight;
  }
  return D3D_OK;
}

HRESULT RecordingDevice::GetDeviceCaps(D3DCAPS9& out) {
  const HRESULT hr = Enter("GetDeviceCaps", "");
  if (Failed(hr)) return hr;
  out = caps;
  return D3D_OK;
}

HRESULT RecordingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvfValue, D3DPOOL pool,
                                            VertexBufferPtr& buffer) {
  buffer.reset();
  const HRESULT hr = Enter("CreateVertexBuffer", Join({Dec(length), Hex(usage), Hex(fvfValue), Dec(pool)}));
  if (Failed(hr)) return hr;
  if (length == 0) return D3DERR_INVALIDCALL;
  auto made = std::make_unique<RecordingVertexBuffer>();
  made->id = nextId++;
  made->fvf = fvfValue;
  made->bytes.assign(length, 0);
  made->live = live;
  made->log = log;
  made->failures = failures;
  ++*live;
  log->back().args += " -> " + Id(made.get());
  buffer = std::move(made);
  return D3D_OK;
}

HRESULT RecordingDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                           IndexBufferPtr& buffer) {
  buffer.reset();
  const HRESULT hr = Enter("CreateIndexBuffer", Join({Dec(length), Hex(usage), Dec(format), Dec(pool)}));
  if (Failed(hr)) return hr;
  if (length == 0 || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)) {
    return D3DERR_INVALIDCALL;
  }
  auto made = std::make_unique<RecordingIndexBuffer>();
  made->id = nextId++;
  made->format = format;
  made->bytes.assign(length, 0);
  made->live = live;
  made->log = log;
  made->failures = failures;
  ++*live;
  log->back().args += " -> " + Id(made.get());
  buffer = std::move(made);
  return D3D_OK;
}

HRESULT RecordingDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                       D3DPOOL pool, TexturePtr& texture) {
  texture.reset();
  const HRESULT hr =
      Enter("CreateTexture", Join({Dec(width), Dec(height), Dec(levels), Hex(usage), Dec(format), Dec(pool)}));
  if (Failed(hr)) return hr;
  if (width == 0 || height == 0 || (format != D3DFMT_A8R8G8B8 && format != D3DFMT_A8)) {
    return D3DERR_INVALIDCALL;
  }
  auto made = std::make_unique<RecordingTexture>();
  made->id = nextId++;
  made->width = width;
  made->height = height;
  made->format = format;
  made->bytes.assign(static_cast<std::size_t>(width) * height * (format == D3DFMT_A8 ? 1 : 4), 0);
  made->live = live;
  made->log = log;
  ++*live;
  log->back().args += " -> " + Id(made.get());
  texture = std::move(made);
  return D3D_OK;
}

HRESULT RecordingDevice::SetStreamSource(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride) {
  auto* b = static_cast<RecordingVertexBuffer*>(buffer);
  const HRESULT hr = Enter("SetStreamSource", Join({Dec(stream), Id(b), Dec(offset), Dec(stride)}));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::SetIndices(IndexBuffer* buffer) {
  auto* b = static_cast<RecordingIndexBuffer*>(buffer);
  const HRESULT hr = Enter("SetIndices", Id(b));
  if (Failed(hr)) return hr;
  Setting(Last());
  return D3D_OK;
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
  return Enter("DrawPrimitive", Join({Dec(type), Dec(startVertex), Dec(primitiveCount)}));
}

HRESULT RecordingDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT numVertices,
                                              UINT startIndex, UINT primitiveCount) {
  return Enter("DrawIndexedPrimitive", Join({Dec(type), Dec(baseVertex), Dec(minIndex), Dec(numVertices),
                                             Dec(startIndex), Dec(primitiveCount)}));
}

// The outline codes go with the call as its vertex data.
HRESULT RecordingDevice::DrawIndexedOutline(UINT minIndex, UINT numVertices, UINT startIndex, UINT primitiveCount,
                                            const std::uint8_t* outline) {
  const HRESULT hr =
      Enter("DrawIndexedOutline", Join({Dec(minIndex), Dec(numVertices), Dec(startIndex), Dec(primitiveCount)}));
  if (Failed(hr)) return hr;
  if (!outline) return D3DERR_INVALIDCALL;
  Last().vertexData.assign(outline, outline + numVertices);
  return D3D_OK;
}

HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                         UINT stride) {
  const HRESULT hr = Enter("DrawPrimitiveUP", Join({Dec(type), Dec(primitiveCount), Dec(stride)}));
  if (Failed(hr)) return hr;
  if (!vertexData) return D3DERR_INVALIDCALL;
  const auto* bytes = static_cast<const std::uint8_t*>(vertexData);
  Last().vertexData.assign(bytes, bytes + VerticesForPrimitives(type, primitiveCount) * stride);
  return D3D_OK;
}

HRESULT RecordingDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                                                UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                                const void* vertexData, UINT stride) {
  const HRESULT hr =
      Enter("DrawIndexedPrimitiveUP",
            Join({Dec(type), Dec(minIndex), Dec(numVertices), Dec(primitiveCount), Dec(indexFormat), Dec(stride)}));
  if (Failed(hr)) return hr;
  if (!indexData || !vertexData) return D3DERR_INVALIDCALL;
  const auto* v = static_cast<const std::uint8_t*>(vertexData);
  Last().vertexData.assign(v, v + static_cast<std::size_t>(minIndex + numVertices) * stride);
  const auto* i = static_cast<const std::uint8_t*>(indexData);
  const std::size_t indexBytes = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
  Last().indexData.assign(i, i + VerticesForPrimitives(type, primitiveCount) * indexBytes);
  return D3D_OK;
}

}  // namespace gfx
