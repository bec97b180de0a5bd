#include "framework/Timer.h"

#include <chrono>

namespace timer {

double SecondsPrecise() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count();
}

// Converted to float only after the double reading, as the frame clock subtracts its own
// start time after this conversion.
float Seconds() { return static_cast<float>(SecondsPrecise()); }

}  // namespace timer
