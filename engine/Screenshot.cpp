#include "engine/Screenshot.h"

#include <filesystem>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "app/Console.h"
#include "engine/EngineState.h"
#include "gfx/PngFile.h"

namespace engine {

void RequestScreenshot(const std::string& file) {
  state.screenshotPending = true;
  state.screenshotName = file;
}

std::string DefaultScreenshotName(const std::string& documentPath, std::time_t now,
                                  const std::function<bool(const std::string&)>& exists) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = "qem-" + std::filesystem::path(documentPath).stem().string() + "-" + stamp;
  std::string name = base + ".png";
  for (int n = 2; exists(name); ++n) name = base + "-" + std::to_string(n) + ".png";
  return name;
}

void SavePendingScreenshot(gfx::Device& device) {
  if (!state.screenshotPending) return;
  state.screenshotPending = false;
  std::string name = state.screenshotName;
  if (name.empty()) {
    name = DefaultScreenshotName(state.documentPath, std::time(nullptr), [](const std::string& file) {
      std::error_code error;
      return std::filesystem::exists(file, error) || error;
    });
  }
  std::vector<std::uint8_t> rgba;
  gfx::UINT width = 0, height = 0;
  std::string reason;
  // The picture is complete once the scene ends; the console is drawn after it in a
  // scene of its own.
  device.EndScene();
  const bool saved =
      Succeeded(device.ReadBackBuffer(rgba, width, height)) && gfx::WritePngFile(name, width, height, rgba, reason);
  device.BeginScene();
  if (!g_console) return;
  if (saved) {
    g_console->Print("Zrzut ekranu zapisany do pliku \"" + name + "\"", kConsoleNormal);
  } else {
    g_console->Print("Nie można zapisać zrzutu ekranu do pliku \""_cp + name + "\"", kConsoleError);
  }
}

}  // namespace engine
