#pragma once
// The error trace: how every failure of the program travels. A function that detects a
// failure records a root line with one of the Raise operations and returns; each caller
// tests IsPending after every call that can fail and, when it is set, adds its own
// location line and returns too. The owner at the top reads the lines newest first, so a
// report runs from the outermost function down to the root cause.
//
// There is one global trace, which belongs to the main thread (the free functions below),
// and one private trace per background load. No locking inside: a trace is used by one
// thread at a time.
//
// All text is Windows-1250 bytes. A location is the signature text, the source file
// (its base name is printed) and the line; an explanatory message has an empty file and
// line 0. ERROR_LOCATION and ERROR_FILE_LINE (SourceLocation.h) give those arguments.

#include <string>
#include <string_view>
#include <vector>

#include "Common_Code/DeviceResult.h"
#include "Common_Code/SourceLocation.h"

namespace tvl {
struct Error;
}

class ErrorTrace {
 public:
  bool IsPending() const { return pending; }

  // Removes every line and clears the pending flag.
  void Clear();

  // Appends "text" (no file, line 0) or "[<file base name>,<line>] text"; sets pending.
  void Add(std::string_view text, std::string_view file, int line);

  // Clear, then Add.
  void Raise(std::string_view text, std::string_view file, int line);

  // Root line "(Win32API,<code>) <system text>" for the thread's errno, read before
  // anything else can change it; then Add(text, file, line) unless text is empty.
  void RaiseWin32(std::string_view text, std::string_view file, int line);

  // The same for a code and system text a library reported itself (a failed SDL or GL
  // call gives its own error text).
  void RaiseWin32Code(unsigned code, std::string_view systemText, std::string_view text, std::string_view file,
                      int line);

  // Root line "(DirectX,<hr>) <name> (<description>)"; a success code records nothing.
  void RaiseDirectX(HRESULT hr, std::string_view text, std::string_view file, int line);

  // Root line "(tvl2,<code>) znak <offset> wiersz <line> kolumna <column>: <message>".
  void RaiseParse(const tvl::Error& error, std::string_view text, std::string_view file, int line);

  // Every line, newest first, joined by line feeds; leaves the trace idle. False when
  // there were no lines.
  bool TakeAll(std::string& out);

  // The newest line, removed from the list; pending stays set. With no lines left it
  // clears pending and returns false, leaving out unchanged.
  bool PopLine(std::string& out);

  const std::vector<std::string>& Lines() const { return lines; }

 private:
  void Restart(std::string rootLine, std::string_view text, std::string_view file, int line);

  bool pending = false;
  std::vector<std::string> lines;
};

// The main thread's trace.
ErrorTrace& GlobalErrorTrace();

// The trace the free functions below use on the calling thread: the global one, unless
// this thread has redirected them with ScopedErrorTrace.
ErrorTrace& CurrentErrorTrace();

// While it lives, the free functions on the constructing thread record into trace instead
// of the global one. The background loader reads its file under one, so the stream layer's
// lines never touch the main thread's trace; the main thread moves them over later.
class ScopedErrorTrace {
 public:
  explicit ScopedErrorTrace(ErrorTrace& trace);
  ~ScopedErrorTrace();
  ScopedErrorTrace(const ScopedErrorTrace&) = delete;
  ScopedErrorTrace& operator=(const ScopedErrorTrace&) = delete;

 private:
  ErrorTrace* previous;
};

bool ErrorPending();
void ErrorAdd(std::string_view text, std::string_view file, int line);
void ErrorRaise(std::string_view text, std::string_view file, int line);
void ErrorRaiseWin32(std::string_view text, std::string_view file, int line);
void ErrorRaiseWin32Code(unsigned code, std::string_view systemText, std::string_view text, std::string_view file,
                         int line);
void ErrorRaiseDirectX(HRESULT hr, std::string_view text, std::string_view file, int line);
void ErrorRaiseParse(const tvl::Error& error, std::string_view text, std::string_view file, int line);
bool ErrorPopLine(std::string& out);
