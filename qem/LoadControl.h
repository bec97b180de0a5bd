#pragma once
// What the steps of one load share with whoever watches them: the private error trace the
// steps record their failures on, the progress counter and total, and the cancel flag.
//
// The background loader owns one for its thread; tests, tools and benchmarks make their
// own and run the steps directly. The trace is touched only by the thread running the
// steps. The counts and the flag are atomics, so another thread may read the counts and
// set the flag at any time (relaxed stores: a count is a display hint, never a handshake).

#include <atomic>
#include <cstdint>

#include "Common_Code/ErrorTrace.h"

namespace qem {

struct LoadControl {
  ErrorTrace trace;
  std::atomic<std::uint32_t> progressCount{0};
  std::atomic<std::uint32_t> progressTotal{0};
  std::atomic<bool> cancelRequested{false};
  // A step run beside the others on a control of its own stops with this one too.
  const LoadControl* follows = nullptr;

  bool Cancelled() const {
    return cancelRequested.load(std::memory_order_acquire) || (follows && follows->Cancelled());
  }
  void Cancel() { cancelRequested.store(true, std::memory_order_release); }

  void ResetProgress(std::uint32_t total = 0) {
    progressCount.store(0, std::memory_order_relaxed);
    progressTotal.store(total, std::memory_order_relaxed);
  }
  void Advance() { progressCount.store(progressCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
  void SetProgress(std::uint32_t count) { progressCount.store(count, std::memory_order_relaxed); }
};

}  // namespace qem
