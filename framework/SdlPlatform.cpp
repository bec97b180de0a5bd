#include "framework/SdlPlatform.h"

#include "framework/SdlWindowSystem.h"

namespace frame {

Platform SdlPlatform() {
  static SdlWindowSystem windowSystem;
  Platform platform;
  platform.windowSystem = &windowSystem;
  // OpenGL has no choice of vertex processing: every behaviour asks for the same device.
  platform.createDevice = [](WindowSystem& window, const gfx::D3DPRESENT_PARAMETERS& parameters, gfx::DWORD,
                             std::unique_ptr<gfx::Device>& device) -> HRESULT {
    gfx::Surface* surface = window.GetSurface();
    if (!surface) return D3DERR_NOTAVAILABLE;
    return gfx::CreateGLDevice(*surface, parameters, device);
  };
  return platform;
}

}  // namespace frame
