#pragma once
// Driving the real qemviewer like a person: start it in a scratch directory, find its
// window among the viewable ones, type, press, drag, take screenshots of the X screen and
// wait for it to end. Needs DISPLAY (./test runs this tier under its own Xvfb) and the
// X tools xdotool, xwininfo and ImageMagick's import. Every wait is bounded.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct Rgb {
  int r = 0, g = 0, b = 0;
};

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // rows top to bottom, 3 bytes a pixel

  Rgb At(int x, int y) const;
  // Pixels in [x0, x1) x [y0, y1) for which the predicate holds.
  int Count(int x0, int y0, int x1, int y1, const std::function<bool(Rgb)>& predicate) const;
  // Pixels whose colour differs from the other image's by more than tolerance in a channel.
  int Differences(const Image& other, int tolerance, int x0, int y0, int x1, int y1) const;
  void SavePpm(const std::filesystem::path& path) const;
};

// Runs a shell command, returning its standard output; status set when given.
std::string Shell(const std::string& command, int* status = nullptr);

// A scratch directory holding Config.tvl (the repository's, or the given text).
class Scratch {
 public:
  explicit Scratch(const std::string& name);
  ~Scratch();
  void WriteConfig(const std::string& text) const;
  void WriteFile(const std::string& name, const std::string& bytes) const;
  std::string ReadFile(const std::string& name) const;
  const std::filesystem::path& Path() const { return dir; }

 private:
  std::filesystem::path dir;
};

class Viewer {
 public:
  // Starts the program with args in dir (its current directory).
  Viewer(const std::filesystem::path& dir, const std::vector<std::string>& args,
         const std::vector<std::string>& extraEnvironment = {});
  ~Viewer();  // kills a program still running

  // The program's main window (viewable, titled "QEM Viewer"); empty when it did not
  // appear within the time.
  std::string WaitForWindow(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // A viewable window whose name contains text, other than the main window.
  std::string WaitForWindowNamed(const std::string& text, std::chrono::milliseconds timeout);
  std::string Window() const { return window; }

  // The window's client area origin and size on the screen.
  void Geometry(int& x, int& y, int& width, int& height);

  void Key(const std::string& keys);  // xdotool key names, e.g. "grave", "Return"
  void HoldKey(const std::string& key, std::chrono::milliseconds duration);
  void Type(const std::string& utf8);
  void Drag(int button, int x0, int y0, int x1, int y1);  // window-relative pixels
  void Click(int button, int x, int y);
  // Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
  void Close();

  Image Screenshot();  // the whole X screen
  Image WindowShot();  // the window's client area

  // The exit status once the program ended; nullopt when it is still running at the end.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  bool Running();
  std::string Stderr() const;

 private:
  pid_t pid = -1;
  std::filesystem::path directory;
  std::string window;
  std::optional<int> status;
};

// The repository root and the built program.
std::filesystem::path SourceDir();
std::filesystem::path ViewerPath();

}  // namespace e2e
