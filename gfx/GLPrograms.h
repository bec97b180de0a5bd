#pragma once
// The GL device's shader programs: one per combination of the states they are specialised
// on (GLShaders.h), built on first use and kept for the device's life. Internal to the GL
// backend.

#include <epoxy/gl.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "gfx/Device.h"

namespace gfx::gl {

struct Uniforms {
  GLint viewport, world, viewProjection, depthBias, toLight, lightDiffuse, lightAmbient;
  GLint globalAmbient, materialDiffuse, materialAmbient, materialEmissive, clipPlane;
  GLint textureFactor, texture, camera, firstVertex, neighbourPlanes;
  GLint window;
};

// One specialised program (see GLShaders.h) and its uniforms.
struct Program {
  GLuint id = 0;
  Uniforms u{};
};

// The states a program is specialised on, packed into one key.
struct ProgramKey {
  bool pretransformed, hasNormal, hasColour, hasTexture, lighting, lightOn, normalize;
  bool diffuseFromVertex, clipOn;
  DWORD wireCull;  // 0: no edge lists; else WIRE_CULL (GLShaders.h)
  DWORD wireFill;  // WIRE_FILL (GLShaders.h): 0, 1 triangles, 2 polygon outlines
  DWORD colourOp, colourArg1, colourArg2, alphaOp, alphaArg1, alphaArg2;

  std::uint64_t Packed() const {
    std::uint64_t k = 0;
    for (bool b :
         {pretransformed, hasNormal, hasColour, hasTexture, lighting, lightOn, normalize, diffuseFromVertex, clipOn}) {
      k = k << 1 | (b ? 1u : 0u);
    }
    k = k << 2 | (wireCull & 3);
    k = k << 2 | (wireFill & 3);
    for (DWORD v : {colourOp, colourArg1, colourArg2, alphaOp, alphaArg1, alphaArg2}) {
      k = k << 6 | (v & 0x3F);
    }
    return k;
  }

  std::string Defines() const {
    std::string d;
    auto define = [&d](const char* name, DWORD value) {
      d += "#define ";
      d += name;
      d += " " + std::to_string(value) + "\n";
    };
    define("PRETRANSFORMED", pretransformed);
    define("HAS_NORMAL", hasNormal);
    define("HAS_COLOUR", hasColour);
    define("HAS_TEXTURE", hasTexture);
    define("LIGHTING", lighting);
    define("LIGHT_ON", lightOn);
    define("NORMALIZE", normalize);
    define("DIFFUSE_FROM_VERTEX", diffuseFromVertex);
    define("CLIP_ON", clipOn);
    define("WIRE_CULL", wireCull);
    define("WIRE_FILL", wireFill);
    define("COLOUR_OP", colourOp & 0x3F);
    define("COLOUR_ARG1", colourArg1 & 0x3F);
    define("COLOUR_ARG2", colourArg2 & 0x3F);
    define("ALPHA_OP", alphaOp & 0x3F);
    define("ALPHA_ARG1", alphaArg1 & 0x3F);
    define("ALPHA_ARG2", alphaArg2 & 0x3F);
    return d;
  }
};

class ProgramCache {
 public:
  ~ProgramCache();
  // The program for key, built on first use; null if it does not build.
  const Program* For(const ProgramKey& key);

 private:
  std::unordered_map<std::uint64_t, Program> programs;
};

}  // namespace gfx::gl
