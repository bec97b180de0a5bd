#include "gfx/GLPrograms.h"

#include "gfx/GLShaders.h"

namespace gfx::gl {

namespace {

GLuint Compile(GLenum kind, const std::string& defines, const char* body) {
  const GLuint shader = glCreateShader(kind);
  const char* parts[3] = {gl_shaders::kVersion, defines.c_str(), body};
  glShaderSource(shader, 3, parts, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

}  // namespace

ProgramCache::~ProgramCache() {
  for (auto& entry : programs) glDeleteProgram(entry.second.id);
}

const Program* ProgramCache::For(const ProgramKey& key) {
  const std::uint64_t packed = key.Packed();
  const auto found = programs.find(packed);
  if (found != programs.end()) return &found->second;
  const std::string defines = key.Defines();
  const GLuint vs = Compile(GL_VERTEX_SHADER, defines, gl_shaders::kVertex);
  const GLuint fs = Compile(GL_FRAGMENT_SHADER, defines, gl_shaders::kFragment);
  const bool lines = key.wireCull && !key.wireFill;
  const GLuint gs = lines ? Compile(GL_GEOMETRY_SHADER, defines, gl_shaders::kGeometry) : 0;
  if (!vs || !fs || (lines && !gs)) {
    glDeleteShader(vs);
    glDeleteShader(fs);
    glDeleteShader(gs);
    return nullptr;
  }
  Program program;
  program.id = glCreateProgram();
  glAttachShader(program.id, vs);
  glAttachShader(program.id, fs);
  if (gs) glAttachShader(program.id, gs);
  glLinkProgram(program.id);
  glDeleteShader(vs);
  glDeleteShader(fs);
  glDeleteShader(gs);
  GLint ok = 0;
  glGetProgramiv(program.id, GL_LINK_STATUS, &ok);
  if (!ok) {
    glDeleteProgram(program.id);
    return nullptr;
  }
  auto at = [&program](const char* name) { return glGetUniformLocation(program.id, name); };
  program.u = Uniforms{at("uViewport"),        at("uWorld"),           at("uViewProjection"),   at("uDepthBias"),
                       at("uToLight"),         at("uLightDiffuse"),    at("uLightAmbient"),     at("uGlobalAmbient"),
                       at("uMaterialDiffuse"), at("uMaterialAmbient"), at("uMaterialEmissive"), at("uClipPlane"),
                       at("uTextureFactor"),   at("uTexture"),         at("uCamera"),           at("uFirstVertex"),
                       at("uNeighbourPlanes"), at("uWindow")};
  return &programs.emplace(packed, program).first->second;
}

}  // namespace gfx::gl
