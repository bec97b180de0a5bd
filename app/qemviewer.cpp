// qemviewer: the desktop program on SDL and OpenGL. Its exit status is the program's
// result as the platform truncates it (0 after a normal shutdown; -5436, 196, when it never
// ran, as after a cancelled open dialog).
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
    FileFilter filter;
    filter.Add("Pliki QEM", "*.qem", true).Add("Wszystkie pliki", "*.*", true);
    return ShowFileDialog(false, "Otwórz siatkę"_cp, filter.Text(), path, nullptr);
  };
  frame::WindowSystem* windowSystem = services.platform.windowSystem;
  services.showError = [windowSystem](std::string_view text, std::string_view caption) {
    windowSystem->ShowErrorBox(caption, text);
  };
  services.writeReport = [] { WriteErrorReport(); };
  return RunProgram(args, services);
}
