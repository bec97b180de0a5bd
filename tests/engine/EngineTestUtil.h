#pragma once
// Shared fixture of the engine's unit tests: the recording device, an 800 x 600 display
// mode, an active application, a console for the replies, and documents made from QEM
// texts with the loader's own steps (read, prepare, octree, boundary), installed as the
// engine's finished document.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Common_Code/ErrorTrace.h"
#include "app/Console.h"
#include "app/Profiler.h"
#include "engine/EngineState.h"
#include "framework/FrameObject.h"
#include "gfx/RecordingDevice.h"
#include "qem/LoadControl.h"
#include "qem/Loader.h"
#include "qem/QEM.h"

namespace enginetest {

// A prepared document from a QEM text; fails the test when the text does not load.
inline std::unique_ptr<qem::Document> MakeDocument(std::string_view text) {
  auto document = std::make_unique<qem::Document>();
  qem::LoadControl control;
  qem::ParseDocumentText(text, "test.qem", *document, control);
  if (!control.trace.IsPending()) qem::RunLoadAfterReading(*document, control, {});
  std::string lines;
  control.trace.TakeAll(lines);
  EXPECT_EQ(lines, "") << "the fixture text did not load";
  return document;
}

// The tetrahedron 0 = (0, 0, -1), 1 = (1, 0, 1), 2 = (-1, 1, 1), 3 = (-1, -1, 1): already
// in the cube from -1 to 1, so normalisation leaves it as it is. Frames at times 0 and 10.
inline const char* kCutTetra =
    "QEM\n"
    "VERTICES 4\n"
    "0 0 -1\n"
    "1 0 1\n"
    "-1 1 1\n"
    "-1 -1 1\n"
    "ELEMENTS 1\n"
    "0 1 2  0 1 3  0 2 3  1 2 3\n"
    "FRAMES 2\n"
    "0   0 1 2 3\n"
    "10  3 2 1 0\n";

// Reads the SceneVertex entries of a recorded vertex buffer.
inline std::vector<engine::SceneVertex> Vertices(const gfx::VertexBuffer* buffer) {
  const auto* recorded = static_cast<const gfx::RecordingVertexBuffer*>(buffer);
  std::vector<engine::SceneVertex> out(recorded->bytes.size() / sizeof(engine::SceneVertex));
  std::memcpy(out.data(), recorded->bytes.data(), out.size() * sizeof(engine::SceneVertex));
  return out;
}

// The indices of a recorded index buffer, 16- or 32-bit.
inline std::vector<std::uint32_t> Indices(const gfx::IndexBuffer* buffer) {
  const auto* recorded = static_cast<const gfx::RecordingIndexBuffer*>(buffer);
  std::vector<std::uint32_t> out;
  if (recorded->format == gfx::D3DFMT_INDEX32) {
    out.resize(recorded->bytes.size() / 4);
    std::memcpy(out.data(), recorded->bytes.data(), out.size() * 4);
  } else {
    for (std::size_t i = 0; i + 1 < recorded->bytes.size(); i += 2) {
      std::uint16_t v;
      std::memcpy(&v, recorded->bytes.data() + i, 2);
      out.push_back(v);
    }
  }
  return out;
}

// The global trace's lines, newest first, and the trace cleared.
inline std::vector<std::string> TakeTrace() {
  std::vector<std::string> lines(GlobalErrorTrace().Lines().rbegin(), GlobalErrorTrace().Lines().rend());
  GlobalErrorTrace().Clear();
  return lines;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame::test_seam::ResetState();
    frame::test_seam::InstallDevice(&device);
    frame::test_seam::InstallDisplayMode({800, 600, 0, false});
    frame::test_seam::SetActive(true);
    engine::ResetState();
    GlobalErrorTrace().Clear();
    Profiler::Reset();
    g_console = &console;
  }
  void TearDown() override {
    engine::ResetState();
    engine::test_seam::InstallDocument(nullptr);
    frame::test_seam::ResetState();
    g_console = nullptr;
    GlobalErrorTrace().Clear();
    Profiler::Reset();
  }

  // Installs the document of text as the engine's, ready, at its first time.
  qem::Document& Load(std::string_view text) {
    document = MakeDocument(text);
    engine::test_seam::InstallDocument(document.get());
    engine::state.documentReady = true;
    engine::state.displayTime = document->timeMin;
    return *document;
  }

  // Console lines printed so far, texts only.
  std::vector<std::string> Printed() const {
    std::vector<std::string> out;
    for (const auto& line : console.lines) out.push_back(line.text);
    return out;
  }

  gfx::RecordingDevice device;
  Console console;
  std::unique_ptr<qem::Document> document;
};

}  // namespace enginetest
