// The page warmer faults memory in ahead of a writer: up to its lead past what the writer
// has filled, across a track's stretches in order, never further, never after it stops,
// and without changing a byte.

#include "qem/PageWarmer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// How many of the 4 KiB pages of [p, p + bytes) are in memory.
std::size_t Resident(const char* p, std::size_t bytes) {
  std::vector<unsigned char> pages(bytes / 4096);
  if (mincore(const_cast<char*>(p), bytes, pages.data()) != 0) return SIZE_MAX;
  std::size_t n = 0;
  for (const unsigned char page : pages) n += page & 1;
  return n;
}

// Waits (at most ten seconds) until every page of the range is in memory.
bool BecomesResident(const char* p, std::size_t bytes) {
  for (int i = 0; i < 10000; ++i) {
    if (Resident(p, bytes) == bytes / 4096) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST(QemPageWarmer, FaultsInUpToTheLeadAheadOfEachWriterAndChangesNoByte) {
  if (!qem::PageWarmer::Supported()) GTEST_SKIP() << "this system cannot populate pages ahead";
  const std::size_t size = 24 * kMiB;
  void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  char* p = static_cast<char*>(mapped);
  madvise(p, size, MADV_NOHUGEPAGE);  // residency page by page
  // Written before the warmer comes: kept.
  std::memcpy(p + kMiB + 1, "kept", 4);

  // Two writers: one over two stretches (the second before the first in memory), one over
  // a third.
  qem::PageWarmer::Track first, second;
  first.Add(p + 4 * kMiB, 8 * kMiB);
  first.Add(p, 4 * kMiB);
  second.Add(p + 16 * kMiB, 8 * kMiB);
  qem::PageWarmer warmer(3 * kMiB);
  ASSERT_TRUE(warmer.Start({&first, &second}));
  EXPECT_TRUE(BecomesResident(p + 4 * kMiB, 3 * kMiB));
  EXPECT_TRUE(BecomesResident(p + 16 * kMiB, 3 * kMiB));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Resident(p + 7 * kMiB, 9 * kMiB), 0u) << "past the lead of the first writer";
  EXPECT_EQ(Resident(p + 19 * kMiB, 5 * kMiB), 0u) << "past the lead of the second writer";
  EXPECT_EQ(Resident(p, kMiB), 0u);

  // The first writer is 6 MiB in: the lead runs 1 MiB into its second stretch.
  first.Filled(6 * kMiB);
  EXPECT_TRUE(BecomesResident(p + 4 * kMiB, 8 * kMiB));
  EXPECT_TRUE(BecomesResident(p, kMiB));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Resident(p + kMiB + 4096, 3 * kMiB - 4096), 0u) << "past the lead in the second stretch";

  // Stopped: nothing more, however far the writers go.
  warmer.Stop();
  first.Filled(12 * kMiB);
  second.Filled(8 * kMiB);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Resident(p + 2 * kMiB, 2 * kMiB), 0u);
  EXPECT_EQ(Resident(p + 19 * kMiB, 5 * kMiB), 0u);

  EXPECT_EQ(std::memcmp(p + kMiB + 1, "kept", 4), 0);
  EXPECT_EQ(p[kMiB + 5], 0);
  EXPECT_EQ(p[4 * kMiB], 0);
  munmap(p, size);
}

}  // namespace
