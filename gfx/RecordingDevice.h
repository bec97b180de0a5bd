#pragma once
// The recording device: a complete gfx::Device that draws nothing, logs every call with its
// arguments, and can be told to fail a chosen call with a chosen code. Tests of every layer
// above gfx/ install it (frame::test_seam::InstallDevice) and assert on what it logged.
//
// Log format: one Call per operation, name as in Device.h and its arguments as text,
// separated by ", ": integers in decimal, FVFs, colours and flags in hex ("0x144"), floats
// as %g, resources as "#<id>" (ids count from 1 per device in creation order), no resource
// as "null". Text() gives "Name(args)". Calls made between BeginStateBlock and
// EndStateBlock are logged and also kept in the block; they do not change the device's
// current state. Calls that fail are logged too (with failed set).
//
// Beside the log the device keeps the current state (render, stage and sampler states, FVF,
// the clip plane, transforms) as applied by Set* calls and state blocks, so a test can ask
// what a state block really sets.
//
// Buffers and textures keep their bytes; Lock gives memory that stays valid until the
// handle is released. Handles may outlive the device.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gfx/Device.h"

namespace gfx {

struct RecordedCall {
  std::string name;
  std::string args;
  bool failed = false;
  // Copies of the data of the *PrimitiveUP calls.
  std::vector<std::uint8_t> vertexData;
  std::vector<std::uint8_t> indexData;

  std::string Text() const { return name + "(" + args + ")"; }
};

class RecordingDevice;

// One pending failure of FailCall, shared by the device and its buffers.
struct RecordedFailure {
  std::string name;
  HRESULT hr;
  int remaining;
};
using RecordedFailures = std::shared_ptr<std::vector<RecordedFailure>>;

class RecordingVertexBuffer final : public VertexBuffer {
 public:
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
  HRESULT Unlock() override;
  UINT Length() const override { return static_cast<UINT>(bytes.size()); }
  DWORD Fvf() const override { return fvf; }

  int id = 0;
  DWORD fvf = 0;
  bool locked = false;
  std::vector<std::uint8_t> bytes;
  std::shared_ptr<int> live;  // the device's count of live resources
  std::shared_ptr<std::vector<RecordedCall>> log;
  RecordedFailures failures;  // "VertexBuffer::Lock" can be made to fail
  ~RecordingVertexBuffer() override;
};

class RecordingIndexBuffer final : public IndexBuffer {
 public:
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
  HRESULT Unlock() override;
  UINT Length() const override { return static_cast<UINT>(bytes.size()); }
  D3DFORMAT Format() const override { return format; }

  int id = 0;
  D3DFORMAT format = D3DFMT_INDEX16;
  bool locked = false;
  std::vector<std::uint8_t> bytes;
  std::shared_ptr<int> live;
  std::shared_ptr<std::vector<RecordedCall>> log;
  RecordedFailures failures;  // "IndexBuffer::Lock" can be made to fail
  ~RecordingIndexBuffer() override;
};

class RecordingTexture final : public Texture {
 public:
  HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, DWORD flags) override;
  HRESULT UnlockRect(UINT level) override;
  UINT Width() const override { return width; }
  UINT Height() const override { return height; }
  D3DFORMAT Format() const override { return format; }

  int id = 0;
  UINT width = 0, height = 0;
  D3DFORMAT format = D3DFMT_A8R8G8B8;
  bool locked = false;
  std::vector<std::uint8_t> bytes;
  std::shared_ptr<int> live;
  std::shared_ptr<std::vector<RecordedCall>> log;
  ~RecordingTexture() override;
};

class RecordingStateBlock final : public StateBlock {
 public:
  HRESULT Apply() override;
  HRESULT Capture() override;

  int id = 0;
  RecordingDevice* device = nullptr;  // null once the device is gone
  std::vector<RecordedCall> calls;    // what Apply sets again, in recording order
  bool all = false;                   // made by CreateStateBlock(D3DSBT_ALL)
  std::shared_ptr<int> live;
  std::shared_ptr<std::vector<RecordedCall>> log;
  ~RecordingStateBlock() override;
};

class RecordingDevice final : public Device {
 public:
  RecordingDevice();
  ~RecordingDevice() override;

  // --- test controls

