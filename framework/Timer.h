#pragma once
// Clock readers: seconds since an arbitrary origin, from a steady clock. Seconds() is a
// single-precision reading, SecondsPrecise() the one the frame clock and the profiler use. Any thread.

namespace timer {

float Seconds();
double SecondsPrecise();

}  // namespace timer
