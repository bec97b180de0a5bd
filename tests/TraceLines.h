#pragma once
// Test helper: reads a trace out as the fatal report does, newest line first, leaving it
// idle.

#include <string>
#include <vector>

#include "Common_Code/ErrorTrace.h"

inline std::vector<std::string> PopAllLines(ErrorTrace& trace = GlobalErrorTrace()) {
  std::vector<std::string> lines;
  std::string line;
  while (trace.PopLine(line)) lines.push_back(line);
  return lines;
}
