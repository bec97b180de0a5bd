// The engine's console commands: switches of the drawing features, the "liczba" number,
// the octree report, the zoom's reset, the probe, the help and the screenshot.
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"
#include "app/CommandArguments.h"
#include "app/Console.h"
#include "engine/Engine.h"
#include "engine/EngineState.h"
#include "engine/Probe.h"
#include "engine/Screenshot.h"

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
    {"legend", &State::legendShown, "Legenda pokazana"_cp, "Legenda ukryta"_cp},
};

// A decimal number; "Błąd podczas konwersji" at its start when the value is not one.
float ReadFloat(tvl::Reader& reader) {
  const auto start = reader.Position();
  const std::string value = command::ReadValue(reader);
  char* end = nullptr;
  const float number = std::strtof(value.c_str(), &end);
  if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(number)) {
    reader.Fail("Błąd podczas konwersji"_cp, start);
  }
  return number;
}

std::string Coordinates(const qem::Float3& p) {
  return "(" + FormatFloat(p.x, 'g', 6) + ", " + FormatFloat(p.y, 'g', 6) + ", " + FormatFloat(p.z, 'g', 6) + ")";
}

void Probe(tvl::Reader& reader) {
  qem::Float3 point;
  point.x = ReadFloat(reader);
  point.y = ReadFloat(reader);
  point.z = ReadFloat(reader);
  command::ExpectEnd(reader);
  const qem::Document* document = CurrentDocument();
  if (!state.documentReady || !document) return;
  std::vector<ProbeWeight> weights;
  if (LocatePoint(*document, ToNormalised(*document, point), weights)) {
    Reply("Wartość w "_cp + Coordinates(point) + ": " +
          FormatFloat(ProbeValue(*document, weights, state.displayTime), 'g', 6));
  } else {
    Reply("Punkt " + Coordinates(point) + " leży poza siatką"_cp);
  }
}

// One line per key and per command.
constexpr std::string_view kHelpLines[] = {
    "Klawisze i mysz:"_cp,
    "  LPM + ruch myszy - obrót siatki"_cp,
    "  PPM + ruch myszy - przesuwanie płaszczyzny obcinającej"_cp,
    "  ŚPM - sonda: wartość w klikniętym punkcie (kliknięcie w tło ją usuwa)"_cp,
    "  kółko myszy - powiększenie i pomniejszenie widoku"_cp,
    "  W - siatka krawędzi włączona / wyłączona"_cp,
    "  O - rzut prostokątny / perspektywiczny"_cp,
    "  L - światła włączone / wyłączone"_cp,
    "  Enter - odtwarzanie, Esc - zatrzymanie"_cp,
    "  Home, End - początek, koniec czasu"_cp,
    "  PgUp, PgDn - czas szybko wstecz, naprzód"_cp,
    "  lewo, prawo - czas wolno wstecz, naprzód"_cp,
    "  F12 - zrzut ekranu"_cp,
    "  ` - konsola pokazana / ukryta"_cp,
    "Polecenia:"_cp,
    "  exit - zakończenie programu"_cp,
    "  echo TEKST - wypisanie tekstu"_cp,
    "  mode SZEROKOŚĆ WYSOKOŚĆ ODŚWIEŻANIE PEŁNY_EKRAN - zmiana trybu wyświetlania"_cp,
    "  modes - lista trybów wyświetlania"_cp,
    "  profile - wyniki profilera"_cp,
    "  saveprofile PLIK - zapis wyników profilera do pliku"_cp,
    "  culling - pomijanie tylnych ścian włączone / wyłączone"_cp,
    "  wireframe - tryb szkieletowy włączony / wyłączony"_cp,
    "  transparency - przezroczystość włączona / wyłączona"_cp,
    "  map - mapa włączona / wyłączona"_cp,
    "  fog - mgła włączona / wyłączona"_cp,
    "  fly - latanie włączone / wyłączone"_cp,
    "  lighting - światła włączone / wyłączone"_cp,
    "  clipplane - przekrój pokazany / ukryty"_cp,
    "  legend - legenda kolorów pokazana / ukryta"_cp,
    "  liczba X - zmiana liczby"_cp,
    "  tree - liczba elementów na poziomach drzewa ósemkowego"_cp,
    "  zoom - powiększenie z powrotem na 1"_cp,
    "  probe X Y Z - wartość w punkcie siatki (współrzędne pliku)"_cp,
    "  screenshot [PLIK] - zrzut ekranu do pliku PNG"_cp,
    "  help - ta lista"_cp,
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
  if (name == "zoom") {
    command::ExpectEnd(reader);
    state.zoom = 1;
    Reply("Powiększenie: 1"_cp);
    return true;
  }
  if (name == "probe") {
    Probe(reader);
    return true;
  }
  if (name == "help") {
    command::ExpectEnd(reader);
    for (std::string_view line : kHelpLines) Reply(std::string(line));
    return true;
  }
  if (name == "screenshot") {
    std::string file;
    reader.ReadValue(file);
    command::ExpectEnd(reader);
    RequestScreenshot(file);
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
