#pragma once
// The program's platform: the SDL window system with the OpenGL device on its window.
// Install it with frame::SetPlatform(frame::SdlPlatform()) before frame::Run.

#include "framework/Framework.h"

namespace frame {

// The one SDL window system of the process and the factory that creates the OpenGL
// device on its surface (D3DERR_NOTAVAILABLE when no OpenGL 3.3 context can be made).
Platform SdlPlatform();

}  // namespace frame
