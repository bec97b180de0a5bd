#pragma once
// Faults in, on a thread of its own, the pages of memory a writer is about to fill, so
// that the writer finds them ready. The first write to a fresh page costs the kernel a
// page fault and the page's zeroing: on a virtual machine whose host hands out memory
// lazily that is over a second per gigabyte, most of a large load's reading. Done ahead on
// the other core, that cost moves off the reading thread into time the core would
// otherwise spend waiting.
//
// Faulting a page in never changes what it holds (the kernel's "populate for writing"),
// so the warmer and the writer may touch the same page at once. It stays at most `lead`
// bytes ahead of what the writer has filled, so a file whose counts promise more than it
// holds costs at most that much memory more.
//
// Where the system cannot populate pages this way, the warmer does nothing and the writer
// faults its pages in itself, as without it.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace qem {

class PageWarmer {
 public:
  // The memory of one writer: stretches filled one after the other, each front to back.
  class Track {
   public:
    // Before the warmer starts; once it runs, PageWarmer::Add.
    void Add(void* data, std::size_t bytes);
    bool Empty() const { return stretches.empty(); }
    // The writer has filled the first `bytes` of the track's stretches taken together.
    void Filled(std::size_t bytes) { filled.store(bytes, std::memory_order_relaxed); }

   private:
    friend class PageWarmer;
    struct Stretch {
      char* data;
      std::size_t bytes;
    };
    std::vector<Stretch> stretches;  // the warmer's mutex guards them while it runs
    std::atomic<std::size_t> filled{0};
    std::size_t warmed = 0;  // the warmer's own
  };

  explicit PageWarmer(std::size_t leadBytes) : lead(leadBytes) {}
  PageWarmer(const PageWarmer&) = delete;
  PageWarmer& operator=(const PageWarmer&) = delete;
  ~PageWarmer() { Stop(); }

  // Starts warming `tracks` (which outlive the warmer and gain no stretches from now on);
  // false when there is no thread or the system cannot populate pages.
  bool Start(std::vector<Track*> tracks);
  // Gives a running warmer's track one more stretch, after those it has.
  void Add(Track& track, void* data, std::size_t bytes);
  // Waits for the thread; no page is touched after it returns, so the memory may be freed.
  void Stop();

  // Whether this system populates pages ahead of their first write.
  static bool Supported();

 private:
  // Faults in the next piece of one track; false when it has nothing to do now.
  bool WarmSome(Track& track);
  void Run();

  const std::size_t lead;
  std::vector<Track*> tracks;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable wake;
  bool quit = false;
};

}  // namespace qem
