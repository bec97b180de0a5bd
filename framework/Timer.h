#pragma once
// Clock readers: seconds since an arbitrary origin, from a steady clock. Seconds() is the
// frame clock's single-precision reading, SecondsPrecise() the profiler's. Any thread.

namespace timer {

float Seconds();
double SecondsPrecise();

}  // namespace timer
