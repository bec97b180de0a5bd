#pragma once
// The fixed camera and the navigation of the mesh in front of it: the world, view and
// projection matrices with the wheel's zoom, the left-button drag that turns the mesh, the right-button drag
// that moves the clip plane (ClipSection.h), the engine's typed keys and the movement of
// the display time with held keys and playback. Main thread only; everything reads and
// writes engine::state.

#include "framework/WindowSystem.h"
#include "gfx/Math.h"

namespace engine {

struct SceneMatrices {
  gfx::D3DXMATRIX world, view, projection;
};

// RotationY(rotationY) x RotationX(rotationX): the mesh turned about y, then about x.
gfx::D3DXMATRIX WorldMatrix();

// The three transforms for a back buffer of width x height pixels: the camera at
// (0, 0, -4) looking at the origin, perspective (pi/4 vertical) or orthographic (4 units
// wide), depth 0.5 to 50; state.zoom narrows the field of view (its tangent divided by the
// zoom) or the view volume (divided by the zoom).
SceneMatrices ComputeSceneMatrices(unsigned width, unsigned height);

// button 0 left, 1 middle, 2 right; action 0 pressed, 1 released, 2 double click. The
// middle button's press probes the pixel under the pointer (Probe.h).
void OnMouseButton(frame::Point position, int button, int action);
// The movement in pixels while the mouse is captured.
void OnMouseMove(int dx, int dy);
// A character typed while the console is hidden: Enter plays, Escape stops, "l", "o" and
// "w" switch lighting, the orthographic projection and the wire overlay.
void OnChar(unsigned code);
// The wheel zooms: each notch forward (amount in lines, input::WheelLines a notch) makes
// the view 1.1 times larger, each notch back 1.1 times smaller, between 0.1 and 100 times;
// ignored while the console is shown, the application inactive or no document ready.
void OnMouseWheel(frame::Point position, float amount);

// One update step of the display time with the frame's elapsed seconds (frame::GetElapsed
// in StepTime): Home, End, Page Up/Down, the arrows and playback.
void StepTime();
void StepTimeBy(float elapsed);

}  // namespace engine
