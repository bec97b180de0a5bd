#include "engine/Engine.h"

#include "Common_Code/ErrorTrace.h"
#include "app/Profiler.h"
#include "config/Config.h"
#include "engine/Camera.h"
#include "engine/ClipSection.h"
#include "engine/EngineState.h"
#include "engine/Legend.h"
#include "engine/Scene.h"
#include "engine/Status.h"
#include "qem/Loader.h"

namespace engine {

void SetDocumentPath(const std::string& path) { state.documentPath = path; }

void Engine::OnCreate() {
  state.documentReady = false;
  // Optional switches: a configuration without them keeps the overlay on and the legend off.
  if (g_config) {
    g_config->TryGetBool("Engine/WireOverlay", state.wireOverlayOn);
    g_config->TryGetBool("Engine/Legend", state.legendShown);
  }
  qem::StartLoading(state.documentPath);
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Engine::OnDestroy() {
  qem::CancelLoading();
  // What the engine keeps about the document goes with it.
  state.sectionIndex = SectionIndex{};
  state.vertexColours = VertexColours{};
  state.probeWeights.clear();
  if (qem::GetCurrentDocument()) qem::DestroyCurrentDocument();
}

void Engine::OnDeviceCreate() {
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Engine::OnDeviceDestroy() {
  state.clipWireBuffer.reset();
  state.clipIndexBuffer.reset();
  state.clipVertexBuffer.reset();
  state.edgeBuffer.reset();
  state.clipVertexCapacity = 0;
  state.clipIndexCapacity = 0;
  state.clipWireCapacity = 0;
  state.clipIndexFormat = gfx::D3DFMT_INDEX16;
}

void Engine::OnDeviceRestore() {
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Engine::OnDeviceLost() {}

namespace {

// One update step at frame time now, elapsed seconds after the last.
void Update(float now, float elapsed) {
  Profiler::Begin("Engine");
  if (!state.documentReady && now > state.statusClock + 0.2f) {
    RefreshStatus();
    // One refresh per step: after a long pause the clock catches up step by step.
    state.statusClock += 0.2f;
  }
  const qem::Document* document = CurrentDocument();
  if (!ErrorPending() && state.documentReady && document && !state.edgeBuffer) {
    state.displayTime = document->timeMin;
    UpdateClipPlane();
    GenerateEdgeBuffers();
    if (!ErrorPending()) GenerateClipBuffers();
  }
  if (!ErrorPending()) StepTimeBy(elapsed);
  Profiler::End();
}

}  // namespace

void Engine::OnUpdate() {
  Update(frame::GetTime(), frame::GetElapsed());
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

// A caller with its own clock (tests, qem-render) reports a failure itself: no location line
// of the update step here.
void Engine::UpdateAt(float now, float elapsed) { Update(now, elapsed); }

void Engine::OnDraw() {
  Profiler::Begin("Engine");
  // The drags since the last frame only marked the section: it is rebuilt once, here.
  RebuildDirtySection();
  if (!ErrorPending()) {
    DrawScene();
    DrawStatus();
    DrawLegend();
  }
  Profiler::End();
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

std::uint32_t Engine::BackgroundColour() {
  std::uint32_t colour = 0xFF000000u;
  if (g_config) g_config->TryGetDword("Engine/BkgColor", colour);
  return colour;
}

void Engine::OnMouseButton(frame::Point position, int button, int action) {
  engine::OnMouseButton(position, button, action);
}
void Engine::OnMouseMove(int dx, int dy) { engine::OnMouseMove(dx, dy); }
void Engine::OnMouseWheel(frame::Point position, float amount) { engine::OnMouseWheel(position, amount); }
void Engine::OnChar(unsigned code) { engine::OnChar(code); }

std::uint32_t CountAtLevel(const qem::OctreeNode* node, std::int32_t level) {
  if (!node) return 0;
  if (node->level == level) return static_cast<std::uint32_t>(node->elements.size());
  if (level < node->level || !node->children[0]) return 0;
  std::uint32_t sum = 0;
  for (const auto& child : node->children) sum += CountAtLevel(child.get(), level);
  return sum;
}

}  // namespace engine
