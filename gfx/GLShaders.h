#pragma once
// The shader programs of the GL device: they reproduce the fixed-function pipeline states
// this program sets (transforms, Direct3D's lighting formula for one directional light,
// the user clip plane, the depth bias, pre-transformed pixel vertices, texture stage 0 with
// its colour and alpha operations and the texture factor).
//
// One source, specialised per combination of states by the macros below (prepended after
// the version line), so a software renderer runs no branches it does not need: a program
// per state combination is far faster on Mesa's llvmpipe than one program testing uniforms.
//   PRETRANSFORMED, HAS_NORMAL, HAS_COLOUR, HAS_TEXTURE, LIGHTING, LIGHT_ON, NORMALIZE,
//   DIFFUSE_FROM_VERTEX, CLIP_ON: 0 or 1
//   COLOUR_OP, COLOUR_ARG1, COLOUR_ARG2, ALPHA_OP, ALPHA_ARG1, ALPHA_ARG2: D3DTOP_* / D3DTA_*
//   WIRE_CULL: for the wireframe's edge lists (kGeometry): 1 draws every edge, 2 / 3 only
//   the edges of triangles that D3DCULL_CW / D3DCULL_CCW keeps
//   WIRE_FILL: 0; 1, the wireframe of a triangle list drawn as its filled triangles,
//   keeping only the pixels on their edges (with WIRE_CULL 0); 2, the outlines of convex
//   polygons drawn as their fans' filled triangles, keeping only the pixels on the
//   polygons' edges (Device::DrawIndexedOutline)

