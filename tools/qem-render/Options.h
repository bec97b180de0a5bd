#pragma once
// qem-render's command line: what to draw and where to write it. Parsing knows nothing of
// the mesh; what depends on it (a frame number past the last frame, a time outside the
// range) is checked once the mesh is loaded.

#include <optional>
#include <string>
#include <vector>

namespace render {

struct Options {
  std::string mesh;    // the .qem file, as given
  std::string output;  // the PNG file (or the name the numbered pictures are made from)
  int width = 1024;
  int height = 768;
  std::optional<float> time;  // --time T
  std::optional<int> frame;   // --frame N (0-based)
  int frames = 0;             // --frames N; 0: one picture named output
  bool rotate = false;        // --rotate RX RY given
  float rotateX = 0;          // degrees
  float rotateY = 0;
  std::optional<float> clip;  // --clip D
  bool noSection = false;
  bool orthographic = false;
  bool noLighting = false;
  bool noWire = false;
  bool noCulling = false;
  bool legend = false;
  bool text = false;
  bool json = false;
  std::string config;  // --config FILE; empty: the built-in settings
  bool help = false;
};

// Fills options from the arguments (without the program name); false with the reason in
// error for an unknown option, a missing or malformed value, or a combination that makes
// no sense. help alone needs no mesh or output.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The file of picture index of count: output itself for a single picture, else output
// with "-0000", "-0001" ... put before its ".png" (added when output has none).
std::string PictureName(const std::string& output, int index, int count);

}  // namespace render