  // The occurrence-th call of name from now on (1 = the next one) returns hr and does
  // nothing else (a failing Create* leaves its output empty). Several may be pending.
  // The buffers' locks count too, as "VertexBuffer::Lock" and "IndexBuffer::Lock".
  void FailCall(std::string_view name, HRESULT hr, int occurrence = 1);
  // Every log line as Text(), in order.
  std::vector<std::string> Texts() const;
  // Texts of the calls named name only.
  std::vector<std::string> Texts(std::string_view name) const;
  // The calls named name.
  std::vector<RecordedCall> Calls(std::string_view name) const;
  const std::vector<RecordedCall>& Log() const { return *log; }
  void ClearLog() { log->clear(); }
  // Resources created by this device and not yet released.
  int LiveResources() const { return *live; }

  // Current state.
  DWORD RenderState(D3DRENDERSTATETYPE state) const;
  DWORD TextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const;
  DWORD SamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const;
  DWORD CurrentFvf() const { return fvf; }
  int CurrentTexture() const { return textureId; }  // 0: none
  D3DPRESENT_PARAMETERS presentParameters;          // last Reset's
  D3DCAPS9 caps{8192, 8192};                        // what GetDeviceCaps reports
  bool inScene = false;
  // What ReadBackBuffer gives: these bytes when they are the back buffer's size
  // (presentParameters' width and height, RGBA, top row first), otherwise zeros.
  std::vector<std::uint8_t> backBufferPixels;

  // --- Device
  HRESULT TestCooperativeLevel() override;
  HRESULT Reset(const D3DPRESENT_PARAMETERS& parameters) override;
  HRESULT Present() override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(DWORD flags, D3DCOLOR colour, float z, DWORD stencil) override;
  HRESULT ReadBackBuffer(std::vector<std::uint8_t>& rgba, UINT& width, UINT& height) override;
  HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, StateBlockPtr& block) override;
  HRESULT BeginStateBlock() override;
  HRESULT EndStateBlock(StateBlockPtr& block) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
  HRESULT SetTexture(DWORD stage, Texture* texture) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& matrix) override;
  HRESULT SetMaterial(const D3DMATERIAL9& material) override;
  HRESULT SetLight(DWORD index, const D3DLIGHT9& light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT SetClipPlane(DWORD index, const float plane[4]) override;
  HRESULT SetFVF(DWORD fvf) override;
  HRESULT SetViewport(const D3DVIEWPORT9& viewport) override;
  HRESULT GetViewport(D3DVIEWPORT9& viewport) override;
  HRESULT GetDeviceCaps(D3DCAPS9& caps) override;
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, VertexBufferPtr& buffer) override;
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IndexBufferPtr& buffer) override;
  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        TexturePtr& texture) override;
  HRESULT SetStreamSource(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride) override;
  HRESULT SetIndices(IndexBuffer* buffer) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT numVertices, UINT startIndex,
                               UINT primitiveCount) override;
  HRESULT DrawIndexedOutline(UINT minIndex, UINT numVertices, UINT startIndex, UINT primitiveCount,
                             const std::uint8_t* outline) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData, UINT stride) override;
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT primitiveCount,
                                 const void* indexData, D3DFORMAT indexFormat, const void* vertexData,
                                 UINT stride) override;

 private:
  friend class RecordingStateBlock;

  // Logs the call; returns the failure to report, or D3D_OK to go on.
  HRESULT Enter(std::string_view name, std::string args);
  // The call just logged, for attaching data.
  RecordedCall& Last() { return log->back(); }
  // Changes the current state for a Set* call (or records it into the open block).
  void Setting(const RecordedCall& call);
  void ApplySetting(const RecordedCall& call);

  RecordedFailures failures = std::make_shared<std::vector<RecordedFailure>>();
  std::shared_ptr<std::vector<RecordedCall>> log;
  std::shared_ptr<int> live;
  int nextId = 1;
  std::unique_ptr<RecordingStateBlock> openBlock;
  std::vector<RecordingStateBlock*> blocks;  // live blocks, told when the device goes

  std::map<DWORD, DWORD> renderStates;
  std::map<std::pair<DWORD, DWORD>, DWORD> stageStates;
  std::map<std::pair<DWORD, DWORD>, DWORD> samplerStates;
  DWORD fvf = 0;
  int textureId = 0;
  D3DVIEWPORT9 viewport;
};

}  // namespace gfx
