#include "app/FatalReport.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"

namespace {

// Errors.log is a CR LF text file: every line feed goes out as carriage return + line
// feed, so a trace line that already ends with a system text's CR LF shows an extra,
// empty-looking break.
void WriteText(std::FILE* file, std::string_view text) {
  for (char c : text) {
    if (c == '\n') std::fputc('\r', file);
    std::fputc(c, file);
  }
}

void WriteLine(std::FILE* file, std::string_view text, bool flush) {
  WriteText(file, text);
  WriteText(file, "\n");
  if (flush) std::fflush(file);
}

}  // namespace

ReportEnvironment CurrentEnvironment() {
  ReportEnvironment environment;

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char time[64];
  std::snprintf(time, sizeof time, "%.4u-%.2u-%.2u %.2u:%.2u:%.2u", unsigned(local.tm_year + 1900),
                unsigned(local.tm_mon + 1), unsigned(local.tm_mday), unsigned(local.tm_hour), unsigned(local.tm_min),
                unsigned(local.tm_sec));
  environment.time = time;

  // The computer name must fit 15 bytes and its terminator: a longer name is left out
  // rather than cut, so the line never names a different computer.
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0 && std::string_view(host).size() < 16) {
    environment.computer = cp1250::FromUtf8(host);
  }

  if (const passwd* entry = getpwuid(geteuid());
      entry && entry->pw_name && std::string_view(entry->pw_name).size() < 257) {
    environment.user = cp1250::FromUtf8(entry->pw_name);
  }

  char path[260] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length > 0) environment.executable = cp1250::PathText(std::string_view(path, static_cast<std::size_t>(length)));
  return environment;
}

ReportBlock TakeReportBlock(const ReportEnvironment& environment) {
  ReportBlock block;
  block.head.push_back("Środowisko"_cp);
  block.head.push_back("  Czas       : " + environment.time);
  if (environment.computer) block.head.push_back("  Komputer   : " + *environment.computer);
  if (environment.user) block.head.push_back("  Użytkownik : "_cp + *environment.user);
  block.head.push_back("  Plik       : " + environment.executable);
  block.head.push_back("Błąd"_cp);
  std::string line;
  while (ErrorPopLine(line)) block.trace.push_back("  " + line);
  return block;
}

bool WriteErrorReport(const std::string& path, const ReportEnvironment& environment, std::FILE* copy) {
  const ReportBlock block = TakeReportBlock(environment);
  if (copy) {
    // A terminal or a log collector reads UTF-8 and plain line feeds.
    for (const auto* part : {&block.head, &block.trace}) {
      for (const std::string& line : *part) std::fprintf(copy, "%s\n", cp1250::ToUtf8(line).c_str());
    }
    std::fputc('\n', copy);
    std::fflush(copy);
  }
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return false;
  // The head and the closing empty line are flushed as they go, so a block cut short by a
  // failing disk still says when and where.
  for (const std::string& line : block.head) WriteLine(file, line, true);
  for (const std::string& line : block.trace) WriteLine(file, line, false);
  WriteLine(file, "", true);
  const bool written = !std::ferror(file);
  return std::fclose(file) == 0 && written;
}

bool WriteErrorReport() { return WriteErrorReport("Errors.log", CurrentEnvironment(), stderr); }
