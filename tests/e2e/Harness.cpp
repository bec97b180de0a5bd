#include "tests/e2e/Harness.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

using namespace std::chrono_literals;

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

Image ReadPpm(const std::string& bytes) {
  Image image;
  std::istringstream in(bytes);
  std::string magic;
  int maxValue = 0;
  in >> magic >> image.width >> image.height >> maxValue;
  in.get();
  if (magic != "P6" || maxValue != 255 || image.width <= 0 || image.height <= 0) return Image{};
  image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()));
  return image;
}

}  // namespace

Rgb Image::At(int x, int y) const {
  const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
  return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
}

int Image::Count(int x0, int y0, int x1, int y1, const std::function<bool(Rgb)>& predicate) const {
  int count = 0;
  for (int y = std::max(0, y0); y < std::min(height, y1); ++y) {
    for (int x = std::max(0, x0); x < std::min(width, x1); ++x) count += predicate(At(x, y)) ? 1 : 0;
  }
  return count;
}

int Image::Differences(const Image& other, int tolerance, int x0, int y0, int x1, int y1) const {
  int count = 0;
  for (int y = std::max(0, y0); y < std::min({height, other.height, y1}); ++y) {
    for (int x = std::max(0, x0); x < std::min({width, other.width, x1}); ++x) {
      const Rgb a = At(x, y), b = other.At(x, y);
      if (std::abs(a.r - b.r) > tolerance || std::abs(a.g - b.g) > tolerance || std::abs(a.b - b.b) > tolerance)
        ++count;
    }
  }
  return count;
}

void Image::SavePpm(const std::filesystem::path& path) const {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << width << " " << height << "\n255\n";
  out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
}

