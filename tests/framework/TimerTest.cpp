#include "framework/Timer.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// The single-precision reader is the precise one narrowed: read between two precise
// readings, it lies between their narrowed values (narrowing never reverses an order).
TEST(Timer, ReadersNeverGoBackAndAgree) {
  double previousPrecise = timer::SecondsPrecise();
  float previous = timer::Seconds();
  for (int i = 0; i < 10000; ++i) {
    const double precise = timer::SecondsPrecise();
    const float single = timer::Seconds();
    const double after = timer::SecondsPrecise();
    EXPECT_GE(precise, previousPrecise);
    EXPECT_GE(single, previous);
    EXPECT_GE(single, static_cast<float>(precise));
    EXPECT_LE(single, static_cast<float>(after));
    previousPrecise = precise;
    previous = single;
  }
  const double before = timer::SecondsPrecise();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(timer::SecondsPrecise() - before, 0.019);
}

}  // namespace
