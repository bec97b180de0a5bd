// Benchmarks of the mesh model's loading stages on generated boxes of tetrahedra with 10
// frames: about 10 thousand, 100 thousand and 1 million elements. Each stage alone
// (reading from memory, validation + preparation, octree, boundary) and the whole load
// from a file, as the loader thread runs it. The whole load also reports its peak memory
// above the process's resident size before it (VmHWM after clearing it), in MiB; qem-info
// gives the same for a fresh process.
//
// The meshes are generated on the fly; the files go to the system's temporary folder and
// are removed at exit. Run: build/bench/qem/qem_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "qem/Boundary.h"
#include "qem/Loader.h"
#include "qem/Octree.h"
#include "qem/Prepare.h"
#include "qem/QEM.h"
#include "tools/qem-generate/Generate.h"

namespace {

qemgen::Params Size(int index) {
  qemgen::Params p;
  p.frames = 10;
  switch (index) {
    case 0:
      p.nx = 12, p.ny = 12, p.nz = 12;
      break;  // 10 368 tetrahedra
    case 1:
      p.nx = 26, p.ny = 26, p.nz = 25;
      break;  // 101 400
    default:
      p.nx = 109, p.ny = 55, p.nz = 28;
      break;  // 1 007 160
  }
  return p;
}

struct Mesh {
  std::string text;
  std::string path;
  ~Mesh() {
    if (!path.empty()) std::remove(path.c_str());
  }
};

Mesh& GetMesh(int index) {
  static std::map<int, std::unique_ptr<Mesh>> meshes;
  auto& mesh = meshes[index];
  if (!mesh) {
    mesh = std::make_unique<Mesh>();
    mesh->text = qemgen::GenerateQem(Size(index));
    mesh->path =
        (std::filesystem::temp_directory_path() / ("qem_bench_" + std::to_string(index) + ".big.qem")).string();
    std::ofstream(mesh->path, std::ios::binary) << mesh->text;
  }
  return *mesh;
}

long ReadStatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  }
  return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::unique_ptr<qem::Document> Loaded(int index, int upToStage) {
  auto doc = std::make_unique<qem::Document>();
  qem::LoadControl control;
  qem::ParseDocumentText(GetMesh(index).text, "bench", *doc, control);
  if (upToStage >= 2) {
    qem::ValidateDocument(*doc, control);
    qem::PrepareDocument(*doc, control);
  }
  if (upToStage >= 3) qem::BuildOctree(*doc, control);
  return doc;
}

void SetCounts(benchmark::State& state, int index) {
  state.counters["elements"] = static_cast<double>(qemgen::ElementCount(Size(index)));
}

void BM_Read(benchmark::State& state) {
  const int index = static_cast<int>(state.range(0));
  const std::string& text = GetMesh(index).text;
  for (auto _ : state) {
    auto doc = std::make_unique<qem::Document>();
    qem::LoadControl control;
    qem::ParseDocumentText(text, "bench", *doc, control);
    benchmark::DoNotOptimize(doc->elements.size());
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  SetCounts(state, index);
}

void BM_ValidatePrepare(benchmark::State& state) {
  const int index = static_cast<int>(state.range(0));
  auto doc = Loaded(index, 1);
  for (auto _ : state) {
    qem::LoadControl control;
    qem::ValidateDocument(*doc, control);
    qem::PrepareDocument(*doc, control);  // again on normalised positions: the same work
  }
  SetCounts(state, index);
}

void BM_Octree(benchmark::State& state) {
  const int index = static_cast<int>(state.range(0));
  auto doc = Loaded(index, 2);
  for (auto _ : state) {
    qem::LoadControl control;
    qem::BuildOctree(*doc, control);
    state.PauseTiming();
    doc->octree.reset();
    state.ResumeTiming();
  }
  SetCounts(state, index);
}

void BM_Boundary(benchmark::State& state) {
  const int index = static_cast<int>(state.range(0));
  auto doc = Loaded(index, 3);
  for (auto _ : state) {
    qem::LoadControl control;
    qem::FindBoundary(*doc, control);
    state.PauseTiming();
    doc->boundaryTriangles = {};
    doc->boundaryElements = {};
    state.ResumeTiming();
  }
  SetCounts(state, index);
}

// The octree search kept as the reference, for comparison (small meshes only).
void BM_BoundaryByOctree(benchmark::State& state) {
  const int index = static_cast<int>(state.range(0));
  auto doc = Loaded(index, 3);
  for (auto _ : state) {
    qem::LoadControl control;
    qem::FindBoundaryInOctree(*doc, control);
    state.PauseTiming();
    doc->boundaryTriangles = {};
    doc->boundaryElements = {};
    state.ResumeTiming();
  }
  SetCounts(state, index);
}

void BM_WholeLoad(benchmark::State& state) {
  const int index = static_cast<int>(state.range(0));
  const std::string& path = GetMesh(index).path;
  double peakMiB = 0;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);  // give freed heap back, so the load's memory is fresh as in a new process
    const long before = ReadStatusKiB("VmRSS:");
    ResetPeak();
    state.ResumeTiming();
    auto doc = std::make_unique<qem::Document>();
    qem::LoadControl control;
    qem::RunLoad(path, *doc, control, {});
    benchmark::DoNotOptimize(doc->boundaryTriangles.size());
    state.PauseTiming();
    peakMiB = std::max(peakMiB, static_cast<double>(ReadStatusKiB("VmHWM:") - before) / 1024.0);
    if (control.trace.IsPending()) state.SkipWithError("load failed");
    doc.reset();
    state.ResumeTiming();
  }
  state.counters["peakMiB"] = peakMiB;
  SetCounts(state, index);
}

}  // namespace

BENCHMARK(BM_Read)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ValidatePrepare)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Octree)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Boundary)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BoundaryByOctree)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeLoad)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
