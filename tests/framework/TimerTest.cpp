#include "framework/Timer.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(Timer, ReadersNeverGoBackAndAgree) {
  double previousPrecise = timer::SecondsPrecise();
  float previous = timer::Seconds();
  for (int i = 0; i < 10000; ++i) {
    const double precise = timer::SecondsPrecise();
    const float single = timer::Seconds();
    EXPECT_GE(precise, previousPrecise);
    EXPECT_GE(single, previous);
    previousPrecise = precise;
    previous = single;
  }
  const double before = timer::SecondsPrecise();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(timer::SecondsPrecise() - before, 0.019);
}

}  // namespace
