#pragma once
// The one shader program of the GL device: it reproduces the fixed-function pipeline states
// this program sets (transforms, Direct3D's lighting formula for one directional light,
// the user clip plane, the depth bias, pre-transformed pixel vertices, texture stage 0 with
// its colour and alpha operations and the texture factor).

namespace gfx::gl_shaders {

// Attribute locations: 0 position (x, y, z[, rhw]), 1 normal, 2 colour (BGRA bytes),
// 3 texture coordinates.
inline constexpr const char* kVertex = R"(#version 330 core
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColour;
layout(location = 3) in vec2 aTexCoord;

uniform int uPretransformed;   // x, y in pixels of the viewport, y down; z in 0..1
uniform int uHasNormal;
uniform int uHasColour;
uniform vec4 uViewport;        // x, y, width, height in pixels
uniform mat4 uWorld;           // Direct3D matrices uploaded as they are: M * v = v * M(D3D)
uniform mat4 uViewProjection;
uniform float uDepthBias;      // in units of the 0..1 depth range

uniform int uLighting;
uniform int uLightOn;
uniform int uNormalize;
uniform vec3 uToLight;         // unit vector from the surface towards the light
uniform vec4 uLightDiffuse;
uniform vec4 uLightAmbient;
uniform vec4 uGlobalAmbient;
uniform vec4 uMaterialDiffuse;
uniform vec4 uMaterialAmbient;
uniform vec4 uMaterialEmissive;
uniform int uDiffuseFromVertex;

uniform int uClipOn;
uniform vec4 uClipPlane;       // world space; keep the side where the value is >= 0

out vec4 vColour;
out vec2 vTexCoord;

void main() {
  vec4 colour = uHasColour != 0 ? aColour : vec4(1.0);
  vTexCoord = aTexCoord;
  if (uPretransformed != 0) {
    vec2 ndc = vec2((aPosition.x - uViewport.x) / uViewport.z * 2.0 - 1.0,
                    1.0 - (aPosition.y - uViewport.y) / uViewport.w * 2.0);
    gl_Position = vec4(ndc, (aPosition.z + uDepthBias) * 2.0 - 1.0, 1.0);
    gl_ClipDistance[0] = 1.0;
    vColour = colour;
    return;
  }
  vec4 world = uWorld * vec4(aPosition.xyz, 1.0);
  vec4 clip = uViewProjection * world;
  // Direct3D's depth is z / w in 0..1; GL's is -1..1. The bias moves z in 0..1 units.
  clip.z = 2.0 * (clip.z + uDepthBias * clip.w) - clip.w;
  gl_Position = clip;
  // Mesa clips on a written distance even with GL_CLIP_DISTANCE0 disabled: an unused plane
  // keeps everything.
  gl_ClipDistance[0] = uClipOn != 0 ? dot(uClipPlane, world) : 1.0;

  if (uLighting != 0) {
    vec4 diffuse = uDiffuseFromVertex != 0 ? colour : uMaterialDiffuse;
    vec3 c = uMaterialEmissive.rgb + uMaterialAmbient.rgb * uGlobalAmbient.rgb;
    if (uLightOn != 0) {
      vec3 n = mat3(uWorld) * (uHasNormal != 0 ? aNormal : vec3(0.0));
      if (uNormalize != 0 && dot(n, n) > 0.0) n = normalize(n);
      c += uMaterialAmbient.rgb * uLightAmbient.rgb +
           diffuse.rgb * uLightDiffuse.rgb * max(dot(n, uToLight), 0.0);
    }
    vColour = vec4(clamp(c, 0.0, 1.0), diffuse.a);
  } else {
    vColour = colour;
  }
}
)";

inline constexpr const char* kFragment = R"(#version 330 core
in vec4 vColour;
in vec2 vTexCoord;
out vec4 fragColour;

uniform int uColourOp;
uniform int uColourArg1;
uniform int uColourArg2;
uniform int uAlphaOp;
uniform int uAlphaArg1;
uniform int uAlphaArg2;
uniform vec4 uTextureFactor;
uniform int uHasTexture;
uniform sampler2D uTexture;

vec4 Argument(int arg, vec4 texel) {
  int source = arg & 15;
  vec4 v = vColour;                    // D3DTA_DIFFUSE, and D3DTA_CURRENT at stage 0
  if (source == 2) v = texel;          // D3DTA_TEXTURE
  else if (source == 3) v = uTextureFactor;
  if ((arg & 16) != 0) v = vec4(1.0) - v;   // D3DTA_COMPLEMENT
  if ((arg & 32) != 0) v = vec4(v.a);       // D3DTA_ALPHAREPLICATE
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
  // With no texture set, a texture argument reads opaque white.
  vec4 texel = uHasTexture != 0 ? texture(uTexture, vTexCoord) : vec4(1.0);
  if (uColourOp == 1) {
    fragColour = vColour;
    return;
  }
  vec3 rgb = Operation(uColourOp, Argument(uColourArg1, texel), Argument(uColourArg2, texel)).rgb;
  float a = Operation(uAlphaOp, Argument(uAlphaArg1, texel), Argument(uAlphaArg2, texel)).a;
  fragColour = vec4(rgb, a);
}
)";

}  // namespace gfx::gl_shaders
