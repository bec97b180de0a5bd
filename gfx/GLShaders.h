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

out vec4 vColour;
out vec2 vTexCoord;

void main() {
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
in vec4 vColour;
in vec2 vTexCoord;
out vec4 fragColour;

uniform vec4 uTextureFactor;
uniform sampler2D uTexture;

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

}  // namespace gfx::gl_shaders
