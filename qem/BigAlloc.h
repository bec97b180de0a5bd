#pragma once
// Memory for the loader's large arrays (tens of megabytes for a mesh of a million
// elements). Fresh memory costs a page fault per 4 KiB page touched; a large block is
// therefore aligned to 2 MiB and marked for transparent huge pages, which cuts the faults
// by a factor of 512 where the system allows it. Small requests go to the ordinary heap.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace qem {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Asks for huge pages on the 2 MiB-aligned part of [data, data + bytes).
inline void AdviseHugePages(void* data, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

// nullptr when the memory is refused.
inline void* TryAllocateBig(std::size_t bytes) noexcept {
  if (bytes < kHugePage) return std::malloc(bytes ? bytes : 1);
  if (bytes > SIZE_MAX - kHugePage) return nullptr;
  const std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* p = std::aligned_alloc(kHugePage, rounded);
  // Only the whole huge pages of the request: the rest of the last one stays in small
  // pages, so a block that ends within one (an element block of 4.5 MiB) does not hold the
  // whole 2 MiB once its last records are written.
  if (p) AdviseHugePages(p, bytes);
  return p;
}

inline void* AllocateBig(std::size_t bytes) {
  void* p = TryAllocateBig(bytes);
  if (!p) throw std::bad_alloc();
  return p;
}

inline void FreeBig(void* p) { std::free(p); }

// A block of `records` records appended to `blocks`; false, with nothing kept, when the
// memory is refused.
template <class T>
bool TryAppendBlock(std::vector<T*>& blocks, std::size_t records) noexcept {
  if (records > SIZE_MAX / sizeof(T)) return false;
  T* block = static_cast<T*>(TryAllocateBig(records * sizeof(T)));
  if (!block) return false;
  try {
    blocks.push_back(block);
  } catch (const std::bad_alloc&) {
    FreeBig(block);
    return false;
  }
  return true;
}

// A std allocator over AllocateBig, for the large temporary arrays of the steps.
template <class T>
struct BigAllocator {
  using value_type = T;
  BigAllocator() = default;
  template <class U>
  BigAllocator(const BigAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(AllocateBig(n * sizeof(T))); }
  void deallocate(T* p, std::size_t) { FreeBig(p); }
  template <class U>
  bool operator==(const BigAllocator<U>&) const {
    return true;
  }
};

// A vector that default-initialises (leaves plain records unset) on resize, so that a
// large array is touched only where it is written.
template <class T>
struct UninitAllocator : BigAllocator<T> {
  using BigAllocator<T>::BigAllocator;
  template <class U>
  struct rebind {
    using other = UninitAllocator<U>;
  };
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

}  // namespace qem