namespace gfx::gl_shaders {

inline constexpr const char* kVersion = "#version 330 core\n";

// Attribute locations: 0 position (x, y, z[, rhw]), 1 normal, 2 colour (BGRA bytes),
// 3 texture coordinates.
inline constexpr const char* kVertex = R"(
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColour;
layout(location = 3) in vec2 aTexCoord;

uniform vec4 uViewport;        // x, y, width, height in pixels
uniform mat4 uWorld;           // Direct3D matrices uploaded as they are: M * v = v * M(D3D)
uniform mat4 uViewProjection;
uniform float uDepthBias;      // in units of the 0..1 depth range
uniform vec3 uToLight;         // unit vector from the surface towards the light
uniform vec4 uLightDiffuse;
uniform vec4 uLightAmbient;
uniform vec4 uGlobalAmbient;
uniform vec4 uMaterialDiffuse;
uniform vec4 uMaterialAmbient;
uniform vec4 uMaterialEmissive;
uniform vec4 uClipPlane;       // world space; keep the side where the value is >= 0
uniform vec4 uCamera;          // the camera's centre, Cross4 of the x, y and w rows of the transform
uniform int uFirstVertex;      // of the wireframe's triangles
uniform samplerBuffer uNeighbourPlanes;
#if WIRE_FILL == 2
// The polygon whose first corner this vertex is: its corners' positions (this vertex's and
// the next five's) and codes (Device::DrawIndexedOutline's in bits 0-2; in bits 3-15 the
// polygon's number of corners at its first corner, 0 at the others).
layout(location = 4) in vec3 aCorner1;
layout(location = 5) in vec3 aCorner2;
layout(location = 6) in vec3 aCorner3;
layout(location = 7) in vec3 aCorner4;
layout(location = 8) in vec3 aCorner5;
layout(location = 9) in uvec4 aCodes0;
layout(location = 10) in uvec2 aCodes4;
uniform vec4 uWindow;  // the viewport in GL window coordinates: x, y, width, height
#endif

#if CLIP_ON
out float gl_ClipDistance[1];
#endif
out Varyings {
  vec4 colour;
  vec2 texCoord;
} vOut;
#define vColour vOut.colour
#define vTexCoord vOut.texCoord
#if WIRE_FILL == 2
// The polygon's outline edges, from its first corner (the provoking vertex of each of its
// fan's triangles), in window coordinates: a pixel is kept when a x + b y + c < w at its
// centre, (a, b, c) the edge's line scaled to the distance along the axis a one-pixel line
// is rasterised by, positive inside, w the width this polygon draws of it (0: none).
flat out vec4 vLines[6];

vec2 Window(vec3 p) {
  vec4 c = uViewProjection * (uWorld * vec4(p, 1.0));
  return uWindow.xy + (c.xy / c.w * 0.5 + 0.5) * uWindow.zw;
}

// The edge from corner a to corner b, o another corner (inside), drawn width wide. An edge
// on the boundary of two pixels, half a pixel from both centres, goes to the pixel of
// greater window x (or y).
vec4 Line(vec2 a, vec2 b, vec2 o, float width) {
  vec2 n = vec2(b.y - a.y, a.x - b.x);
  float c = -dot(n, a);
  if (dot(n, o) + c < 0.0) {
    n = -n;
    c = -c;
  }
  float major = max(abs(n.x), abs(n.y));
  if (major == 0.0 || width == 0.0) return vec4(0.0);
  float towardsEdge = abs(n.x) >= abs(n.y) ? n.x : n.y;  // > 0: the edge is at smaller x (or y)
  return vec4(n / major, c / major, width + (towardsEdge > 0.0 ? 0.001 : 0.0));
}

// The width this polygon draws of the edge from a corner to the next.
float Width(uint code) {
  return (code & 4u) != 0u ? 1.0 : (code & 2u) != 0u ? 0.5 : 0.0;
}
#elif WIRE_FILL
out vec3 vEdge;        // 0 on the edge opposite each corner, 1 at the corner
flat out vec3 vWidth;  // pixels this triangle draws on its side of each edge

// The pixels this triangle draws on its side of the edge with the neighbour whose plane is
// 4 triangle + 1 + edge: half a line where the neighbour is drawn too and lies on the
// other side on screen (it faces the same way: it draws the other half), else the whole
// line, as Direct3D leaves out the edges of culled triangles only and not the edges they
// share with drawn ones. A missing neighbour has the zero plane. Facing: the sign of the
// plane and the camera's centre multiplied, > 0 counter-clockwise on screen.
float Width(float facing, int triangle, int edge) {
  float across = dot(texelFetch(uNeighbourPlanes, 4 * triangle + 1 + edge), uCamera);
  return across * facing > 0.0 ? 0.5 : 1.0;
}
#endif

void main() {
#if WIRE_FILL == 2
  for (int i = 0; i < 6; ++i) vLines[i] = vec4(0.0);
  int m = min(int(aCodes0.x >> 3u), 6);  // edges past the sixth corner are not drawn
  if (m >= 3) {
    vec2 corner[6] = vec2[6](Window(aPosition.xyz), Window(aCorner1), Window(aCorner2), vec2(0.0), vec2(0.0),
                             vec2(0.0));
    if (m > 3) corner[3] = Window(aCorner3);
    if (m > 4) corner[4] = Window(aCorner4);
    if (m > 5) corner[5] = Window(aCorner5);
    uint codes[6] = uint[6](aCodes0.x, aCodes0.y, aCodes0.z, aCodes0.w, aCodes4.x, aCodes4.y);
    for (int j = 0; j < m; ++j) {
      vLines[j] = Line(corner[j], corner[(j + 1) % m], corner[(j + 2) % m], Width(codes[j]));
    }
  }
#elif WIRE_FILL
  int corner = gl_VertexID - uFirstVertex;
  int triangle = corner / 3;
  vEdge = vec3(0.0);
  vEdge[corner - 3 * triangle] = 1.0;
  float facing = dot(texelFetch(uNeighbourPlanes, 4 * triangle), uCamera);
  // Edges b-c, c-a and a-b are opposite corners a, b and c.
  vWidth = vec3(Width(facing, triangle, 1), Width(facing, triangle, 2), Width(facing, triangle, 0));
#endif
#if HAS_COLOUR
  vec4 colour = aColour;
#else
  vec4 colour = vec4(1.0);
#endif
#if HAS_TEXTURE
  vTexCoord = aTexCoord;
#else
  vTexCoord = vec2(0.0);
#endif
#if PRETRANSFORMED
  // x, y in pixels of the viewport, y down; z in 0..1.
  vec2 ndc = vec2((aPosition.x - uViewport.x) / uViewport.z * 2.0 - 1.0,
                  1.0 - (aPosition.y - uViewport.y) / uViewport.w * 2.0);
  gl_Position = vec4(ndc, (aPosition.z + uDepthBias) * 2.0 - 1.0, 1.0);
  vColour = colour;
#else
  vec4 world = uWorld * vec4(aPosition.xyz, 1.0);
  vec4 clip = uViewProjection * world;
  // Direct3D's depth is z / w in 0..1; GL's is -1..1. The bias moves z in 0..1 units.
  clip.z = 2.0 * (clip.z + uDepthBias * clip.w) - clip.w;
  gl_Position = clip;
#if CLIP_ON
  gl_ClipDistance[0] = dot(uClipPlane, world);
#endif
#if LIGHTING
#if DIFFUSE_FROM_VERTEX
  vec4 diffuse = colour;
#else
  vec4 diffuse = uMaterialDiffuse;
#endif
  vec3 c = uMaterialEmissive.rgb + uMaterialAmbient.rgb * uGlobalAmbient.rgb;
#if LIGHT_ON
#if HAS_NORMAL
  vec3 n = mat3(uWorld) * aNormal;
#else
  vec3 n = vec3(0.0);
#endif
#if NORMALIZE
  if (dot(n, n) > 0.0) n = normalize(n);
#endif
  c += uMaterialAmbient.rgb * uLightAmbient.rgb +
       diffuse.rgb * uLightDiffuse.rgb * max(dot(n, uToLight), 0.0);
#endif
  vColour = vec4(clamp(c, 0.0, 1.0), diffuse.a);
#else
  vColour = colour;
#endif
#endif
}
)";

