#pragma once
// Losing the X server under a running program (a server restart, a dropped remote session).
// Xlib then calls its I/O error handler, which must not return; its default ends the process
// with exit(), whose static destructors would call SDL on the dead connection and never
// finish. The handler installed here writes one line to standard error and ends the
// process at once with kDisplayLostStatus: no destructor runs, so nothing touches the
// display again, and a load running on another thread ends with the process.
//
// Kept apart from the SDL window system so that Xlib's macros stay out of it. Main thread.

namespace frame {

inline constexpr int kDisplayLostStatus = 1;

// Installs the handler (again: a library may have put its own in place since).
void InstallDisplayLossHandler();

// True once the connection was found lost.
bool DisplayLost();

}  // namespace frame
