#include "gfx/Gui.h"

namespace gui {

class Window {};

GUISystem g_guiSystem;

GUISystem::GUISystem(const SettingQuery& query) {
  unsigned value = 0;
  if (query && query(frame::SystemSetting::WheelScrollLines, value)) wheelLines = value;
  if (query && query(frame::SystemSetting::KeyboardDelay, value))
    repeatDelay = static_cast<float>(value) * 0.25f + 0.25f;
  if (query && query(frame::SystemSetting::KeyboardSpeed, value)) {
    repeatInterval = 1.0f / (static_cast<float>(value) * 0.9166667f + 2.5f);
  }
}

// This platform offers no system-wide wheel or keyboard-repeat settings to a program (the
// desktop keeps them to itself), so the fallbacks of the failed queries stand.
GUISystem::GUISystem() : GUISystem(SettingQuery{}) {}

GUISystem::~GUISystem() { windows.clear(); }

}  // namespace gui
