#pragma once
// The fatal error report: when the run ends with the global error trace pending, one block
// is appended to "Errors.log" in the current directory — the environment (time, computer,
// user, executable) and then the trace, newest line first, so it reads from the outermost
// function down to the root cause — and the same block goes to standard error. Reading
// the trace empties it. Main thread only.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct ReportEnvironment {
  std::string time;                     // "2006-03-14 09:05:07", local time
  std::optional<std::string> computer;  // absent when the name does not fit 16 bytes
  std::optional<std::string> user;      // absent when the name does not fit 257 bytes
  std::string executable;               // full path, at most 259 bytes
};

// The environment of this process now.
ReportEnvironment CurrentEnvironment();

// The block's lines, Windows-1250, without line ends: the head (the environment and
// "Błąd") and the trace's lines, newest first, each indented by two spaces. Reading the
// trace empties it.
struct ReportBlock {
  std::vector<std::string> head;
  std::vector<std::string> trace;
};
ReportBlock TakeReportBlock(const ReportEnvironment& environment);

// Takes the block for the global trace and appends it to the file at path, written as a
// text file (every line feed as carriage return + line feed) and ended by an empty line.
// When copy is not null the same block goes there too, as UTF-8 with plain line feeds, so
// it is never lost. Returns whether the file got the whole block (false when it could not
// be opened or written).
bool WriteErrorReport(const std::string& path, const ReportEnvironment& environment, std::FILE* copy);

// The report the program writes: "Errors.log", this process's environment, a copy on
// standard error.
bool WriteErrorReport();
