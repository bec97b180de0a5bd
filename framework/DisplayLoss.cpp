#include "framework/DisplayLoss.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <string>

#include "Common_Code/Cp1250.h"

namespace frame {

namespace {

std::atomic<bool> lost{false};

// The line's two halves around the display's name, prepared at installation so that the
// handler converts and allocates nothing.
std::string& LineStart() {
  static std::string text;
  return text;
}
std::string& LineEnd() {
  static std::string text;
  return text;
}

void Write(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(STDERR_FILENO, text, size);
    if (written <= 0) return;
    text += written;
    size -= static_cast<std::size_t>(written);
  }
}

int OnIoError(Display* display) {
  lost = true;
  const char* name = display ? DisplayString(display) : nullptr;
  if (!name) name = "";
  Write(LineStart().data(), LineStart().size());
  Write(name, std::strlen(name));
  Write(LineEnd().data(), LineEnd().size());
  _exit(kDisplayLostStatus);
}

}  // namespace

void InstallDisplayLossHandler() {
  if (LineStart().empty()) {
    LineStart() = cp1250::ToUtf8("Utracono połączenie z ekranem \""_cp);
    LineEnd() = cp1250::ToUtf8("\"; program kończy pracę."_cp) + "\n";
  }
  // Writing to a server that is gone raises SIGPIPE, whose default action would end the
  // process silently before Xlib sees the broken connection.
  std::signal(SIGPIPE, SIG_IGN);
  XSetIOErrorHandler(OnIoError);
}

bool DisplayLost() { return lost; }

}  // namespace frame
