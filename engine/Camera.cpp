#include "engine/Camera.h"

#include <algorithm>
#include <cmath>

#include "Common_Code/ErrorTrace.h"
#include "app/Console.h"
#include "engine/ClipSection.h"
#include "engine/EngineState.h"
#include "engine/Geometry.h"
#include "engine/Probe.h"
#include "engine/Scene.h"
#include "engine/Status.h"
#include "framework/FrameObject.h"
#include "framework/Input.h"

namespace engine {

using namespace gfx;

namespace {

constexpr float kDragStep = 0.0025f;
constexpr float kZoomStep = 1.1f;
constexpr float kZoomMin = 0.1f;
constexpr float kZoomMax = 100.0f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kThreeHalvesPi = 4.712389f;

// DirectInput codes of the time keys.
constexpr unsigned char kKeyHome = 0xC7;
constexpr unsigned char kKeyEnd = 0xCF;
constexpr unsigned char kKeyPageUp = 0xC9;
constexpr unsigned char kKeyPageDown = 0xD1;
constexpr unsigned char kKeyLeft = 0xCB;
constexpr unsigned char kKeyRight = 0xCD;

bool ConsoleVisible() { return g_console && g_console->IsVisible(); }

}  // namespace

D3DXMATRIX WorldMatrix() {
  D3DXMATRIX y, x, world;
  D3DXMatrixRotationY(&y, state.rotationY);
  D3DXMatrixRotationX(&x, state.rotationX);
  D3DXMatrixMultiply(&world, &y, &x);
  return world;
}

SceneMatrices ComputeSceneMatrices(unsigned width, unsigned height) {
  SceneMatrices m;
  m.world = WorldMatrix();
  const D3DXVECTOR3 eye{0, 0, -4}, at{0, 0, 0}, up{0, 1, 0};
  D3DXMatrixLookAtLH(&m.view, &eye, &at, &up);
  const float aspect = static_cast<float>(width) / static_cast<float>(height);
  // The zoom narrows the field of view or the view volume only: the camera stays where it
  // is, so the clip plane, the section and the depth range are untouched.
  const float zoom = state.zoom;
  if (state.orthographic) {
    D3DXMatrixOrthoLH(&m.projection, 4.0f / zoom, 4.0f / aspect / zoom, 0.5f, 50.0f);
  } else {
    const float fov = zoom == 1.0f ? 0.7853982f : 2.0f * std::atan(std::tan(0.3926991f) / zoom);
    D3DXMatrixPerspectiveFovLH(&m.projection, fov, aspect, 0.5f, 50.0f);
  }
  return m;
}

void OnMouseButton(frame::Point position, int button, int action) {
  if (ConsoleVisible() || !frame::IsActive() || !state.documentReady) return;
  // The middle button probes the point under the pointer and starts no drag.
  if (button == 1) {
    if (action == 0) ProbeAtPixel(position);
    return;
  }
  bool* drag = button == 0 ? &state.leftDrag : button == 2 ? &state.rightDrag : nullptr;
  if (!drag) return;
  if (action == 0) {
    *drag = true;
    input::SetCapture(true);
  } else if (action == 1) {
    input::SetCapture(false);
    *drag = false;
  }
}

void OnMouseMove(int dx, int dy) {
  if (ConsoleVisible() || !frame::IsActive() || !input::IsCaptured() || !state.documentReady) {
    return;
  }
  if (state.leftDrag) {
    state.rotationX = WrapAngle(state.rotationX - static_cast<float>(dy) * kDragStep);
    if (kHalfPi < state.rotationX && state.rotationX < kThreeHalvesPi) {
      state.rotationY = WrapAngle(state.rotationY + static_cast<float>(dx) * kDragStep);
    } else {
      state.rotationY = WrapAngle(state.rotationY - static_cast<float>(dx) * kDragStep);
    }
    // Rebuilt once before the next frame is drawn, however many moves arrive until then.
    state.sectionDirty = true;
    RefreshStatus();
  } else if (state.rightDrag) {
    MoveClipPlane(dx, dy);
  }
}

void OnChar(unsigned code) {
  if (!state.documentReady) return;
  switch (code) {
    case 13:
      state.playing = true;
      break;
    case 27:
      state.playing = false;
      break;
    case 'l':
      state.lightingOn = !state.lightingOn;
      break;
    case 'o':
      state.orthographic = !state.orthographic;
      break;
    case 'w':
      state.wireOverlayOn = !state.wireOverlayOn;
      break;
    default:
      break;
  }
}

void OnMouseWheel(frame::Point, float amount) {
  // amount is 0 when the system's setting scrolls no lines: then the wheel does nothing.
  const unsigned lines = input::WheelLines();
  if (ConsoleVisible() || !frame::IsActive() || !state.documentReady || amount == 0 || lines == 0) return;
  const float notches = amount / static_cast<float>(lines);
  state.zoom = std::clamp(state.zoom * std::pow(kZoomStep, notches), kZoomMin, kZoomMax);
}

void StepTime() { StepTimeBy(frame::GetElapsed()); }

void StepTimeBy(float e) {
  const qem::Document* document = CurrentDocument();
  if (!frame::IsActive() || ConsoleVisible() || !state.documentReady || !document) return;
  const float timeMin = document->timeMin;
  const float timeMax = document->timeMax;
  const float r = timeMax - timeMin;
  if (!(r > 0)) return;
  const float t0 = state.displayTime;
  float& t = state.displayTime;
  if (input::IsKeyDown(kKeyHome)) t = timeMin;
  if (input::IsKeyDown(kKeyEnd)) t = timeMax;
  if (input::IsKeyDown(kKeyPageUp)) t = std::max(timeMin, t - r * 0.25f * e);
  if (input::IsKeyDown(kKeyPageDown)) t = std::min(timeMax, t + r * 0.25f * e);
  if (input::IsKeyDown(kKeyLeft)) t = std::max(timeMin, t - r * 0.1f * e);
  if (input::IsKeyDown(kKeyRight)) t = std::min(timeMax, t + r * 0.1f * e);
  if (state.playing) {
    if (t == timeMax) {
      state.playing = false;
    } else {
      t = std::min(timeMax, t + r * 0.1f * e);
    }
  }
  if (t != t0) {
    // A failed lock ends the program; the first failure is the one reported.
    RecolourEdges();
    if (ErrorPending()) return;
    RecolourSection();
    if (ErrorPending()) return;
    RefreshStatus();
  }
}

}  // namespace engine
