#include "app/FatalReport.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"

namespace {

// Text-mode output: every line feed goes out as carriage return + line feed, so a trace
// line that already ends with a system text's CR LF shows an extra break, as on the
// platform the log format comes from.
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

  // The computer name must fit 15 bytes and its terminator, as the report has always had it.
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0 && std::string_view(host).size() < 16) {
    environment.computer = cp1250::FromUtf8(host);
  }

  if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name && std::string_view(entry->pw_name).size() < 257) {
    environment.user = cp1250::FromUtf8(entry->pw_name);
  }

  char path[260] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length > 0) environment.executable = cp1250::FromUtf8(std::string_view(path, static_cast<std::size_t>(length)));
  return environment;
}

void WriteErrorReport(const std::string& path, const ReportEnvironment& environment) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return;
  WriteLine(file, "Środowisko"_cp, true);
  WriteLine(file, "  Czas       : " + environment.time, true);
  if (environment.computer) WriteLine(file, "  Komputer   : " + *environment.computer, true);
  if (environment.user) WriteLine(file, "  Użytkownik : "_cp + *environment.user, true);
  WriteLine(file, "  Plik       : " + environment.executable, true);
  WriteLine(file, "Błąd"_cp, true);
  std::string line;
  while (ErrorPopLine(line)) WriteLine(file, "  " + line, false);
  WriteLine(file, "", true);
  std::fclose(file);
}

void WriteErrorReport() { WriteErrorReport("Errors.log", CurrentEnvironment()); }
