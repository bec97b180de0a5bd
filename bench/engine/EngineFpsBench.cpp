// Frames per second of the engine while the user drags, at 1024 x 768 through the OpenGL
// device (Mesa's software renderer under an X server), with lighting and the wire overlay
// on, as the viewer draws: every frame one drag step (the mesh turned a little, or the clip
// plane moved a little), the one section rebuild of that frame, the boundary, its overlay
// and the section. Run under an X server:
//
//   tests/with-xvfb.sh build/bench/engine/engine_fps_bench
//
// First argument: 1 about 1 million, 2 about 10 million tetrahedra (qem-generate --size
// 235 118 60 --frames 10); plus 10 for the same box jittered by 0.2 of a cube. Second: 0
// turns the mesh, 1 moves the plane. Third: 1 with the wire overlay (as the viewer
// starts), 0 without, to see what the overlay costs. Counters: fps, and the milliseconds per frame spent
// in the rebuild and in the drawing (until glFinish).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/ClipSection.h"
#include "engine/EngineState.h"
#include "engine/Scene.h"
#include "framework/FrameObject.h"
#include "gfx/Device.h"
#include "qem/Loader.h"
#include "qem/QEM.h"
#include "tests/gfx/GLTestSurface.h"
#include "tools/qem-generate/Generate.h"

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<qem::Document> MakeMesh(int size) {
  qemgen::Params params;
  if (size % 10 == 2) {
    params.nx = 235, params.ny = 118, params.nz = 60;
  } else {
    params.nx = 109, params.ny = 55, params.nz = 28;
  }
  params.frames = 10;
  if (size >= 10) params.jitter = 0.2f;
  auto document = std::make_unique<qem::Document>();
  qem::LoadControl control;
  {
    const std::string text = qemgen::GenerateQem(params);
    qem::ParseDocumentText(text, "bench.qem", *document, control);
  }
  qem::RunLoadAfterReading(*document, control, {});
  return document;
}

void Frame(gfx::Device& device, double& rebuildSeconds, double& drawSeconds) {
  const auto start = Clock::now();
  engine::RebuildDirtySection();
  const auto built = Clock::now();
  device.Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
  device.BeginScene();
  engine::DrawScene();
  device.EndScene();
  device.Present();
  glFinish();
  rebuildSeconds += std::chrono::duration<double>(built - start).count();
  drawSeconds += std::chrono::duration<double>(Clock::now() - built).count();
}

void BM_DragFrames(benchmark::State& bench) {
  gfx_test::GLTestSurface surface;
  if (!surface.Create(1024, 768)) {
    bench.SkipWithError(surface.error.c_str());
    return;
  }
  gfx::D3DPRESENT_PARAMETERS p;
  p.BackBufferWidth = 1024;
  p.BackBufferHeight = 768;
  p.EnableAutoDepthStencil = 1;
  p.AutoDepthStencilFormat = gfx::D3DFMT_D24S8;
  std::unique_ptr<gfx::Device> device;
  if (Failed(gfx::CreateGLDevice(surface, p, device))) {
    bench.SkipWithError("no GL 3.3 device");
    return;
  }
  const auto document = MakeMesh(static_cast<int>(bench.range(0)));
  const bool plane = bench.range(1) != 0;
  const bool overlay = bench.range(2) != 0;
  frame::test_seam::InstallDevice(device.get());
  frame::test_seam::InstallDisplayMode({1024, 768, 0, false});
  engine::ResetState();
  engine::test_seam::InstallDocument(document.get());
  engine::state.documentReady = true;
  engine::state.displayTime = document->timeMin;
  engine::state.clipDistance = 0;
  engine::state.wireOverlayOn = overlay;
  engine::UpdateClipPlane();
  engine::GenerateEdgeBuffers();
  engine::GenerateClipBuffers();

  int step = 0;
  auto drag = [&] {
    // A small back-and-forth drag, so the section stays about the same size.
    const float sign = (step++ / 20) % 2 ? -1.0f : 1.0f;
    if (plane) {
      engine::MoveClipPlane(static_cast<int>(2 * sign), 0);
    } else {
      engine::state.rotationY += 0.005f * sign;
      engine::state.sectionDirty = true;
    }
  };
  double rebuild = 0, draw = 0;
  const auto warmUpEnd = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < warmUpEnd) {
    drag();
    Frame(*device, rebuild, draw);
  }
  rebuild = draw = 0;
  for (auto _ : bench) {
    drag();
    Frame(*device, rebuild, draw);
  }
  const double frames = static_cast<double>(bench.iterations());
  bench.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  bench.counters["rebuild_ms"] = 1000 * rebuild / frames;
  bench.counters["draw_ms"] = 1000 * draw / frames;
  bench.counters["boundary_triangles"] = static_cast<double>(engine::state.edgeTriangleCount);
  bench.counters["section_vertices"] = static_cast<double>(engine::state.clipVertexCount);
  engine::ResetState();
  engine::test_seam::InstallDocument(nullptr);
  frame::test_seam::InstallDevice(nullptr);
}
BENCHMARK(BM_DragFrames)
    ->Args({1, 0, 1})
    ->Args({2, 0, 1})
    ->Args({2, 1, 1})
    ->Args({12, 0, 1})
    ->Args({12, 1, 1})
    ->Args({2, 0, 0})
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
