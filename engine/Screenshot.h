#pragma once
// Screenshots: F12 and the console command "screenshot [FILE]" save the window's picture
// (the scene with the status, the help, the frame rate and the legend as shown, never the
// console) as a PNG file. A request is kept until the next frame, which reads the back
// buffer after the engine has drawn and before the console draws. Replies go to the
// console; a failure is a red console line, never an error of the program. Main thread.

#include <ctime>
#include <functional>
#include <string>

#include "gfx/Device.h"

namespace engine {

// Asks the next frame for a screenshot into file (empty: DefaultScreenshotName). A second
// request before that frame replaces the first.
void RequestScreenshot(const std::string& file);

// "qem-<the mesh file's name without its extension>-<YYYYMMDD-HHMMSS>.png" for the local
// time now, in the current directory; while exists(name) says a file is there, "-2", "-3"
// ... before ".png", so nothing is overwritten.
std::string DefaultScreenshotName(const std::string& documentPath, std::time_t now,
                                  const std::function<bool(const std::string&)>& exists);

// Called inside the scene between the engine's draw and the console's: when a screenshot
// is pending, ends the scene, reads the back buffer, writes the file and begins the scene
// again. Replies "Zrzut ekranu zapisany do pliku "NAME"" or, in red, "Nie można zapisać
// zrzutu ekranu do pliku "NAME"" (nothing half-written is left behind).
void SavePendingScreenshot(gfx::Device& device);

}  // namespace engine
