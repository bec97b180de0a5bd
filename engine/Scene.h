#pragma once
// The boundary of the loaded mesh as one vertex buffer (three SceneVertex entries per
// boundary triangle, corners turned so that every triangle faces out of its element), its
// re-colouring when the display time changes, and the per-frame draw of the boundary, its
// white wire overlay and the clip section. Main thread only; failures go to the global
// error trace. The device is the framework's (frame::GetDevice).

namespace engine {

// (Re)builds state.edgeBuffer from the document and colours it at state.displayTime.
// Failures: "Nie można utworzyć bufora wierzchołków do brzegów" (the buffer stays null) or
// "Nie można zablokować bufora wierzchołków do brzegów", then this function's location.
void GenerateEdgeBuffers();

// Rewrites only the colours of state.edgeBuffer for state.displayTime. A failed lock
// records "Nie można zablokować bufora wierzchołków 1" (no location) and keeps the old
// colours. Does nothing while there is no buffer.
void RecolourEdges();

// Transforms, material and light, states and the draw calls of one frame; nothing while
// state.edgeBuffer is null. Results of the device calls are ignored.
void DrawScene();

}  // namespace engine
