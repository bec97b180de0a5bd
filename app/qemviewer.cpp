// qemviewer: the desktop program on SDL and OpenGL. Its exit status is the program's
// result as the platform truncates it: 0 after a normal shutdown; 196 (-5436) when it
// never ran, as after a cancelled open dialog or a fatal start; 255 (-1) when there is no
// display; 1 when a running program ended with the fatal report; other values for the
// framework's failed starts. Every fatal end also writes its report and the box's text to
// standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/FatalReport.h"
#include "framework/SdlPlatform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  ProgramServices services;
  services.platform = frame::SdlPlatform();
  services.chooseFile = [](std::string& path) {
    if (!CanShowFileDialog()) return FileChoice::kNoDisplay;
    FileFilter filter;
    filter.Add("Pliki QEM", "*.qem", true).Add("Wszystkie pliki", "*.*", true);
    return ShowFileDialog(false, "Otwórz siatkę"_cp, filter.Text(), path, nullptr) ? FileChoice::kChosen
                                                                                   : FileChoice::kCancelled;
  };
  frame::WindowSystem* windowSystem = services.platform.windowSystem;
  services.showError = [windowSystem](std::string_view text, std::string_view caption) {
    windowSystem->ShowErrorBox(caption, text);
  };
  services.writeReport = [] { return WriteErrorReport(); };
  services.printError = [](std::string_view text) {
    std::fprintf(stderr, "%s\n", cp1250::ToUtf8(text).c_str());
    std::fflush(stderr);
  };
  return RunProgram(args, services);
}
