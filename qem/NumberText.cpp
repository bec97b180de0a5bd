#include "qem/NumberText.h"

#include <cstdlib>
#include <string>

namespace qem {

float ParseFloatTokenSlow(std::string_view token) {
  // atof itself, on a zero-terminated copy: it stops at the first byte that does not
  // belong to a number (an embedded zero byte included), as the reference reading does.
  const std::string copy(token);
  return static_cast<float>(std::atof(copy.c_str()));
}

}  // namespace qem
