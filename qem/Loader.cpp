#include "qem/Loader.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"
#include "qem/Boundary.h"
#include "qem/Octree.h"
#include "qem/Prepare.h"
#include "qem/QEM.h"

namespace qem {

namespace {

struct LoaderState {
  std::mutex lock;
  std::thread thread;
  std::string path;
  std::int32_t stage = kStageNone;
  bool running = false;  // from StartLoading to the thread's last act
  std::string loadError;
  std::vector<std::string> readErrors;  // the stream layer's lines, oldest first
  std::unique_ptr<LoadControl> control = std::make_unique<LoadControl>();
  std::unique_ptr<Document> document;

  ~LoaderState() {
    // A program that ends without CancelLoading must not leave the thread running.
    if (thread.joinable()) {
      control->Cancel();
      thread.join();
    }
  }
};

bool failNextThreadStart = false;

LoaderState& State() {
  static LoaderState state;
  return state;
}

void SetStage(std::int32_t stage) {
  LoaderState& s = State();
  std::lock_guard guard(s.lock);
  s.stage = stage;
}

void LoaderThread() {
  LoaderState& s = State();
  LoadControl& control = *s.control;
  Document* document;
  {
    std::lock_guard guard(s.lock);
    s.document = std::make_unique<Document>();
    document = s.document.get();
  }

  // The stream layer records on the thread's current trace: give it one of ours.
  ErrorTrace readTrace;
  {
    ScopedErrorTrace scope(readTrace);
    RunLoad(s.path, *document, control, SetStage);
  }

  std::string error;
  const bool failed = control.trace.TakeAll(error);
  std::lock_guard guard(s.lock);
  if (readTrace.IsPending()) s.readErrors = readTrace.Lines();
  if (failed) {
    s.loadError = std::move(error);
    s.stage = kStageFailed;
  } else {
    s.stage = kStageFinished;
  }
  s.running = false;
}

// A failed allocation anywhere in the steps ends the load like any other failure, with
// the memory taken so far given back; the steps themselves hold nothing that a thrown
// std::bad_alloc would leave inconsistent beyond the document, which is emptied.
template <class Steps>
void WithoutMemoryFailures(Document& document, LoadControl& control, const Steps& steps) {
  try {
    steps();
  } catch (const std::bad_alloc&) {
    document.Clear();
    control.trace.Raise(kOutOfMemoryText, "", 0);
  }
}

void RunStagesAfterReading(Document& document, LoadControl& control, const std::function<void(std::int32_t)>& onStage) {
  auto go = [&] { return !control.trace.IsPending() && !control.Cancelled(); };
  auto stage = [&](std::int32_t value) {
    if (onStage) onStage(value);
  };
  if (go()) {
    stage(kStageValidating);
    ValidateDocument(document, control);
  }
  if (go()) PrepareDocument(document, control);
  if (!go()) return;
  stage(kStageOctree);
  // The boundary search needs no octree: it runs beside the octree's build on the second
  // core, on a control of its own that stops with this one. The two write different parts
  // of the document and only read the rest, so the result is the one of one thread.
  LoadControl side;
  side.follows = &control;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false, outOfMemory = false;
  std::thread beside;
  try {
    beside = std::thread([&] {
      try {
        FindBoundary(document, side);
      } catch (const std::bad_alloc&) {
        outOfMemory = true;
      }
      std::lock_guard guard(lock);
      done = true;
      finished.notify_one();
    });
  } catch (const std::system_error&) {
    // No second thread: the same steps one after the other.
  }
  if (!beside.joinable()) {
    BuildOctree(document, control);
    if (go()) {
      stage(kStageBoundary);
      FindBoundary(document, control);
    }
    return;
  }
  struct Join {
    std::thread& thread;
    LoadControl& side;
    ~Join() {
      // An octree that ran out of memory leaves by an exception: the search stops too.
      if (!thread.joinable()) return;
      side.Cancel();
      thread.join();
    }
  } join{beside, side};
  BuildOctree(document, control);
  if (go()) {
    stage(kStageBoundary);
    control.ResetProgress(side.progressTotal.load(std::memory_order_relaxed));
    std::unique_lock wait(lock);
    while (!done) {
      control.SetProgress(side.progressCount.load(std::memory_order_relaxed));
      finished.wait_for(wait, std::chrono::milliseconds(20));
    }
    control.SetProgress(side.progressCount.load(std::memory_order_relaxed));
  } else {
    side.Cancel();
  }
  beside.join();
  if (outOfMemory) throw std::bad_alloc();
}

}  // namespace

void RunLoadAfterReading(Document& document, LoadControl& control, const std::function<void(std::int32_t)>& onStage) {
  WithoutMemoryFailures(document, control, [&] { RunStagesAfterReading(document, control, onStage); });
}

void RunLoad(const std::string& path, Document& document, LoadControl& control,
             const std::function<void(std::int32_t)>& onStage) {
  if (onStage) onStage(kStageReading);
  WithoutMemoryFailures(document, control, [&] { LoadDocument(path, &document, control); });
  RunLoadAfterReading(document, control, onStage);
}

bool StartLoading(const std::string& path) {
  LoaderState& s = State();
  if (s.thread.joinable()) s.thread.join();  // a finished earlier load (tests)
  {
    std::lock_guard guard(s.lock);
    s.path = path;
    s.running = true;
  }
  // std::thread reports a failed start by throwing; that is the only exception taken here.
  bool started = false;
  if (failNextThreadStart) {
    failNextThreadStart = false;
  } else {
    try {
      s.thread = std::thread(LoaderThread);
      started = true;
    } catch (const std::system_error&) {
    }
  }
  if (!started) {
    std::lock_guard guard(s.lock);
    s.loadError = "Nie można uruchomić wątku wczytującego"_cp;
    s.stage = kStageFailed;
    s.running = false;
    return false;
  }
  return true;
}

void CancelLoading() {
  LoaderState& s = State();
  if (!s.thread.joinable()) return;
  s.control->Cancel();
  s.thread.join();
}

bool HandOverReadErrors() {
  LoaderState& s = State();
  std::vector<std::string> lines;
  {
    std::lock_guard guard(s.lock);
    lines.swap(s.readErrors);
  }
  if (lines.empty()) return false;
  // As the stream layer would have left them on a clean global trace: the first line
  // starts the trace, the others follow.
  ErrorTrace& global = GlobalErrorTrace();
  global.Raise(lines.front(), "", 0);
  for (std::size_t i = 1; i < lines.size(); ++i) global.Add(lines[i], "", 0);
  return true;
}

std::int32_t GetLoadStage(std::uint32_t* count, std::uint32_t* total) {
  HandOverReadErrors();
  LoaderState& s = State();
  std::lock_guard guard(s.lock);
  if (s.running) {
    if (count) *count = s.control->progressCount.load(std::memory_order_relaxed);
    if (total) *total = s.control->progressTotal.load(std::memory_order_relaxed);
  }
  return s.stage;
}

std::string GetLoadError() {
  LoaderState& s = State();
  std::lock_guard guard(s.lock);
  return s.loadError;
}

std::string GetLoadStatusText() {
  std::uint32_t count = 0, total = 0;
  const std::int32_t stage = GetLoadStage(&count, &total);
  return FormatLoadStatus(stage, count, total, stage == kStageFailed ? GetLoadError() : std::string());
}

std::string FormatLoadStatus(std::int32_t stage, std::uint32_t count, std::uint32_t total, const std::string& error) {
  if (stage == kStageNone || stage == kStageFinished) return {};
  if (stage == kStageFailed) return "Błąd:\n"_cp + error;
  std::string text = "Wczytywanie pliku...";
  if (stage >= kStageValidating) text += "\nSprawdzanie i przygotowanie danych...";
  if (stage >= kStageOctree) text += "\nBudowanie drzewa ósemkowego..."_cp;
  if (stage >= kStageBoundary) text += "\nZnajdowanie brzegów..."_cp;
  if (count != 0) {
    text += " (";
    if (total != 0) {
      text += ToText(static_cast<std::uint32_t>(std::uint64_t{count} * 100u / total));
      text += "%)";
    } else {
      text += ToText(count);
      text += ")";
    }
  }
  return text;
}

Document* GetCurrentDocument() {
  LoaderState& s = State();
  std::lock_guard guard(s.lock);
  return s.document.get();
}

void DestroyCurrentDocument() {
  LoaderState& s = State();
  std::unique_ptr<Document> document;
  {
    std::lock_guard guard(s.lock);
    document = std::move(s.document);
  }
}

void FailNextThreadStartForTesting() { failNextThreadStart = true; }

void ResetLoader() {
  LoaderState& s = State();
  CancelLoading();
  std::lock_guard guard(s.lock);
  s.document.reset();
  s.stage = kStageNone;
  s.running = false;
  s.loadError.clear();
  s.readErrors.clear();
  s.path.clear();
  s.control = std::make_unique<LoadControl>();
}

}  // namespace qem
