// The mesh document: ValueAt between and around frames, Box operations.

#include <gtest/gtest.h>

#include <limits>

#include "qem/Document.h"
#include "tests/qem/QemTestUtil.h"

namespace {

std::unique_ptr<qem::Document> WithFrames(const std::vector<std::pair<float, std::vector<float>>>& frames) {
  auto doc = std::make_unique<qem::Document>();
  qemtest::Fill(*doc, {{0, 0, 0}}, {}, frames);
  doc->timeMin = frames.front().first;
  doc->timeMax = frames.back().first;
  return doc;
}

TEST(QemDocument, ValueAtInterpolatesBetweenFrames) {
  const auto two = WithFrames({{0, {1}}, {10, {3}}});
  EXPECT_FLOAT_EQ(two->ValueAt(0, 5), 2);
  EXPECT_EQ(two->ValueAt(0, -1), 1);
  EXPECT_EQ(two->ValueAt(0, 10), 3);  // exactly timeMax: the last frame
  EXPECT_EQ(two->ValueAt(0, 99), 3);

  const auto four = WithFrames({{0, {0}}, {1, {10}}, {2, {20}}, {4, {0}}});
  EXPECT_EQ(four->ValueAt(0, 1), 10);  // an inner frame's own time: f = 0
  EXPECT_EQ(four->ValueAt(0, 2), 20);
  EXPECT_FLOAT_EQ(four->ValueAt(0, 0.5f), 5);
  EXPECT_FLOAT_EQ(four->ValueAt(0, 1.5f), 15);
  EXPECT_FLOAT_EQ(four->ValueAt(0, 3), 10);
}

TEST(QemDocument, ValueAtMatchesTheFrameScanEverywhere) {
  std::vector<std::pair<float, std::vector<float>>> frames;
  for (int i = 0; i < 9; ++i) frames.push_back({static_cast<float>(i * i) * 0.5f, {static_cast<float>(i % 3)}});
  const auto doc = WithFrames(frames);
  for (float t = -2; t < 40; t += 0.125f) {
    // The frame scan as written: the last inner frame whose time t has reached.
    float expected;
    if (t < doc->timeMin) {
      expected = frames.front().second[0];
    } else if (t >= doc->timeMax) {
      expected = frames.back().second[0];
    } else {
      std::size_t k = 0;
      for (std::size_t i = 1; i + 2 <= frames.size(); ++i) {
        if (t >= frames[i].first) k = i;
      }
      const float f = (t - frames[k].first) / (frames[k + 1].first - frames[k].first);
      expected = frames[k].second[0] * (1 - f) + f * frames[k + 1].second[0];
    }
    ASSERT_EQ(doc->ValueAt(0, t), expected) << t;
  }
}

TEST(QemDocument, ValueAtWithOneFrameOrNanTimes) {
  const auto one = WithFrames({{2, {7}}});
  EXPECT_EQ(one->ValueAt(0, 0), 7);
  EXPECT_EQ(one->ValueAt(0, 5), 7);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(one->ValueAt(0, nan), 7);
  const auto nanTime = WithFrames({{nan, {4}}});
  EXPECT_EQ(nanTime->ValueAt(0, 1), 4);  // one frame never reads past the frames
}

TEST(QemDocument, BoxesThatOnlyTouchDoNotOverlap) {
  const qem::Box a{{0, 0, 0}, {1, 1, 1}};
  const qem::Box touching{{1, 0, 0}, {2, 1, 1}};
  const qem::Box inside{{0.5f, 0.5f, 0.5f}, {0.6f, 0.6f, 0.6f}};
  EXPECT_FALSE(qem::Overlaps(a, touching));
  EXPECT_FALSE(qem::Overlaps(touching, a));
  EXPECT_TRUE(qem::Overlaps(a, inside));
  EXPECT_TRUE(qem::Overlaps(a, touching.Grow(0.01f)));
  const qem::Box grown = a.Grow(0.5f);
  EXPECT_EQ(grown.min.y, -0.5f);
  EXPECT_EQ(grown.max.z, 1.5f);
}

}  // namespace

// Blocks reserved ahead: records keep the addresses known ahead, a walk visits the list's
// records only, and the blocks past them are given back. An arena's reserved records come
// one after the other from where Reserve said.
TEST(QemDocument, ReservedRecordsAreWhereTheReservationSaid) {
  constexpr std::size_t kBlock = qem::ElementList::kBlock;
  qem::ElementList list;
  // Each record holds its own index.
  auto add = [&] {
    const std::size_t i = list.size();
    list.emplace_back().triangles.count = static_cast<std::uint32_t>(i);
  };
  add();
  list.Reserve(2 * kBlock);
  EXPECT_EQ(list.Capacity(), 3 * kBlock);
  qem::Element* ahead = &list[kBlock + 7];
  std::size_t visited = 0;
  list.ForEach([&](const qem::Element&) { ++visited; });
  EXPECT_EQ(visited, 1u);
  while (list.size() < kBlock + 8) add();
  EXPECT_EQ(&list.back(), ahead);
  visited = 0;
  bool inOrder = true;
  list.ForEach([&](const qem::Element& e) { inOrder = inOrder && e.triangles.count == visited++; });
  EXPECT_EQ(visited, kBlock + 8);
  EXPECT_TRUE(inOrder);
  list.ReleaseUnused();
  EXPECT_EQ(list.Capacity(), 2 * kBlock);
  EXPECT_EQ(list.back().triangles.count, kBlock + 7);

  qem::Arena<qem::Triangle> arena;
  arena.Allocate(3);
  qem::Triangle* reserved = arena.Reserve(100000);
  ASSERT_NE(reserved, nullptr);
  EXPECT_EQ(arena.Allocate(60000), reserved);
  EXPECT_EQ(arena.Reserve(40000), reserved + 60000);
  EXPECT_EQ(arena.Allocate(40000), reserved + 60000);
  EXPECT_EQ(arena.Reserve(std::size_t{1} << 62), nullptr);
  EXPECT_NE(arena.Allocate(1), nullptr);
}
