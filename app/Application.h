#pragma once
// The program's top (app/Main.cpp): the entry's sequence (find the mesh file, create the configuration,
// the console and the engine, register the frame objects, read the display mode, run the
// framework, report a pending error), the application frame object whose update and draw
// steps drive the engine and the console, and the window procedure that routes keys,
// characters and the mouse. Main thread only.
//
// What differs between the real program and the tests is gathered in ProgramServices: the
// platform (SDL and OpenGL, or the scripted window system and the recording device), the
// open dialog, the error box and the report.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Commands.h"
#include "framework/Framework.h"

namespace engine {
class Engine;
}

// The result of every exit that does not run the framework.
inline constexpr int kNotRun = -5436;
// The result when there is no display (none for the open dialog, or the framework could
// not open one: this is its result then). No message box is tried without a display.
inline constexpr int kNoDisplay = -1;
// The result of a run that ended with the fatal report although the framework itself shut
// down normally (a failure in a running frame), so no fatal end reports success.
inline constexpr int kFatalEnd = 1;

// What the open dialog gave.
enum class FileChoice {
  kChosen,     // the path is filled
  kCancelled,  // the user closed the dialog without a file
  kNoDisplay,  // there is no display to show it on
};

struct ProgramServices {
  frame::Platform platform;
  // The open dialog.
  std::function<FileChoice(std::string& path)> chooseFile;
  // The fatal message box: text and caption, Windows-1250.
  std::function<void(std::string_view text, std::string_view caption)> showError;
  // Appends the report of the pending global trace to Errors.log and copies it to
  // standard error; false when Errors.log could not be written.
  std::function<bool()> writeReport;
  // One message (Windows-1250, may hold line breaks) to standard error.
  std::function<void(std::string_view text)> printError;
};

// The program: args are the command-line arguments after the program's name. Returns the
// framework's result; kNotRun when it did not run; kNoDisplay when no dialog could be
// shown; kFatalEnd when a run that ended normally left the fatal report.
int RunProgram(const std::vector<std::string>& args, const ProgramServices& services);

class Application : public frame::FrameObject {
 public:
  void OnCreate() override;
  void OnDeviceRestore() override;

  // Input poll, console, engine.
  void Update();
  // Engine, then console (inside the scene).
  void Draw();
  // The backquote toggles the console; Enter runs the console's line; other characters go
  // to the console while it is shown and to the engine while it is hidden.
  void OnChar(unsigned char c);
  // Runs one console line through the interpreter, with the engine's commands after the
  // application's own.
  void ExecuteCommand(const std::string& line);

  // The commands after the application's own; empty: the engine's (tests put their own
  // here to watch what a command sees).
  EngineCommandHandler engineCommands;
};

extern Application g_application;
// The engine the entry created; null outside RunProgram.
extern engine::Engine* g_engine;

// The framework's update and draw callbacks and the application's window procedure.
void Update();
void Draw();
std::intptr_t ApplicationWindowProc(frame::WindowSystem* window, unsigned message, std::uintptr_t wParam,
                                    std::intptr_t lParam);
