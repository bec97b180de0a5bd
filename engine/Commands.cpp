// The engine's console commands: switches of the drawing features, the "liczba" number
// and the octree report.
#include <string_view>

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"
#include "app/CommandArguments.h"
#include "app/Console.h"
#include "engine/Engine.h"
#include "engine/EngineState.h"

namespace engine {

namespace {

void Reply(const std::string& text) {
  if (g_console) g_console->Print(text, kConsoleNormal);
}

struct Switch {
  std::string_view name;
  bool State::*setting;
  std::string_view whenOn;
  std::string_view whenOff;
};

const Switch kSwitches[] = {
    {"culling", &State::cullingOn, "Culling włączony"_cp, "Culling wyłączony"_cp},
    {"wireframe", &State::wireframeMode, "Tryb szkieletowy włączony"_cp, "Tryb szkieletowy wyłączony"_cp},
    {"transparency", &State::transparencyOn, "Przezroczystość włączona"_cp, "Przezroczystość wyłączona"_cp},
    {"map", &State::mapOn, "Mapa włączona"_cp, "Mapa wyłączona"_cp},
    {"fog", &State::fogOn, "Mgła włączona"_cp, "Mgła wyłączona"_cp},
    {"fly", &State::flyOn, "Latanie włączone"_cp, "Latanie wyłączone"_cp},
    {"lighting", &State::lightingOn, "Światła włączone"_cp, "Światła wyłączone"_cp},
    {"clipplane", &State::sectionShown, "Płaszczyzna obcinająca pokazana"_cp, "Płaszczyzna obcinająca ukryta"_cp},
};

}  // namespace

bool Engine::HandleCommand(const std::string& name, tvl::Reader& reader) {
  for (const Switch& command : kSwitches) {
    if (name != command.name) continue;
    command::ExpectEnd(reader);
    bool& setting = state.*command.setting;
    setting = !setting;
    Reply(std::string(setting ? command.whenOn : command.whenOff));
    return true;
  }
  if (name == "liczba") {
    const std::string word = command::ReadValue(reader, "Za mało parametrów"_cp);
    command::ExpectEnd(reader);
    state.numberSetting = ToFloat(word);
    Reply("Liczba zmieniona na " + FormatFloat(state.numberSetting, 'f', 6));
    return true;
  }
  if (name == "tree") {
    const qem::Document* document = CurrentDocument();
    if (state.documentReady && document) {
      for (std::int32_t level = 0; level < 10; ++level) {
        Reply("Poziom " + ToText(level) + ": " + ToText(CountAtLevel(document->octree.get(), level)));
      }
    }
    return true;
  }
  return false;
}

}  // namespace engine