inline constexpr const char* kFragment = R"(
in Varyings {
  vec4 colour;
  vec2 texCoord;
} fIn;
#define vColour fIn.colour
#define vTexCoord fIn.texCoord
out vec4 fragColour;

uniform vec4 uTextureFactor;
uniform sampler2D uTexture;

#if WIRE_FILL == 2
flat in vec4 vLines[6];
#elif WIRE_FILL
in vec3 vEdge;
flat in vec3 vWidth;
#endif

vec4 Source(int source, vec4 texel) {
  if (source == 2) return texel;           // D3DTA_TEXTURE
  if (source == 3) return uTextureFactor;  // D3DTA_TFACTOR
  return vColour;                          // D3DTA_DIFFUSE, and D3DTA_CURRENT at stage 0
}

vec4 Argument(int arg, vec4 texel) {
  vec4 v = Source(arg - (arg / 16) * 16, texel);
  if ((arg / 16) % 2 == 1) v = vec4(1.0) - v;  // D3DTA_COMPLEMENT
  if ((arg / 32) % 2 == 1) v = vec4(v.a);      // D3DTA_ALPHAREPLICATE
  return v;
}

vec4 Operation(int op, vec4 a1, vec4 a2) {
  if (op == 2) return a1;                        // SELECTARG1
  if (op == 3) return a2;                        // SELECTARG2
  if (op == 4) return a1 * a2;                   // MODULATE
  if (op == 5) return clamp(2.0 * a1 * a2, 0.0, 1.0);
  if (op == 6) return clamp(4.0 * a1 * a2, 0.0, 1.0);
  if (op == 7) return clamp(a1 + a2, 0.0, 1.0);  // ADD
  return vColour;                                // DISABLE
}

