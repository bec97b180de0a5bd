#pragma once
// The background loader: one mesh file per run is read, validated, prepared, sorted into
// the octree and searched for its boundary on a thread of its own, while the main thread
// keeps drawing and polls the stage and progress.
//
// Stages: 0 none started, 1 reading, 2 validation and preparation, 3 octree, 4 boundary,
// 5 finished (also after a cancellation), 6 failed. The stage only moves forward; 5 and 6
// are final.
//
// Threads: StartLoading, CancelLoading, the queries and DestroyCurrentDocument are called
// from the main thread only. The loader's lock lives as long as the program and guards
// the stage, the error text, the document pointer and the hand-over of read failures; it
// is held only for single reads and writes, so the main thread never waits on a step.
// The loader thread records its failures on a private trace; the main thread's global
// trace is never touched from the loader thread. A file that cannot be opened or read is
// reported by the stream layer on a trace of the loader's own; the main thread moves
// those lines into the global trace when it next polls (GetLoadStage or
// GetLoadStatusText), which ends the program through the fatal report as for any error of
// the main thread.

#include <cstdint>
#include <functional>
#include <string>

#include "qem/Document.h"
#include "qem/LoadControl.h"

namespace qem {

enum LoadStage : std::int32_t {
  kStageNone = 0,
  kStageReading = 1,
  kStageValidating = 2,
  kStageOctree = 3,
  kStageBoundary = 4,
  kStageFinished = 5,
  kStageFailed = 6,
};

// Starts the loader thread on path (copied; any length). A thread that cannot be started
// ends the load at once in stage 6 with "Nie można uruchomić wątku wczytującego". Returns
// whether the thread runs.
bool StartLoading(const std::string& path);

// Asks the loader to stop and returns when its thread has ended; at once when none runs.
void CancelLoading();

// The stage; while the loader runs, also its progress counter and total (either pointer
// may be null), all taken at one moment. Hands pending read failures to the global trace.
std::int32_t GetLoadStage(std::uint32_t* count = nullptr, std::uint32_t* total = nullptr);

// A copy of the failed load's error text (the trace's lines, newest first).
std::string GetLoadError();

// The status display's text: every stage reached so far, one per line, with the progress
// in parentheses (a percentage when the total is known, else the count); "Błąd:" and the
// error lines in stage 6; empty in stages 0 and 5. Hands pending read failures over too.
std::string GetLoadStatusText();

// The status text for a stage, its progress and the error text (what GetLoadStatusText
// shows for the loader's current state).
std::string FormatLoadStatus(std::int32_t stage, std::uint32_t count, std::uint32_t total, const std::string& error);

// Moves the stream layer's lines of a file that could not be opened or read into the
// global trace (once); true when it moved any. The queries above call it.
bool HandOverReadErrors();

// The document being loaded or loaded; the engine reads it only once the stage is 5.
Document* GetCurrentDocument();

// Frees the document (after CancelLoading; the engine at shutdown).
void DestroyCurrentDocument();

// Back to the state before any load (tests): cancels and joins a running loader, frees
// the document and clears the stage, progress, flags and texts.
void ResetLoader();

// Tests: make the next StartLoading behave as if the thread could not be created.
void FailNextThreadStartForTesting();

// The steps of one load, in order, as the loader thread runs them: reading, then, while
// control.trace is clean and no cancel is requested, validation and preparation, the
// octree and the boundary. onStage (may be empty) is called with 1, 2, 3 and 4 as each
// stage begins. Failures are left on control.trace; the file read records on the calling
// thread's current trace.
void RunLoad(const std::string& path, Document& document, LoadControl& control,
             const std::function<void(std::int32_t)>& onStage);

// The same steps after reading, for a document already filled (the fuzzer, benchmarks).
void RunLoadAfterReading(Document& document, LoadControl& control, const std::function<void(std::int32_t)>& onStage);

}  // namespace qem
