// qem-info: loads a QEM file with the viewer's own loading code (reader, validation and
// preparation, octree, boundary) and prints what came out, the time of each stage and the
// peak memory; or why the file does not load. For users checking files in a pipeline.

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "qem/Loader.h"
#include "qem/Octree.h"
#include "tools/Json.h"

namespace {

constexpr int kExitLoadFailed = 1;
constexpr int kExitCannotRead = 2;
constexpr int kExitUsage = 3;

void Usage(std::FILE* to) {
  std::fputs(
      "Usage: qem-info [--json] FILE.qem\n"
      "Loads a QEM mesh file exactly as the viewer does (reading, validation and\n"
      "preparation, octree, boundary) and prints, as UTF-8: the vertex, element and frame\n"
      "counts; the bounds, scale, centre and epsilon; the time and value ranges; the number\n"
      "of boundary triangles; the octree's element count per level 0 to 9; the time of each\n"
      "stage in milliseconds (wall clock), the processor time of the load and the peak\n"
      "memory.\n"
      "\n"
      "  --json   print the same as one JSON object with stable keys (vertices, elements,\n"
      "           frames, triangles, boundsMin, boundsMax, scale, centre, epsilon,\n"
      "           normalisedEpsilon, timeMin, timeMax, valueMin, valueMax,\n"
      "           boundaryTriangles, octreeLevels, octreeNodes, stageMs, cpuMs,\n"
      "           peakMemoryMiB);\n"
      "           a failure gives {\"error\": \"...\", \"exitCode\": N}\n"
      "  --help   this text\n"
      "\n"
      "Exit status: 0 loaded; 1 the file is not a valid mesh (the viewer's message follows\n"
      "\"Błąd:\"); 2 the file cannot be opened or read; 3 wrong arguments.\n",  // utf-8 literal: the help is printed as
                                                                                // UTF-8
      to);
}

// Processor time of the whole process (the load's threads together), in ms: the stage
// times are wall-clock and grow on a busy machine, this does much less.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double PeakMemoryMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

using tooljson::JsonString;

std::string Number(double value, bool json) {
  if (json && !std::isfinite(value)) return "null";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, json ? "%.9g" : "%g", value);
  return buffer;
}

std::string Triple(const qem::Float3& v, bool json) {
  if (json) return "[" + Number(v.x, true) + ", " + Number(v.y, true) + ", " + Number(v.z, true) + "]";
  return "(" + Number(v.x, false) + ", " + Number(v.y, false) + ", " + Number(v.z, false) + ")";
}

std::size_t CountNodes(const qem::OctreeNode* node) {
  if (!node) return 0;
  std::size_t n = 1;
  if (node->children[0]) {
    for (const auto& child : node->children) n += CountNodes(child.get());
  }
  return n;
}

// The messages are Windows-1250 text around the file name, which is the command line's
// bytes as given (UTF-8 on this system): convert the text, keep the name as it is.
std::string MessageToUtf8(const std::string& text, const std::string& path) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; !path.empty() && (at = text.find(path, from)) != std::string::npos; from = at + path.size()) {
    out += cp1250::ToUtf8(std::string_view(text).substr(from, at - from));
    out += path;
  }
  return out + cp1250::ToUtf8(std::string_view(text).substr(from));
}

