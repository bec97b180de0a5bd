#include "gfx/Gui.h"

namespace gui {

class Window {};

GUISystem g_guiSystem;

// This platform offers no system-wide wheel or keyboard-repeat settings to a program (the
// desktop keeps them to itself), so the fallbacks of the failed queries stand.
GUISystem::GUISystem() = default;

GUISystem::~GUISystem() { windows.clear(); }

}  // namespace gui
