#include "gfx/RecordingDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace gfx;
using ::testing::ElementsAre;

TEST(RecordingDevice, StateBlockRecordsInsteadOfSettingAndApplySetsAgain) {
  RecordingDevice device;
  ASSERT_EQ(device.BeginStateBlock(), D3D_OK);
  device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device.SetFVF(0x44);
  device.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  StateBlockPtr block;
  ASSERT_EQ(device.EndStateBlock(block), D3D_OK);
  ASSERT_TRUE(block);
  EXPECT_EQ(device.RenderState(D3DRS_CULLMODE), 0u);  // recording changes nothing
  EXPECT_EQ(device.CurrentFvf(), 0u);

  device.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  device.ClearLog();
  ASSERT_EQ(block->Apply(), D3D_OK);
  EXPECT_EQ(device.RenderState(D3DRS_CULLMODE), D3DCULL_NONE);
  EXPECT_EQ(device.CurrentFvf(), 0x44u);
  EXPECT_EQ(device.TextureStageState(0, D3DTSS_COLOROP), D3DTOP_SELECTARG1);
  EXPECT_THAT(device.Texts(), ElementsAre("StateBlock::Apply(#1)"));
  const auto& recorded = static_cast<RecordingStateBlock&>(*block).calls;
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[0].Text(), "SetRenderState(22, 0x1)");
  EXPECT_EQ(recorded[1].Text(), "SetFVF(0x44)");
  EXPECT_EQ(recorded[2].Text(), "SetTextureStageState(0, 1, 2)");
}

TEST(RecordingDevice, FailsTheChosenOccurrenceOnly) {
  RecordingDevice device;
  device.FailCall("CreateVertexBuffer", D3DERR_OUTOFVIDEOMEMORY, 2);
  VertexBufferPtr a, b, c;
  EXPECT_EQ(device.CreateVertexBuffer(28, D3DUSAGE_WRITEONLY, 0x52, D3DPOOL_MANAGED, a), D3D_OK);
  EXPECT_EQ(device.CreateVertexBuffer(28, D3DUSAGE_WRITEONLY, 0x52, D3DPOOL_MANAGED, b), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(device.CreateVertexBuffer(28, D3DUSAGE_WRITEONLY, 0x52, D3DPOOL_MANAGED, c), D3D_OK);
  EXPECT_TRUE(a);
  EXPECT_FALSE(b);  // a failed creation leaves nothing behind
  EXPECT_TRUE(c);
  const auto calls = device.Calls("CreateVertexBuffer");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_FALSE(calls[0].failed);
  EXPECT_TRUE(calls[1].failed);
  EXPECT_EQ(calls[0].Text(), "CreateVertexBuffer(28, 0x8, 0x52, 1 -> #1)");
  EXPECT_EQ(device.LiveResources(), 2);
  a.reset();
  c.reset();
  EXPECT_EQ(device.LiveResources(), 0);
}

TEST(RecordingDevice, FailedEndStateBlockLeavesRecordingAndNoBlock) {
  RecordingDevice device;
  device.FailCall("EndStateBlock", D3DERR_INVALIDCALL);
  device.BeginStateBlock();
  device.SetFVF(0x144);
  StateBlockPtr block;
  EXPECT_EQ(device.EndStateBlock(block), D3DERR_INVALIDCALL);
  EXPECT_FALSE(block);
  device.SetFVF(0x44);  // no longer recording
  EXPECT_EQ(device.CurrentFvf(), 0x44u);
  EXPECT_EQ(device.LiveResources(), 0);
}

TEST(RecordingDevice, BuffersKeepTheirBytesAndRejectBadLocks) {
  RecordingDevice device;
  IndexBufferPtr indices;
  ASSERT_EQ(device.CreateIndexBuffer(12, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED, indices), D3D_OK);
  void* data = nullptr;
  ASSERT_EQ(indices->Lock(0, 0, &data, 0), D3D_OK);
  const std::uint32_t values[3] = {70000, 1, 2};
  std::memcpy(data, values, sizeof values);
  void* again = nullptr;
  EXPECT_EQ(indices->Lock(0, 0, &again, 0), D3DERR_INVALIDCALL);  // already locked
  EXPECT_EQ(indices->Unlock(), D3D_OK);
  EXPECT_EQ(indices->Unlock(), D3DERR_INVALIDCALL);
  EXPECT_EQ(indices->Lock(8, 8, &again, 0), D3DERR_INVALIDCALL);  // past the end
  auto& bytes = static_cast<RecordingIndexBuffer&>(*indices).bytes;
  std::uint32_t first;
  std::memcpy(&first, bytes.data(), 4);
  EXPECT_EQ(first, 70000u);
}

TEST(RecordingDevice, HandlesMayOutliveTheDevice) {
  StateBlockPtr block;
  TexturePtr texture;
  {
    RecordingDevice device;
    device.CreateStateBlock(D3DSBT_ALL, block);
    device.CreateTexture(4, 4, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED, texture);
  }
  EXPECT_EQ(block->Apply(), D3D_OK);
  block.reset();
  texture.reset();
}

TEST(RecordingDevice, UpDrawsKeepTheirData) {
  RecordingDevice device;
  const float vertices[3 * 5] = {1, 2, 0, 1, 0, 3, 4, 0, 1, 0, 5, 6, 0, 1, 0};
  const std::uint16_t indices[3] = {0, 1, 2};
  device.DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, indices, D3DFMT_INDEX16, vertices, 20);
  const auto calls = device.Calls("DrawIndexedPrimitiveUP");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args, "4, 0, 3, 1, 101, 20");
  EXPECT_EQ(calls[0].vertexData.size(), 60u);
  EXPECT_EQ(calls[0].indexData.size(), 6u);
}

}  // namespace

// The recording device hands back the pixels a test gives it, or zeros of the back buffer's
// size, and refuses inside a scene as the real device does.
TEST(RecordingDevice, ReadBackBufferGivesTheTestsPicture) {
  gfx::RecordingDevice device;
  gfx::D3DPRESENT_PARAMETERS p;
  p.BackBufferWidth = 2;
  p.BackBufferHeight = 1;
  ASSERT_EQ(device.Reset(p), D3D_OK);
  std::vector<std::uint8_t> rgba;
  gfx::UINT w = 0, h = 0;
  ASSERT_EQ(device.ReadBackBuffer(rgba, w, h), D3D_OK);
  EXPECT_EQ(rgba, std::vector<std::uint8_t>(8, 0));
  device.backBufferPixels = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(device.ReadBackBuffer(rgba, w, h), D3D_OK);
  EXPECT_EQ(rgba, device.backBufferPixels);
  EXPECT_EQ(w, 2u);
  EXPECT_EQ(h, 1u);
  device.BeginScene();
  EXPECT_EQ(device.ReadBackBuffer(rgba, w, h), D3DERR_INVALIDCALL);
  device.EndScene();
  device.FailCall("ReadBackBuffer", D3DERR_DEVICELOST);
  EXPECT_EQ(device.ReadBackBuffer(rgba, w, h), D3DERR_DEVICELOST);
}
