// The cost of a whole load per tetrahedron, from 100 thousand to 45 million: for each size
// the box mesh of `qem-generate --size NX NY NZ --frames 10` (generated once into the data
// folder, which git ignores) is loaded by qem-info, each load in a process of its own, and
// the table gives the best and median wall-clock time, the median processor time (both
// cores together), the peak memory, and each per tetrahedron. The machine may be shared:
// the processor time is the steadier figure.
//
// Run: build/bench/qem/qem_scale [--runs N] [--largest 100k|1m|10m|45m] [--data DIR]
//                                [--jitter F] [--info QEM_INFO] [--keep] [--pause S]
// After the table, the goals of the whole load at 1 M, 10 M and 45 M beside the figures
// before this work and now.
// Files above 2 GB are removed after their runs unless --keep is given (they are quick to
// generate again and the disk is shared).
// --pause S waits S seconds before each load. A load that starts right after another
// finds the memory the previous process gave back still at hand; on a virtual machine
// whose host takes back memory the guest leaves unused (within seconds), a load after a
// pause meets fresh memory, as one does when a user opens a file, and that costs far more
// to touch first.

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Size {
  const char* name;
  unsigned nx, ny, nz;
};

constexpr Size kSizes[] = {{"100k", 26, 26, 25}, {"1m", 109, 55, 28}, {"10m", 235, 118, 60}, {"45m", 390, 195, 98}};

// The whole load before this loader's work on speed and memory (the same box meshes, the
// same 2-core machine, idle) and what it is to reach; 0 where there is no figure.
struct Goal {
  const char* name;
  const char* before;
  double seconds, mebibytes;  // at most, median wall clock and peak
};

constexpr Goal kGoals[] = {{"1m", "median 0.34 s, 205 MiB peak", 0.25, 140},
                           {"10m", "3.8 s, 1.96 GiB peak", 2.5, 1.4 * 1024},
                           {"45m", "read whole (10 s, 4.6 GiB), then refused", 12, 6.5 * 1024}};

struct Result {
  std::string name;
  double best, median, peak;
};

std::string Run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

double Field(const std::string& json, const std::string& key) {
  const auto at = json.find("\"" + key + "\": ");
  return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 4);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string largest = "10m", data = QEM_BENCH_DATA, jitter, info = QEM_INFO;
  bool keep = false;
  double pause = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--largest" && i + 1 < argc) {
      largest = argv[++i];
    } else if (arg == "--data" && i + 1 < argc) {
      data = argv[++i];
    } else if (arg == "--jitter" && i + 1 < argc) {
      jitter = argv[++i];
    } else if (arg == "--info" && i + 1 < argc) {
      info = argv[++i];  // another build's qem-info, for a before-and-after table
    } else if (arg == "--pause" && i + 1 < argc) {
      pause = std::max(0.0, std::atof(argv[++i]));
    } else if (arg == "--keep") {
      keep = true;
    } else {
      std::fprintf(
          stderr,
          "usage: qem_scale [--runs N] [--largest 100k|1m|10m|45m] [--data DIR] [--jitter F] [--info PATH] [--keep] "
          "[--pause S]\n");
      return 3;
    }
  }
  std::filesystem::create_directories(data);
  std::vector<Result> results;
  std::printf("%-6s %12s %9s %9s %9s %9s %9s %10s %10s\n", "mesh", "tetrahedra", "file MB", "best s", "median s",
              "cpu s", "peak MiB", "ns/tet", "bytes/tet");
  for (const Size& size : kSizes) {
    const unsigned long long tets = 6ull * size.nx * size.ny * size.nz;
    const std::string path = data + "/box_" + size.name + (jitter.empty() ? "" : "_jitter" + jitter) + ".qem";
    if (!std::filesystem::exists(path)) {
      const std::string generate = std::string(QEM_GENERATE) + " --size " + std::to_string(size.nx) + " " +
                                   std::to_string(size.ny) + " " + std::to_string(size.nz) + " --frames 10" +
                                   (jitter.empty() ? "" : " --jitter " + jitter) + " " + path;
      if (std::system(generate.c_str()) != 0) {
        std::fprintf(stderr, "qem_scale: %s failed\n", generate.c_str());
        return 1;
      }
    }
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    std::vector<double> wall, cpu, peak;
    for (int r = 0; r < runs; ++r) {
      int status = 0;
      if (pause > 0) std::this_thread::sleep_for(std::chrono::duration<double>(pause));
      const std::string json = Run(info + " --json " + path, &status);
      if (status != 0) {
        std::fprintf(stderr, "qem_scale: qem-info failed on %s: %s\n", path.c_str(), json.c_str());
        return 1;
      }
      wall.push_back(Field(json, "total") / 1e3);
      cpu.push_back(Field(json, "cpuMs") / 1e3);
      peak.push_back(Field(json, "peakMemoryMiB"));
    }
    const double best = *std::min_element(wall.begin(), wall.end());
    const double median = Median(wall), medianPeak = Median(peak);
    std::printf("%-6s %12llu %9.0f %9.3f %9.3f %9.3f %9.1f %10.0f %10.1f\n", size.name, tets, megabytes, best, median,
                Median(cpu), medianPeak, median * 1e9 / static_cast<double>(tets),
                medianPeak * 1048576.0 / static_cast<double>(tets));
    std::fflush(stdout);
    results.push_back({size.name, best, median, medianPeak});
    if (!keep && megabytes > 2000) std::filesystem::remove(path);
    if (largest == size.name) break;
  }

  std::printf("\n%-5s | %-42s | %-34s | %-38s | %s\n", "mesh", "before", "goal", "now", "met");
  for (const Goal& goal : kGoals) {
    for (const Result& r : results) {
      if (r.name != goal.name) continue;
      char want[64], now[96];
      std::snprintf(want, sizeof want, "median <= %.2f s, peak <= %.0f MiB", goal.seconds, goal.mebibytes);
      std::snprintf(now, sizeof now, "best %.3f s, median %.3f s, %.0f MiB", r.best, r.median, r.peak);
      const bool met = r.median <= goal.seconds && r.peak <= goal.mebibytes;
      std::printf("%-5s | %-42s | %-34s | %-38s | %s\n", goal.name, goal.before, want, now, met ? "yes" : "no");
    }
  }
  return 0;
}
