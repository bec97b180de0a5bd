#pragma once
// The location of a statement as the error trace prints it: the function's signature text
// and the source file's base name without directory or extension ("Config" for
// config/Config.cpp), fixed while compiling.

#include <string_view>

namespace source_location_detail {

consteval std::string_view Stem(std::string_view path) {
  const auto slash = path.find_last_of("/\\:");
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const auto dot = path.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
  return path;
}

}  // namespace source_location_detail

// The file and line arguments of an error-trace call: ErrorRaise("text", ERROR_FILE_LINE).
#define ERROR_FILE_LINE ::source_location_detail::Stem(__FILE__), __LINE__

// Signature, file and line: ErrorRaiseWin32(ERROR_LOCATION) records the failing function.
#define ERROR_LOCATION __PRETTY_FUNCTION__, ERROR_FILE_LINE

// A caller's "add my location" after a call that left the trace pending:
//   if (ErrorPending()) { ERROR_ADD_LOCATION(); return; }
#define ERROR_ADD_LOCATION() ::ErrorAdd(ERROR_LOCATION)
