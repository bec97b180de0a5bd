#include "framework/Timer.h"

#include <chrono>

namespace timer {

double SecondsPrecise() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count();
}

// A single-precision reading loses sub-millisecond steps after hours of uptime; the frame
// clock therefore reads SecondsPrecise and takes its own start time off in double.
float Seconds() { return static_cast<float>(SecondsPrecise()); }

}  // namespace timer
