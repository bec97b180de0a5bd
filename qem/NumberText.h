#pragma once
// The reader's number conversions, fast on the common forms and exactly equal to the
// program's reference conversions on every input:
// - ParseFloatToken gives the float that atof's double narrows to (the reader's rule for
//   coordinates, times and values): fast_float for plain decimal tokens, the C library
//   itself for anything else (a leading "+", hexadecimal, inf and nan, white space in
//   front, a number followed by other bytes, out-of-range exponents).
// - ParseIndexToken accepts what ParseUnsigned accepts in base 10: one or more ASCII
//   digits whose value fits in 32 bits.
// Pure functions, callable from any thread.

#include <cstdint>
#include <string_view>

namespace qem {

float ParseFloatTokenSlow(std::string_view token);

inline float ParseFloatToken(std::string_view token);

inline bool ParseIndexToken(std::string_view token, std::uint32_t& out) {
  if (token.empty()) return false;
  std::uint64_t value = 0;
  for (const char c : token) {
    const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
    if (digit > 9) return false;
    value = value * 10 + digit;
    if (value > 0xFFFFFFFFu) return false;
  }
  out = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace qem

#include "qem/NumberTextImpl.h"
