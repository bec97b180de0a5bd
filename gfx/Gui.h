#pragma once
// The GUI system object: a window container that owns no windows in this program, with
// the input settings a GUI would use. Static instance g_guiSystem. Main thread only.

#include <memory>
#include <vector>

namespace gui {

class Window;

// A growable list of windows (empty here); owns them.
class WindowContainer {
 public:
  std::vector<std::unique_ptr<Window>> windows;
};

class GUISystem : public WindowContainer {
 public:
  // Reads the wheel, key-repeat delay and key-repeat speed settings of the system; where the
  // platform has none to offer, the documented fallbacks stand (3 lines, 0.5 s, 0.2 s).
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
