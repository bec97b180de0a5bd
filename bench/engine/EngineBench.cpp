// The engine's per-interaction work on generated boxes of tetrahedra (six per cube):
// 51 x 26 x 13 cubes (103 428 elements), 109 x 55 x 28 cubes (1 007 160 elements) and
// 235 x 118 x 60 cubes (9 982 800 elements), regular or jittered, cut through the middle
// with the start-up rotation, as a drag of the plane or of the mesh rebuilds it once per
// drawn frame; the search index made once per document; the re-colouring of one time
// step; the boundary build; the middle-button pick and the probe of a point. Times are
// wall clock; "CPU" is, where marked, the processor time of every thread of the process.
// The device is the recording one, so the numbers are the engine's own CPU time (the GL
// backend adds the upload of the buffers).
//
//   build/bench/engine/engine_bench --benchmark_min_time=2

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "engine/ClipSection.h"
#include "engine/EngineState.h"
#include "engine/Probe.h"
#include "engine/Scene.h"
#include "framework/FrameObject.h"
#include "gfx/RecordingDevice.h"
#include "qem/Loader.h"
#include "qem/QEM.h"
#include "tools/qem-generate/Generate.h"

namespace {

// size: 0 about 100 thousand, 1 about 1 million, 2 about 10 million tetrahedra; plus 10
// for the same box with every inside vertex jittered by up to 0.2 of a cube.
qemgen::Params Box(int size) {
  qemgen::Params params;
  switch (size % 10) {
    case 2:
      params.nx = 235, params.ny = 118, params.nz = 60;
      break;
    case 1:
      params.nx = 109, params.ny = 55, params.nz = 28;
      break;
    default:
      params.nx = 51, params.ny = 26, params.nz = 13;
      break;
  }
  params.frames = 10;
  if (size >= 10) params.jitter = 0.2f;
  return params;
}

// One prepared document per size, made once.
const qem::Document& Mesh(int size) {
  static std::map<int, std::unique_ptr<qem::Document>> made;
  auto& slot = made[size];
  if (!slot) {
    slot = std::make_unique<qem::Document>();
    qem::LoadControl control;
    {
      const std::string text = qemgen::GenerateQem(Box(size));
      qem::ParseDocumentText(text, "bench.qem", *slot, control);
    }
    qem::RunLoadAfterReading(*slot, control, {});
  }
  return *slot;
}

struct Scene {
  gfx::RecordingDevice device;
  explicit Scene(int size) {
    frame::test_seam::InstallDevice(&device);
    frame::test_seam::InstallDisplayMode({800, 600, 0, false});
    engine::ResetState();
    const qem::Document& document = Mesh(size);
    engine::test_seam::InstallDocument(&document);
    engine::state.documentReady = true;
    engine::state.displayTime = document.timeMin;
    engine::state.clipDistance = 0;  // the middle
    engine::UpdateClipPlane();
  }
  ~Scene() {
    engine::ResetState();
    engine::test_seam::InstallDocument(nullptr);
    frame::test_seam::InstallDevice(nullptr);
  }
};

void Label(benchmark::State& bench, int size) {
  bench.SetLabel(std::to_string(Mesh(size).elements.size()) + " tetrahedra, section " +
                 std::to_string(engine::state.clipVertexCount) + " vertices");
}

void BM_GenerateClipBuffers(benchmark::State& bench) {
  const int size = static_cast<int>(bench.range(0));
  Scene scene(size);
  engine::GenerateClipBuffers();
  int step = 0;
  for (auto _ : bench) {
    // A plane drag: a slightly different plane every move.
    engine::state.clipDistance = (step++ & 1) ? 0.0f : 0.001f;
    engine::UpdateClipPlane();
    engine::GenerateClipBuffers();
    scene.device.ClearLog();
  }
  Label(bench, size);
}
BENCHMARK(BM_GenerateClipBuffers)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(11)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_CutDocument(benchmark::State& bench) {
  const int size = static_cast<int>(bench.range(0));
  const int threads = static_cast<int>(bench.range(1));
  Scene scene(size);
  const engine::Plane P = engine::ModelClipPlane();
  engine::SectionGeometry geometry;
  engine::SectionIndex index;
  engine::BuildSectionIndex(Mesh(size), index);
  for (auto _ : bench) {
    engine::CutDocument(index, Mesh(size), P, {-P.a, -P.b, -P.c}, geometry, threads);
    benchmark::DoNotOptimize(geometry.positions.data());
  }
  bench.SetLabel(std::to_string(geometry.positions.size()) + " section vertices");
}
// Second argument: threads (the engine uses 2).
BENCHMARK(BM_CutDocument)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({0, 2})
    ->Args({1, 2})
    ->Args({2, 2})
    ->Args({12, 2})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The search index of a document, made once, before its first section.
void BM_BuildSectionIndex(benchmark::State& bench) {
  const int size = static_cast<int>(bench.range(0));
  const qem::Document& document = Mesh(size);
  for (auto _ : bench) {
    engine::SectionIndex index;
    engine::BuildSectionIndex(document, index);
    benchmark::DoNotOptimize(index.buckets.data());
  }
}
BENCHMARK(BM_BuildSectionIndex)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_RecolourTimeStep(benchmark::State& bench) {
  const int size = static_cast<int>(bench.range(0));
  Scene scene(size);
  engine::GenerateEdgeBuffers();
  engine::GenerateClipBuffers();
  const qem::Document& document = Mesh(size);
  float t = document.timeMin;
  const float step = (document.timeMax - document.timeMin) * 0.1f / 60;  // playback at 60 fps
  for (auto _ : bench) {
    t += step;
    if (t > document.timeMax) t = document.timeMin;
    engine::state.displayTime = t;
    engine::RecolourEdges();
    engine::RecolourSection();
    scene.device.ClearLog();
  }
  bench.SetLabel(std::to_string(engine::state.edgeVertices.size()) + " boundary + " +
                 std::to_string(engine::state.clipVertexCount) + " section vertices");
}
BENCHMARK(BM_RecolourTimeStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_GenerateEdgeBuffers(benchmark::State& bench) {
  const int size = static_cast<int>(bench.range(0));
  Scene scene(size);
  for (auto _ : bench) {
    engine::GenerateEdgeBuffers();
    scene.device.ClearLog();
  }
  bench.SetLabel(std::to_string(Mesh(size).boundaryTriangles.size()) + " boundary triangles");
}
BENCHMARK(BM_GenerateEdgeBuffers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One middle-button click at the middle of the window (the section there) and one
// "probe X Y Z" at the mesh's centre.
void BM_Pick(benchmark::State& bench) {
  const int size = static_cast<int>(bench.range(0));
  Scene scene(size);
  engine::GenerateEdgeBuffers();
  engine::GenerateClipBuffers();
  bool section = false;
  for (auto _ : bench) {
    const engine::PickResult pick = engine::Pick(400, 300, 800, 600);
    section = pick.section;
    benchmark::DoNotOptimize(pick.weights.data());
  }
  bench.SetLabel(std::to_string(Mesh(size).boundaryTriangles.size()) + " boundary triangles" +
                 (section ? ", section hit" : ""));
}
BENCHMARK(BM_Pick)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ProbePoint(benchmark::State& bench) {
  const int size = static_cast<int>(bench.range(0));
  std::vector<engine::ProbeWeight> weights;
  for (auto _ : bench) {
    benchmark::DoNotOptimize(engine::LocatePoint(Mesh(size), {0.01f, 0.02f, 0.03f}, weights));
  }
}
BENCHMARK(BM_ProbePoint)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
