#include "Common_Code/ErrorTrace.h"

#include <cerrno>
#include <cstring>

#include "Common_Code/Conversions.h"
#include "config/TvlError.h"

namespace {

std::string_view BaseName(std::string_view file) {
  const auto separator = file.find_last_of("\\/:");
  return separator == std::string_view::npos ? file : file.substr(separator + 1);
}

// The system's text for an errno value. Windows' system texts end with a line break, and
// the root line keeps it, so a system failure's line ends the same way on every platform.
std::string SystemText(int code) {
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return std::string(text ? text : "") + "\r\n";
}

}  // namespace

void ErrorTrace::Clear() {
  lines.clear();
  pending = false;
}

void ErrorTrace::Add(std::string_view text, std::string_view file, int line) {
  if (file.empty() && line == 0) {
    lines.emplace_back(text);
  } else {
    std::string entry = "[";
    entry += BaseName(file);
    entry += ',';
    entry += ToText(static_cast<std::int32_t>(line));
    entry += "] ";
    entry += text;
    lines.push_back(std::move(entry));
  }
  pending = true;
}

void ErrorTrace::Raise(std::string_view text, std::string_view file, int line) {
  Clear();
  Add(text, file, line);
}

void ErrorTrace::Restart(std::string rootLine, std::string_view text, std::string_view file, int line) {
  Clear();
  lines.push_back(std::move(rootLine));
  pending = true;
  if (!text.empty()) Add(text, file, line);
}

void ErrorTrace::RaiseWin32(std::string_view text, std::string_view file, int line) {
  const int code = errno;
  RaiseWin32Code(static_cast<unsigned>(code), SystemText(code), text, file, line);
}

void ErrorTrace::RaiseWin32Code(unsigned code, std::string_view systemText, std::string_view text,
                                std::string_view file, int line) {
  std::string root = "(Win32API,";
  root += ToText(static_cast<std::uint32_t>(code));
  root += ") ";
  root += systemText;
  Restart(std::move(root), text, file, line);
}

void ErrorTrace::RaiseDirectX(HRESULT hr, std::string_view text, std::string_view file, int line) {
  if (hr >= 0) return;
  std::string root = "(DirectX,";
  root += ToText(static_cast<std::uint32_t>(hr));
  root += ") ";
  root += DeviceResultName(hr);
  root += " (";
  root += DeviceResultDescription(hr);
  root += ")";
  Restart(std::move(root), text, file, line);
}

void ErrorTrace::RaiseParse(const tvl::Error& error, std::string_view text, std::string_view file, int line) {
  std::string root = "(tvl2,";
  root += ToText(error.code);
  root += ") znak ";
  root += ToText(error.offset);
  root += " wiersz ";
  root += ToText(error.line);
  root += " kolumna ";
  root += ToText(error.column);
  root += ": ";
  root += error.Message();
  Restart(std::move(root), text, file, line);
}

bool ErrorTrace::TakeAll(std::string& out) {
  out.clear();
  pending = false;
  if (lines.empty()) return false;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (!out.empty()) out += '\n';
    out += *it;
  }
  lines.clear();
  pending = false;
  return true;
}

bool ErrorTrace::PopLine(std::string& out) {
  if (lines.empty()) {
    pending = false;
    return false;
  }
  out = std::move(lines.back());
  lines.pop_back();
  return true;
}

namespace {
thread_local ErrorTrace* redirected = nullptr;
}

ErrorTrace& GlobalErrorTrace() {
  static ErrorTrace trace;
  return trace;
}

ErrorTrace& CurrentErrorTrace() { return redirected ? *redirected : GlobalErrorTrace(); }

ScopedErrorTrace::ScopedErrorTrace(ErrorTrace& trace) : previous(redirected) { redirected = &trace; }

ScopedErrorTrace::~ScopedErrorTrace() { redirected = previous; }

bool ErrorPending() { return CurrentErrorTrace().IsPending(); }

void ErrorAdd(std::string_view text, std::string_view file, int line) { CurrentErrorTrace().Add(text, file, line); }

void ErrorRaise(std::string_view text, std::string_view file, int line) { CurrentErrorTrace().Raise(text, file, line); }

void ErrorRaiseWin32(std::string_view text, std::string_view file, int line) {
  const int code = errno;  // before anything else can change it
  CurrentErrorTrace().RaiseWin32Code(static_cast<unsigned>(code), SystemText(code), text, file, line);
}

void ErrorRaiseWin32Code(unsigned code, std::string_view systemText, std::string_view text, std::string_view file,
                         int line) {
  CurrentErrorTrace().RaiseWin32Code(code, systemText, text, file, line);
}

void ErrorRaiseDirectX(HRESULT hr, std::string_view text, std::string_view file, int line) {
  CurrentErrorTrace().RaiseDirectX(hr, text, file, line);
}

void ErrorRaiseParse(const tvl::Error& error, std::string_view text, std::string_view file, int line) {
  CurrentErrorTrace().RaiseParse(error, text, file, line);
}

bool ErrorPopLine(std::string& out) { return CurrentErrorTrace().PopLine(out); }
