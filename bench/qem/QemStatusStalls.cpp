// How long the loading status line sits on one figure: the mesh is loaded by the
// background loader as the viewer loads it, the status text is polled every few
// milliseconds as the engine polls it, and for each stage the table gives its length and
// the longest time the text stayed the same (the stage's first text counts from the moment
// the stage began). The viewer refreshes the line five times a second, so a figure that
// stays longer than a second is one the user sees standing still.
//
// Run: build/bench/qem/qem_status_stalls FILE.qem [--poll-ms N]
// Exit status: 0 loaded, 1 the load failed, 3 wrong arguments.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "Common_Code/Cp1250.h"
#include "qem/Loader.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct StageRecord {
  double length = 0;        // seconds from the stage's start to the next stage's
  double longestStill = 0;  // the longest stretch of one unchanged text, seconds
  std::string stillText;    // the text of that stretch (its last line)
  unsigned changes = 0;     // how many times the text changed in the stage
};

std::string LastLine(const std::string& text) {
  const auto at = text.find_last_of('\n');
  return cp1250::ToUtf8(at == std::string::npos ? text : text.substr(at + 1));
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  int pollMs = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--poll-ms" && i + 1 < argc) {
      pollMs = std::atoi(argv[++i]);
    } else if (path.empty() && arg.rfind("--", 0) != 0) {
      path = arg;
    } else {
      std::fprintf(stderr, "Usage: qem_status_stalls FILE.qem [--poll-ms N]\n");
      return 3;
    }
  }
  if (path.empty() || pollMs <= 0) {
    std::fprintf(stderr, "Usage: qem_status_stalls FILE.qem [--poll-ms N]\n");
    return 3;
  }

  StageRecord stages[qem::kStageFailed + 1];
  const Clock::time_point start = Clock::now();
  if (!qem::StartLoading(path)) return 1;

  std::int32_t stage = qem::kStageNone;
  Clock::time_point stageStart = start, stillSince = start;
  std::string text;
  auto closeStretch = [&](Clock::time_point now) {
    StageRecord& r = stages[stage];
    const double still = Seconds(now - stillSince);
    if (still > r.longestStill) {
      r.longestStill = still;
      r.stillText = LastLine(text);
    }
  };
  for (;;) {
    const std::int32_t now = qem::GetLoadStage();
    const std::string current = qem::GetLoadStatusText();
    const Clock::time_point at = Clock::now();
    if (now != stage) {
      closeStretch(at);
      stages[stage].length = Seconds(at - stageStart);
      stage = now;
      stageStart = stillSince = at;
      text = current;
    } else if (current != text) {
      closeStretch(at);
      ++stages[stage].changes;
      stillSince = at;
      text = current;
    }
    if (stage == qem::kStageFinished || stage == qem::kStageFailed) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }

  static const char* const kNames[] = {"start", "reading", "validation", "octree", "boundary"};
  std::printf("%s\n%-12s %10s %16s %9s  %s\n", path.c_str(), "stage", "length (s)", "longest still (s)", "changes",
              "text then");
  for (int s = qem::kStageNone; s <= qem::kStageBoundary; ++s) {
    const StageRecord& r = stages[s];
    std::printf("%-12s %10.3f %16.3f %9u  %s\n", kNames[s], r.length, r.longestStill, r.changes, r.stillText.c_str());
  }
  std::printf("whole load   %10.3f\n", Seconds(Clock::now() - start));
  if (stage == qem::kStageFailed) {
    std::printf("failed: %s\n", cp1250::ToUtf8(qem::GetLoadError()).c_str());
    return 1;
  }
  qem::DestroyCurrentDocument();
  return 0;
}
