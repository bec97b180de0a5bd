#pragma once
// The overlay batchers: flat, screen-space drawing over the 3D scene. Each is a static frame
// object that records, on every device restore, a state block holding every device state
// its drawing needs, so an overlay never depends on what the scene left set; the block is
// let go when the device is lost. Only the rectangle batcher draws in this program (the
// console's panel and cursor); the line, sprite and text batchers keep their device
// resources up to date. Failures go to the error trace with locations in this file.
// Main thread only; drawing calls come between the device's BeginScene and EndScene.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/FrameObject.h"
#include "gfx/Device.h"

namespace gfx {

// Pre-transformed coloured vertex, FVF 0x44 (20 bytes): x, y in pixels (y down), z 0, rhw 1.
struct ScreenVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
};
static_assert(sizeof(ScreenVertex) == 20);

// The same with one texture coordinate pair, FVF 0x144 (28 bytes).
struct SpriteVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(SpriteVertex) == 28);

inline constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
inline constexpr DWORD kSpriteFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Left, top, right, bottom in pixels of the back buffer.
struct Rectangle {
  float left = 0, top = 0, right = 0, bottom = 0;
};

class LineManager : public frame::FrameObject {
 public:
  void OnDeviceRestore() override;
  void OnDeviceLost() override;

  StateBlockPtr stateBlock;
  std::vector<ScreenVertex> vertices;  // room for lines; nothing fills it in this program
};

class RectManager : public frame::FrameObject {
 public:
  static constexpr int kCapacity = 1024;  // rectangles per draw call

  RectManager();
  void OnDeviceRestore() override;
  void OnDeviceLost() override;

  // Applies the state block and empties the queue.
  void Begin();
  // Queues one filled rectangle; a full queue is drawn first.
  void Add(const Rectangle& rectangle, D3DCOLOR colour);
  // Draws what is queued.
  void End();

  std::vector<ScreenVertex> vertices;  // 4 per rectangle
  std::vector<std::uint16_t> indices;  // 6 per rectangle
  int count = 0;                       // rectangles queued, 0 ... kCapacity
  StateBlockPtr stateBlock;

 private:
  void Flush();
};

class SpriteManager : public frame::FrameObject {
 public:
  void OnDeviceRestore() override;
  void OnDeviceLost() override;

  StateBlockPtr stateBlock;
  std::vector<SpriteVertex> vertices;  // room for sprites; nothing fills it in this program
};

// Text batching: a state block for textured glyph quads, one large vertex buffer and a
// queue of text entries; every restore and loss empties the queue.
class FontManager : public frame::FrameObject {
 public:
  static constexpr UINT kBufferBytes = 0xD2000;  // 30720 sprite vertices

  struct Entry {
    std::string text;
  };

  void OnDeviceRestore() override;
  void OnDeviceLost() override;

  // Queues a text entry (the queue owns it until it is cleared).
  void Queue(std::string text);
  void ClearQueue();

  StateBlockPtr stateBlock;
  VertexBufferPtr vertexBuffer;
  std::vector<std::unique_ptr<Entry>> queue;
};

extern LineManager g_lineManager;
extern RectManager g_rectManager;
extern SpriteManager g_spriteManager;
extern FontManager g_fontManager;

}  // namespace gfx