void main() {
#if WIRE_FILL == 2
  bool kept = false;
  for (int i = 0; i < 6; ++i) kept = kept || dot(vLines[i].xy, gl_FragCoord.xy) + vLines[i].z < vLines[i].w;
  if (!kept) discard;
#elif WIRE_FILL
  // Distance to each edge along the pixel axis it crosses most steeply, the measure a
  // one-pixel line is rasterised by: the pixel is the line's when its centre is nearer
  // than the width this triangle draws of it. An edge on the boundary of two pixels, half a
  // pixel from both centres, goes to the pixel of greater window x (or y).
  vec3 dx = dFdx(vEdge), dy = dFdy(vEdge);
  bvec3 xMajor = greaterThanEqual(abs(dx), abs(dy));
  vec3 distance = vEdge / max(abs(dx), abs(dy));
  vec3 towardsEdge = mix(dy, dx, vec3(xMajor));  // > 0: the edge is at smaller x (or y)
  vec3 width = vWidth + mix(vec3(0.0), vec3(0.001), greaterThan(towardsEdge, vec3(0.0)));
  if (all(greaterThanEqual(distance, width))) discard;
#endif
#if HAS_TEXTURE
  vec4 texel = texture(uTexture, vTexCoord);
#else
  vec4 texel = vec4(1.0);  // with no texture set, a texture argument reads opaque white
#endif
#if COLOUR_OP == 1
  fragColour = vColour;
#else
  vec3 rgb = Operation(COLOUR_OP, Argument(COLOUR_ARG1, texel), Argument(COLOUR_ARG2, texel)).rgb;
  float a = Operation(ALPHA_OP, Argument(ALPHA_ARG1, texel), Argument(ALPHA_ARG2, texel)).a;
  fragColour = vec4(rgb, a);
#endif
}
)";

// Wireframe edges with the triangles on either side (GL_LINES_ADJACENCY: p, a, b, q, see
// WireEdges.h): the line a-b is drawn when a triangle it belongs to, (a, b, p) or (b, a, q),
// survives culling by its winding on screen. A triangle of no area is no triangle; one
// reaching behind the camera counts as kept (the line is clipped like any other).
inline constexpr const char* kGeometry = R"(
layout(lines_adjacency) in;
layout(line_strip, max_vertices = 2) out;

in Varyings {
  vec4 colour;
  vec2 texCoord;
} gIn[];
out Varyings {
  vec4 colour;
  vec2 texCoord;
} gOut;

// 1: kept by the cull mode; 0: culled; -1: no triangle.
int Kept(vec4 p0, vec4 p1, vec4 p2) {
  if (p0.w <= 0.0 || p1.w <= 0.0 || p2.w <= 0.0) return 1;
  vec2 a = p0.xy / p0.w, b = p1.xy / p1.w, c = p2.xy / p2.w;
  float area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);  // > 0: counter-clockwise
  if (area == 0.0) return -1;
#if WIRE_CULL == 3
  return area > 0.0 ? 0 : 1;
#elif WIRE_CULL == 2
  return area < 0.0 ? 0 : 1;
#else
  return 1;
#endif
}

void Emit(int i) {
  gl_Position = gl_in[i].gl_Position;
#if CLIP_ON
  gl_ClipDistance[0] = gl_in[i].gl_ClipDistance[0];
#endif
  gOut.colour = gIn[i].colour;
  gOut.texCoord = gIn[i].texCoord;
  EmitVertex();
}

void main() {
  vec4 p = gl_in[0].gl_Position, a = gl_in[1].gl_Position, b = gl_in[2].gl_Position;
  vec4 q = gl_in[3].gl_Position;
  if (Kept(a, b, p) == 1 || Kept(b, a, q) == 1) {
    Emit(1);
    Emit(2);
    EndPrimitive();
  }
}
)";

}  // namespace gfx::gl_shaders
