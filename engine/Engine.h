#pragma once
// engine::Engine: the frame object through which the framework and the application drive
// the visualisation. It starts the load of the mesh file when the program starts, builds
// the engine's device buffers on the first update after the loader has finished (and
// again after the device was re-created), releases them when the device goes, advances the
// display time on every update, draws the scene and the status on every frame, supplies
// the clear colour and answers the engine's console commands.
//
// The object has no fields: the engine's state is engine::state (EngineState.h), one per
// process. The program entry creates one instance, stores the mesh path with
// SetDocumentPath before frame::Run, and registers it after the resource manager and
// before the application object. Everything runs on the main thread.

#include <cstdint>
#include <string>

#include "config/Tvl.h"
#include "framework/FrameObject.h"
#include "framework/WindowSystem.h"
#include "qem/Document.h"

namespace engine {

// The mesh file the engine's OnCreate loads.
void SetDocumentPath(const std::string& path);

class Engine final : public frame::FrameObject {
 public:
  // Reads the optional "Engine/WireOverlay" and "Engine/Legend" switches and starts the
  // loader on the document path.
  void OnCreate() override;
  // Cancels a running load (waits for its thread) and frees the document.
  void OnDestroy() override;
  void OnDeviceCreate() override;
  // Releases the section buffers and the boundary buffer; the next update rebuilds them.
  void OnDeviceDestroy() override;
  void OnDeviceRestore() override;
  void OnDeviceLost() override;

  // Once per update step (inside the application's "Update" section): the status refresh
  // while loading, the first build, the display time.
  void OnUpdate();
  // Once per frame, after the clear and inside the scene: the section rebuilt when a drag
  // marked it, then the mesh, the section, the status texts, the legend.
  void OnDraw();
  // The clear colour: "Engine/BkgColor", opaque black when missing or malformed; read on
  // every call.
  std::uint32_t BackgroundColour();

  // The window procedure's mouse and typed-key messages (Camera.h).
  void OnMouseButton(frame::Point position, int button, int action);
  void OnMouseMove(int dx, int dy);
  void OnMouseWheel(frame::Point position, float amount);
  void OnChar(unsigned code);

  // One console command the interpreter did not know: name is the lower-cased word, reader
  // stands after it. True when it is one of the engine's commands. Replies go to g_console;
  // wrong argument counts Fail on the reader (tvl::Error).
  bool HandleCommand(const std::string& name, tvl::Reader& reader);

  // OnUpdate's step with the time given, for callers with their own clock (tests,
  // qem-render); it adds no location line of its own (the viewer's report names OnUpdate).
  void UpdateAt(float now, float elapsed);
};

// The octree's element count at level (0 = root), for the "tree" command.
std::uint32_t CountAtLevel(const qem::OctreeNode* root, std::int32_t level);

}  // namespace engine
