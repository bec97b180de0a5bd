#pragma once
// A small SDL window with a GL 3.3 core context, as the window system makes it for the
// program, for the gl-tier tests and the benchmark (which may use SDL directly).
// ReadPixel reads the back buffer before Present, in the device's coordinates (y down).

#include <SDL.h>
#include <epoxy/gl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "gfx/Device.h"

namespace gfx_test {

class GLTestSurface final : public gfx::Surface {
 public:
  ~GLTestSurface() override {
    if (context) SDL_GL_DeleteContext(context);
    if (window) SDL_DestroyWindow(window);
  }

  // False (with error set) when there is no display or no GL 3.3 core context.
  bool Create(int width, int height, bool depth = true) {
    // One video connection for the whole test program: opening and closing the display for
    // every test makes later openings fail now and then under load.
    static const bool video = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (!video) return Fail();
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::string(driver) == "offscreen" || std::string(driver) == "dummy") {
      error = "no display (SDL video driver " + std::string(driver ? driver : "none") + ")";
      return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth ? 24 : 0);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    window = SDL_CreateWindow("gfx test", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window) return Fail();
    context = SDL_GL_CreateContext(window);
    if (!context) return Fail();
    return true;
  }

  bool MakeCurrent() override { return SDL_GL_MakeCurrent(window, context) == 0; }
  void SwapBuffers() override { SDL_GL_SwapWindow(window); }
  void GetDrawableSize(int& width, int& height) override { SDL_GL_GetDrawableSize(window, &width, &height); }
  bool DisableVsync() override { return SDL_GL_SetSwapInterval(0) == 0; }

  // The back buffer's pixel at (x, y), y counted from the top, as A8R8G8B8.
  std::uint32_t ReadPixel(int x, int y) {
    int w = 0, h = 0;
    GetDrawableSize(w, h);
    std::uint8_t bgra[4] = {};
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, h - 1 - y, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, bgra);
    return static_cast<std::uint32_t>(bgra[0]) | static_cast<std::uint32_t>(bgra[1]) << 8 |
           static_cast<std::uint32_t>(bgra[2]) << 16 | 0xFF000000u;
  }

  std::string error;

 private:
  bool Fail() {
    error = SDL_GetError();
    return false;
  }

  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
};

inline int Red(std::uint32_t c) { return (c >> 16) & 0xFF; }
inline int Green(std::uint32_t c) { return (c >> 8) & 0xFF; }
inline int Blue(std::uint32_t c) { return c & 0xFF; }

}  // namespace gfx_test