std::string Shell(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[65536];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int result = pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

std::filesystem::path SourceDir() { return QEM_SOURCE_DIR; }
std::filesystem::path ViewerPath() { return QEM_VIEWER_PATH; }

Scratch::Scratch(const std::string& name) {
  dir = std::filesystem::temp_directory_path() / ("qem-e2e-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(SourceDir() / "Config.tvl", dir / "Config.tvl");
}

Scratch::~Scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void Scratch::WriteConfig(const std::string& text) const { WriteFile("Config.tvl", text); }

void Scratch::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::string Scratch::ReadFile(const std::string& name) const {
  std::ifstream in(dir / name, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

Viewer::Viewer(const std::filesystem::path& dir, const std::vector<std::string>& args,
               const std::vector<std::string>& extraEnvironment)
    : directory(dir) {
  std::vector<std::string> argv{ViewerPath().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argvPointers;
  for (std::string& arg : argv) argvPointers.push_back(arg.data());
  argvPointers.push_back(nullptr);

  // The extra entries replace the inherited ones of the same name.
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& extra : extraEnvironment) replaced = replaced || extra.rfind(name, 0) == 0;
    if (!replaced) environment.push_back(entry);
  }
  environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> envPointers;
  for (std::string& entry : environment) envPointers.push_back(entry.data());
  envPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (posix_spawn(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(), envPointers.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
}

Viewer::~Viewer() {
  if (Running()) {
    kill(pid, SIGKILL);
    WaitExit(5s);
  }
}

bool Viewer::Running() {
  if (pid <= 0 || status) return false;
  int result = 0;
  const pid_t done = waitpid(pid, &result, WNOHANG);
  if (done == pid) {
    status = WIFEXITED(result) ? WEXITSTATUS(result) : 128 + WTERMSIG(result);
    return false;
  }
  return true;
}

std::optional<int> Viewer::WaitExit(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (Running() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
  return status;
}

std::string Viewer::Stderr() const {
  std::ifstream in(directory / "stderr.txt");
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Viewer::WaitForWindow(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    std::string found =
        Shell("xdotool search --onlyvisible --pid " + std::to_string(pid) + " --name '^QEM Viewer$' 2>/dev/null");
    if (!found.empty()) {
      window = found.substr(0, found.find('\n'));
      std::this_thread::sleep_for(300ms);
      return window;
    }
    if (!Running()) break;
    std::this_thread::sleep_for(100ms);
  }
  return {};
}

std::string Viewer::WaitForWindowNamed(const std::string& text, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    // Only viewable windows count (GTK keeps an unmapped helper window with the program's name).
    std::istringstream tree(Shell("xwininfo -root -tree 2>/dev/null"));
    std::string line;
    while (std::getline(tree, line)) {
      if (line.find(text) == std::string::npos) continue;
      const std::string id = line.substr(line.find_first_not_of(' '),
                                         line.find(' ', line.find_first_not_of(' ')) - line.find_first_not_of(' '));
      if (id.rfind("0x", 0) != 0 || std::stoul(id, nullptr, 16) == std::stoul(window.empty() ? "0" : window)) continue;
      if (Shell("xwininfo -id " + id + " 2>/dev/null").find("IsViewable") != std::string::npos) return id;
    }
    std::this_thread::sleep_for(100ms);
  }
  return {};
}

void Viewer::Geometry(int& x, int& y, int& width, int& height) {
  const std::string info = Shell("xwininfo -id " + window);
  auto value = [&](const std::string& label) {
    const auto at = info.find(label);
    return at == std::string::npos ? 0 : std::atoi(info.c_str() + at + label.size());
  };
  x = value("Absolute upper-left X:");
  y = value("Absolute upper-left Y:");
  width = value("Width:");
  height = value("Height:");
}

void Viewer::Key(const std::string& keys) {
  Shell("xdotool windowfocus --sync " + window + " 2>/dev/null; xdotool key --delay 60 " + keys);
  std::this_thread::sleep_for(200ms);
}

void Viewer::HoldKey(const std::string& key, std::chrono::milliseconds duration) {
  Shell("xdotool windowfocus --sync " + window + " 2>/dev/null; xdotool keydown " + key);
  std::this_thread::sleep_for(duration);
  Shell("xdotool keyup " + key);
  std::this_thread::sleep_for(200ms);
}

void Viewer::Type(const std::string& utf8) {
  Shell("xdotool windowfocus --sync " + window + " 2>/dev/null; xdotool type --delay 40 -- " + Quote(utf8));
  std::this_thread::sleep_for(200ms);
}

void Viewer::Drag(int button, int x0, int y0, int x1, int y1) {
  const std::string b = std::to_string(button);
  Shell("xdotool mousemove --window " + window + " " + std::to_string(x0) + " " + std::to_string(y0) +
        " sleep 0.1 mousedown " + b);
  const int steps = 10;
  for (int i = 1; i <= steps; ++i) {
    Shell("xdotool mousemove --window " + window + " " + std::to_string(x0 + (x1 - x0) * i / steps) + " " +
          std::to_string(y0 + (y1 - y0) * i / steps));
    std::this_thread::sleep_for(40ms);
  }
  Shell("xdotool mouseup " + b);
  std::this_thread::sleep_for(300ms);
}

void Viewer::Click(int button, int x, int y) {
  Shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) + " click " +
        std::to_string(button));
  std::this_thread::sleep_for(200ms);
}

void Viewer::Close() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = static_cast<::Window>(std::stoul(window));
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
  XCloseDisplay(display);
}

Image Viewer::Screenshot() { return ReadPpm(Shell("import -window root -depth 8 ppm:- 2>/dev/null")); }

Image Viewer::WindowShot() {
  int x, y, width, height;
  Geometry(x, y, width, height);
  const Image screen = Screenshot();
  Image shot;
  shot.width = width;
  shot.height = height;
  shot.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      const Rgb c = (x + col < screen.width && y + row < screen.height) ? screen.At(x + col, y + row) : Rgb{};
      const std::size_t i = (static_cast<std::size_t>(row) * width + col) * 3;
      shot.rgb[i] = static_cast<std::uint8_t>(c.r);
      shot.rgb[i + 1] = static_cast<std::uint8_t>(c.g);
      shot.rgb[i + 2] = static_cast<std::uint8_t>(c.b);
    }
  }
  return shot;
}

}  // namespace e2e
