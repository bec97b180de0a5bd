#pragma once
// The fatal error report: when the run ends with the global error trace pending, one block
// is appended to "Errors.log" in the current directory — the environment (time, computer,
// user, executable) and then the trace, newest line first, so it reads from the outermost
// function down to the root cause. Reading the trace empties it. Main thread only.

#include <optional>
#include <string>

struct ReportEnvironment {
  std::string time;                     // "2006-03-14 09:05:07", local time
  std::optional<std::string> computer;  // absent when the name does not fit 16 bytes
  std::optional<std::string> user;      // absent when the name does not fit 257 bytes
  std::string executable;               // full path, at most 259 bytes
};

// The environment of this process now.
ReportEnvironment CurrentEnvironment();

// Appends the block for the global trace to the file at path, written as a text file
// (every line feed as carriage return + line feed). A file that cannot be opened gets
// nothing and the trace keeps its lines.
void WriteErrorReport(const std::string& path, const ReportEnvironment& environment);

// The report the program writes: "Errors.log", this process's environment.
void WriteErrorReport();
