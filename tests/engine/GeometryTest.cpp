#include "engine/Geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using engine::Vec3;

TEST(GeometryTest, WrapAngleReducesIntoOneTurn) {
  EXPECT_FLOAT_EQ(engine::WrapAngle(-0.3f), 6.2831855f - 0.3f);
  EXPECT_EQ(engine::WrapAngle(6.2831855f), 0.0f);
  EXPECT_NEAR(engine::WrapAngle(7.0f), 7.0f - 6.2831855f, 1e-6);
  EXPECT_EQ(engine::WrapAngle(0.0f), 0.0f);
  EXPECT_FLOAT_EQ(engine::WrapAngle(-6.2831855f * 3 - 1.0f), 6.2831855f - 1.0f);
  // A tiny negative angle rounds to one whole turn and must come back as 0, never 2 pi.
  const float wrapped = engine::WrapAngle(-1e-9f);
  EXPECT_GE(wrapped, 0.0f);
  EXPECT_LT(wrapped, 6.2831855f);
}

TEST(GeometryTest, ClampKeepsTheBoundsAndTurnsNanIntoLo) {
  EXPECT_EQ(engine::Clamp(-1, 0.5f, 1), 0.5f);
  EXPECT_EQ(engine::Clamp(-1, -3, 1), -1.0f);
  EXPECT_EQ(engine::Clamp(-1, 3, 1), 1.0f);
  EXPECT_EQ(engine::Clamp(-1, std::numeric_limits<float>::quiet_NaN(), 1), -1.0f);
}

TEST(GeometryTest, SamePointBoundIsInclusiveAndZeroToleranceIsExact) {
  const float t = 0.125f;
  EXPECT_TRUE(engine::SamePoint({0, 0, 0}, {t, 0, 0}, t));
  EXPECT_TRUE(engine::SamePoint({0, 0, 0}, {0, -t, t}, t));
  EXPECT_FALSE(engine::SamePoint({0, 0, 0}, {2 * t, 0, 0}, t));
  EXPECT_FALSE(engine::SamePoint({0, 0, 0}, {0, 0, 1e-30f}, 0));
  EXPECT_TRUE(engine::SamePoint({1, 2, 3}, {1, 2, 3}, 0));
}

TEST(GeometryTest, PlaneCutsBoxComparesEveryCornerWithTheMinimumCorner) {
  const engine::Plane z0{0, 0, 1, 0};
  EXPECT_TRUE(engine::PlaneCutsBox(z0, {{-1, -1, -1}, {1, 1, 1}}));
  // The minimum corner lies on the plane: never counts as cut.
  EXPECT_FALSE(engine::PlaneCutsBox(z0, {{0, 0, 0}, {1, 1, 1}}));
  EXPECT_FALSE(engine::PlaneCutsBox(z0, {{-1, -1, 0.5f}, {1, 1, 1}}));
  // A diagonal plane through the box whose minimum corner is off the plane.
  EXPECT_TRUE(engine::PlaneCutsBox({1, 1, 1, -1}, {{0, 0, 0}, {1, 1, 1}}));
  // Only the maximum corner on the other side.
  EXPECT_TRUE(engine::PlaneCutsBox({1, 1, 1, -2.9f}, {{0, 0, 0}, {1, 1, 1}}));
}

TEST(GeometryTest, CentroidIsTheMean) {
  const Vec3 points[] = {{0, 0, 0}, {2, 0, 0}, {0, 4, 0}, {2, 4, 8}};
  const Vec3 c = engine::Centroid(points, 4);
  EXPECT_EQ(c.x, 1.0f);
  EXPECT_EQ(c.y, 2.0f);
  EXPECT_EQ(c.z, 2.0f);
}

TEST(GeometryTest, PolygonOrderStartsJustPastHalfATurn) {
  // Points at 0, 90, 180 and 270 degrees around +z, r towards the first: keys 1, 0, -1
  // (w = 0 counts as non-negative) and 2 pi, so the order is 270, 0, 90, 180.
  const engine::PolygonOrder order({0, 0, 1}, {0, 0, 0}, {1, 0, 0});
  std::vector<Vec3> points = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
  EXPECT_FLOAT_EQ(order.Key(points[0]), 1.0f);
  EXPECT_NEAR(order.Key(points[1]), 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(order.Key(points[2]), -1.0f);
  EXPECT_FLOAT_EQ(order.Key(points[3]), 6.2831855f);
  std::sort(points.begin(), points.end(), order);
  const std::vector<Vec3> expected = {{0, -1, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}};
  EXPECT_EQ(points, expected);
  EXPECT_TRUE(order({0, -1, 0}, {1, 0, 0}));
  EXPECT_FALSE(order({1, 0, 0}, {0, -1, 0}));
}

}  // namespace