int Fail(bool json, const std::string& text, const std::string& path, int code) {
  const std::string utf8 = MessageToUtf8(text, path);
  if (json) {
    std::printf("{\"error\": %s, \"exitCode\": %d}\n", JsonString(utf8).c_str(), code);
  } else {
    std::printf("%s\n", utf8.c_str());
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--json") {
      json = true;
    } else if (!path && (arg.empty() || arg[0] != '-' || arg == "-")) {
      path = argv[i];
    } else {
      std::fprintf(stderr, "qem-info: unexpected argument %s\n", argv[i]);
      Usage(stderr);
      return kExitUsage;
    }
  }
  if (!path) {
    Usage(stderr);
    return kExitUsage;
  }

  // The file name is opened as the bytes given.
  const std::string file = path;
  qem::Document doc;
  qem::LoadControl control;
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> starts(5);
  const double cpuStart = CpuMs();
  qem::RunLoad(file, doc, control, [&](std::int32_t stage) { starts[stage] = Clock::now(); });
  const Clock::time_point end = Clock::now();
  const double cpu = CpuMs() - cpuStart;

  if (ErrorPending()) {
    // The stream layer's lines, newest first, as the fatal report would show them.
    std::string text, line;
    while (ErrorPopLine(line)) text += (text.empty() ? "" : "\n") + line;
    return Fail(json, text, file, kExitCannotRead);
  }
  if (control.trace.IsPending()) {
    std::string error;
    control.trace.TakeAll(error);
    return Fail(json, qem::FormatLoadStatus(qem::kStageFailed, 0, 0, error), file, kExitLoadFailed);
  }

  auto ms = [&](int from, int to) {
    const Clock::time_point b = to <= 4 ? starts[to] : end;
    return std::chrono::duration<double, std::milli>(b - starts[from]).count();
  };
  const double read = ms(1, 2), prepare = ms(2, 3), octree = ms(3, 4), boundary = ms(4, 5), total = ms(1, 5);
  std::size_t triangles = 0;
  for (const qem::Element& e : doc.elements) triangles += e.triangles.size();
  const auto levels = qem::CountOctreeLevels(doc.octree.get());
  const std::size_t nodes = CountNodes(doc.octree.get());
  const double peak = PeakMemoryMiB();

  if (json) {
    std::string levelList;
    for (std::size_t i = 0; i < levels.size(); ++i) levelList += (i ? ", " : "") + std::to_string(levels[i]);
    std::printf(
        "{\"file\": %s, \"vertices\": %zu, \"elements\": %zu, \"frames\": %zu, \"triangles\": %zu, "
        "\"boundsMin\": %s, \"boundsMax\": %s, \"scale\": %s, \"centre\": %s, \"epsilon\": %s, "
        "\"normalisedEpsilon\": %s, \"timeMin\": %s, \"timeMax\": %s, \"valueMin\": %s, \"valueMax\": %s, "
        "\"boundaryTriangles\": %zu, \"octreeLevels\": [%s], \"octreeNodes\": %zu, "
        "\"stageMs\": {\"read\": %.3f, \"prepare\": %.3f, \"octree\": %.3f, \"boundary\": %.3f, \"total\": %.3f}, "
        "\"cpuMs\": %.3f, "
        "\"peakMemoryMiB\": %.1f}\n",
        JsonString(path).c_str(), doc.vertices.size(), doc.elements.size(), doc.frames.size(), triangles,
        Triple(doc.boundsMin, true).c_str(), Triple(doc.boundsMax, true).c_str(), Number(doc.scale, true).c_str(),
        Triple(doc.centre, true).c_str(), Number(doc.epsilon, true).c_str(),
        Number(doc.NormalisedEpsilon(), true).c_str(), Number(doc.timeMin, true).c_str(),
        Number(doc.timeMax, true).c_str(), Number(doc.valueMin, true).c_str(), Number(doc.valueMax, true).c_str(),
        doc.boundaryTriangles.size(), levelList.c_str(), nodes, read, prepare, octree, boundary, total, cpu, peak);
    return 0;
  }

  std::string levelList;
  for (std::size_t i = 0; i < levels.size(); ++i) levelList += (i ? " " : "") + std::to_string(levels[i]);
  std::printf("file:               %s\n", path);
  std::printf("vertices:           %zu\n", doc.vertices.size());
  std::printf("elements:           %zu (%zu triangles)\n", doc.elements.size(), triangles);
  std::printf("frames:             %zu\n", doc.frames.size());
  std::printf("bounds:             %s to %s\n", Triple(doc.boundsMin, false).c_str(),
              Triple(doc.boundsMax, false).c_str());
  std::printf("scale:              %s\n", Number(doc.scale, false).c_str());
  std::printf("centre:             %s\n", Triple(doc.centre, false).c_str());
  std::printf("epsilon:            %s (normalised %s)\n", Number(doc.epsilon, false).c_str(),
              Number(doc.NormalisedEpsilon(), false).c_str());
  std::printf("time range:         %s to %s\n", Number(doc.timeMin, false).c_str(), Number(doc.timeMax, false).c_str());
  std::printf("value range:        %s to %s\n", Number(doc.valueMin, false).c_str(),
              Number(doc.valueMax, false).c_str());
  std::printf("boundary triangles: %zu\n", doc.boundaryTriangles.size());
  std::printf("octree levels 0-9:  %s (%zu nodes)\n", levelList.c_str(), nodes);
  std::printf("stage times (ms):   read %.1f, validate+prepare %.1f, octree %.1f, boundary %.1f, total %.1f\n", read,
              prepare, octree, boundary, total);
  std::printf("processor time:     %.1f ms\n", cpu);
  std::printf("peak memory:        %.1f MiB\n", peak);
  return 0;
}
