#pragma once
// The resource manager: the device resources shared by several users rather than owned by
// one drawing object, kept in step with the device through the frame-object hooks: the
// program's one text font (fixed width, with its character cell, which the console and the
// status display lay text out on) and a unit sphere mesh. One static instance,
// g_resMngr, registered by the program entry; users read font.font, font.charWidth and
// font.charHeight after device creation. Main thread only.

#include <cstdint>
#include <memory>

#include "framework/FrameObject.h"
#include "gfx/Font.h"
#include "gfx/Mesh.h"

class ResMngr : public frame::FrameObject {
 public:
  struct Font {
    std::unique_ptr<gfx::Font> font;  // null while there is no device
    std::int32_t charWidth = 0;       // the cell of "M"; kept after the device goes
    std::int32_t charHeight = 0;

    // Reads "Gfx/Font/Name", "Gfx/Font/Height" and "Gfx/Font/Bold", creates the font on the
    // framework's device and measures the cell; a proportional face is an error.
    void OnDeviceCreate();
    // The device was reset: the font makes its device objects again.
    void OnDeviceRestore();
  };

  Font font;
  gfx::MeshPtr sphere;  // null while there is no device

  ~ResMngr() = default;

  void OnCreate() override;
  void OnDestroy() override;
  void OnDeviceCreate() override;
  void OnDeviceDestroy() override;
  void OnDeviceRestore() override;
  void OnDeviceLost() override;
};

extern ResMngr g_resMngr;
