#include "tools/qem-render/Options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace render {

namespace {

bool ParseFloat(const std::string& text, float& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(value) || std::fabs(value) > 3.0e38) return false;
  out = static_cast<float>(value);
  return true;
}

bool ParseCount(const std::string& text, long lo, long hi, int& out) {
  if (text.empty() || text[0] == '+' || text[0] == '-') return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || value < lo || value > hi) return false;
  out = static_cast<int>(value);
  return true;
}

// "WxH", each 1 to 16384 pixels.
bool ParseSize(const std::string& text, int& width, int& height) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  return ParseCount(text.substr(0, x), 1, 16384, width) && ParseCount(text.substr(x + 1), 1, 16384, height);
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
  o = Options{};
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // The values an option takes, or a message naming what is missing.
    auto value = [&](std::size_t n, std::string& a, std::string* b = nullptr) {
      if (i + n >= args.size()) {
        error = arg + " needs " + (n == 1 ? "a value" : std::to_string(n) + " values");
        return false;
      }
      a = args[++i];
      if (b) *b = args[++i];
      return true;
    };
    std::string a, b;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "-o" || arg == "--output") {
      if (!value(1, a)) return false;
      if (a.empty()) {
        error = arg + " needs a file name";
        return false;
      }
      o.output = a;
    } else if (arg == "--size") {
      if (!value(1, a)) return false;
      if (!ParseSize(a, o.width, o.height)) {
        error = "--size takes WxH, 1 to 16384 pixels each: " + a;
        return false;
      }
    } else if (arg == "--time") {
      float t = 0;
      if (!value(1, a)) return false;
      if (!ParseFloat(a, t)) {
        error = "--time takes a number: " + a;
        return false;
      }
      o.time = t;
    } else if (arg == "--frame") {
      int n = 0;
      if (!value(1, a)) return false;
      if (!ParseCount(a, 0, 2147483647L, n)) {
        error = "--frame takes a frame number from 0: " + a;
        return false;
      }
      o.frame = n;
    } else if (arg == "--frames") {
      if (!value(1, a)) return false;
      if (!ParseCount(a, 1, 100000, o.frames)) {
        error = "--frames takes a count from 1 to 100000: " + a;
        return false;
      }
    } else if (arg == "--rotate") {
      if (!value(2, a, &b)) return false;
      if (!ParseFloat(a, o.rotateX) || !ParseFloat(b, o.rotateY)) {
        error = "--rotate takes two angles in degrees: " + a + " " + b;
        return false;
      }
      o.rotate = true;
    } else if (arg == "--clip") {
      float d = 0;
      if (!value(1, a)) return false;
      if (!ParseFloat(a, d)) {
        error = "--clip takes a number: " + a;
        return false;
      }
      o.clip = d;
    } else if (arg == "--config") {
      if (!value(1, a)) return false;
      o.config = a;
    } else if (arg == "--no-section") {
      o.noSection = true;
    } else if (arg == "--ortho") {
      o.orthographic = true;
    } else if (arg == "--no-lighting") {
      o.noLighting = true;
    } else if (arg == "--no-wire") {
      o.noWire = true;
    } else if (arg == "--no-culling") {
      o.noCulling = true;
    } else if (arg == "--legend") {
      o.legend = true;
    } else if (arg == "--text") {
      o.text = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      error = "unknown option " + arg;
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (o.help) return true;
  if (positional.size() != 1) {
    error = positional.empty() ? "no mesh file given" : "more than one mesh file given";
    return false;
  }
  o.mesh = positional[0];
  if (o.output.empty()) {
    error = "no output file given (-o OUT.png)";
    return false;
  }
  if (o.time && o.frame) {
    error = "--time and --frame both say which time to draw; give one";
    return false;
  }
  if (o.frames > 0 && (o.time || o.frame)) {
    error = "--frames draws the whole time range; it takes no --time or --frame";
    return false;
  }
  return true;
}

std::string PictureName(const std::string& output, int index, int count) {
  if (count <= 0) return output;
  std::string stem = output;
  const std::string suffix = ".png";
  if (stem.size() > suffix.size()) {
    std::string tail = stem.substr(stem.size() - suffix.size());
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (tail == suffix) {
      const std::string original = stem.substr(stem.size() - suffix.size());
      stem.resize(stem.size() - suffix.size());
      char number[16];
      std::snprintf(number, sizeof number, "-%04d", index);
      return stem + number + original;
    }
  }
  char number[16];
  std::snprintf(number, sizeof number, "-%04d", index);
  return stem + number + suffix;
}

}  // namespace render
