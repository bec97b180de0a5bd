#include "app/Commands.h"

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"
#include "app/Console.h"
#include "app/Profiler.h"
#include "framework/Framework.h"

namespace {

std::string ModeText(std::uint32_t width, std::uint32_t height, std::uint32_t refreshRate) {
  return ToText(width) + " x " + ToText(height) + " @ " + ToText(refreshRate);
}

void Mode(tvl::Reader& reader, Console& console) {
  const auto sizeStart = reader.Position();
  const std::uint32_t width = command::ReadUnsigned(reader);
  const std::uint32_t height = command::ReadUnsigned(reader);
  const std::uint32_t refreshRate = command::ReadUnsigned(reader);
  const bool fullScreen = command::ReadBool(reader);
  command::ExpectEnd(reader);
  // Sizes past INT_MAX wrap to negatives here, which the check refuses like any other.
  const frame::DisplayMode mode{static_cast<int>(width), static_cast<int>(height), static_cast<int>(refreshRate),
                                fullScreen};
  if (!frame::IsDisplayModeSupported(mode)) reader.Fail("Nieobsługiwany tryb wyświetlania"_cp, sizeStart);
  frame::ChangeDisplayMode(mode);
  // The reply comes even when the switch failed: the error trace then closes the program.
  console.Print("Tryb zmieniony na "_cp + ModeText(width, height, refreshRate) + " (" +
                    (fullScreen ? std::string("pełny ekran"_cp) : std::string("okno")) + ")",
                kConsoleNormal);
}

void Modes(tvl::Reader& reader, Console& console) {
  command::ExpectEnd(reader);
  frame::BeginModeEnumeration();
  frame::DisplayMode mode;
  while (frame::NextMode(mode)) {
    console.Print(ModeText(static_cast<std::uint32_t>(mode.width), static_cast<std::uint32_t>(mode.height),
                           static_cast<std::uint32_t>(mode.refreshRate)),
                  kConsoleNormal);
  }
}

}  // namespace

void ExecuteCommand(std::string_view line, Console& console, const EngineCommandHandler& engine) {
  console.Print("> " + std::string(line), kConsoleEcho);
  try {
    tvl::Reader reader(line);
    std::string word;
    if (!reader.ReadValue(word)) reader.Fail("Oczekiwane polecenie");
    ToLower(word);
    if (word == "exit") {
      command::ExpectEnd(reader);
      frame::RequestClose();
    } else if (word == "echo") {
      std::string text;
      reader.ReadRaw(text, true);
      Trim(text);
      command::ExpectEnd(reader);
      console.Print(text, kConsoleNormal);
    } else if (word == "mode") {
      Mode(reader, console);
    } else if (word == "modes") {
      Modes(reader, console);
    } else if (word == "profile") {
      command::ExpectEnd(reader);
      for (const std::string& profileLine : Profiler::Lines()) console.Print(profileLine, kConsoleNormal);
    } else if (word == "saveprofile") {
      const std::string file = command::ReadValue(reader, "Oczekiwana nazwa pliku");
      command::ExpectEnd(reader);
      if (Profiler::Save(file)) {
        console.Print("Profil zapisany do pliku \"" + file + "\"", kConsoleNormal);
      } else {
        console.Print("Nie można zapisać profilu do pliku \""_cp + file + "\"", kConsoleError);
      }
    } else if (!engine || !engine(word, reader)) {
      console.Print("Nieznane polecenie", kConsoleError);
    }
  } catch (const tvl::Error& error) {
    const std::string_view near = error.offset < line.size() ? line.substr(error.offset, 16) : std::string_view();
    console.Print("Błąd składni przy \""_cp + std::string(near) + "\": " + error.Message(), kConsoleError);
  }
}
