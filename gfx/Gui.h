#pragma once
// The GUI system object: a window container that owns no windows in this program, with
// the input settings a GUI would use. Static instance g_guiSystem. Main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "framework/WindowSystem.h"

namespace gui {

class Window;

// A growable list of windows (empty here); owns them.
class WindowContainer {
 public:
  std::vector<std::unique_ptr<Window>> windows;
};

class GUISystem : public WindowContainer {
 public:
  // Answers a system setting: true with its value, false when the system has none.
  using SettingQuery = std::function<bool(frame::SystemSetting which, unsigned& value)>;

  // Reads the wheel, key-repeat delay and key-repeat speed settings of the system; where the
  // query has no answer, the documented fallbacks stand (3 lines, 0.5 s, 0.2 s). The delay
  // setting counts quarter seconds above 0.25 s, the speed setting 0..31 steps from 2.5 to
  // about 30 repeats a second.
  explicit GUISystem(const SettingQuery& query);
  // This platform's: no setting has an answer (see Gui.cpp).
  GUISystem();
  ~GUISystem();

  unsigned wheelLines = 3;
  float repeatDelay = 0.5f;     // seconds
  float repeatInterval = 0.2f;  // seconds
  float repeatTime = 0.0f;
  int repeatKey = 0;
  int clickCount = 0;
};

extern GUISystem g_guiSystem;

}  // namespace gui
