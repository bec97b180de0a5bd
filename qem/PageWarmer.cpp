#include "qem/PageWarmer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

namespace qem {

namespace {

constexpr std::uintptr_t kPage = 4096;
// One call faults in at most a huge page, so the writer's own faults never wait long
// behind the warmer's.
constexpr std::size_t kPiece = std::size_t{2} << 20;

#if defined(MADV_POPULATE_WRITE)
bool Populate(char* from, char* to) {
  const auto begin = (reinterpret_cast<std::uintptr_t>(from) + kPage - 1) & ~(kPage - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(to) & ~(kPage - 1);
  if (end <= begin) return true;
  return madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0 || errno != EINVAL;
}
#endif

}  // namespace

void PageWarmer::Track::Add(void* data, std::size_t bytes) {
  if (bytes) stretches.push_back({static_cast<char*>(data), bytes});
}

bool PageWarmer::Supported() {
#if defined(MADV_POPULATE_WRITE)
  static const bool supported = [] {
    void* page = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return false;
    const bool ok = madvise(page, kPage, MADV_POPULATE_WRITE) == 0;
    munmap(page, kPage);
    return ok;
  }();
  return supported;
#else
  return false;
#endif
}

bool PageWarmer::Start(std::vector<Track*> warmed) {
  Stop();
  if (!Supported()) return false;
  tracks = std::move(warmed);
  quit = false;
  try {
    thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void PageWarmer::Stop() {
  if (!thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
  }
  wake.notify_all();
  thread.join();
}

void PageWarmer::Add(Track& track, void* data, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  track.Add(data, bytes);
}

bool PageWarmer::WarmSome(Track& track) {
#if defined(MADV_POPULATE_WRITE)
  const std::size_t target = track.filled.load(std::memory_order_relaxed) + lead;
  if (track.warmed >= target) return false;
  // The piece: up to the next huge page boundary of the memory, within its stretch and the
  // lead.
  char* from = nullptr;
  std::size_t piece = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    std::size_t start = 0;  // of the stretch, in the track
    for (const Track::Stretch& stretch : track.stretches) {
      const std::size_t end = start + stretch.bytes;
      if (track.warmed < end) {
        from = stretch.data + (track.warmed - start);
        const std::size_t toBoundary = kPiece - (reinterpret_cast<std::uintptr_t>(from) & (kPiece - 1));
        piece = std::min({toBoundary, end - track.warmed, target - track.warmed});
        break;
      }
      start = end;
    }
  }
  if (!from) return false;
  if (!Populate(from, from + piece)) {
    track.warmed = SIZE_MAX;  // the system refuses: the writer faults its pages in itself
    return false;
  }
  track.warmed += piece;
  return true;
#else
  (void)track;
  return false;
#endif
}

void PageWarmer::Run() {
  for (;;) {
    bool busy = false;
    for (Track* track : tracks) busy |= WarmSome(*track);
    std::unique_lock<std::mutex> lock(mutex);
    if (quit) return;
    // Caught up with every writer: look again shortly (a writer fills a few hundred
    // kilobytes a millisecond).
    if (!busy) wake.wait_for(lock, std::chrono::milliseconds(1), [this] { return quit; });
  }
}

}  // namespace qem
