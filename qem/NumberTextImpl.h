#pragma once
// Inline body of ParseFloatToken (kept apart so that NumberText.h reads as a contract).

#include <system_error>

#include <fast_float/fast_float.h>

namespace qem {

inline float ParseFloatToken(std::string_view token) {
  const char* first = token.data();
  const char* last = first + token.size();
  if (first != last) {
    const char c = *first;
    const bool digitOrPoint = (c >= '0' && c <= '9') || c == '.';
    const bool minusNumber = c == '-' && token.size() > 1 && ((first[1] >= '0' && first[1] <= '9') || first[1] == '.');
    if (digitOrPoint || minusNumber) {
      double value = 0;
      const auto result = fast_float::from_chars(first, last, value);
      if (result.ec == std::errc() && result.ptr == last) return static_cast<float>(value);
    }
  }
  return ParseFloatTokenSlow(token);
}

}  // namespace qem
