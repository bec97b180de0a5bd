// The X server going away under a running viewer (a server restart, a dropped remote
// session): the program must end promptly with a non-zero status and one line on standard
// error, drawing or loading alike, instead of hanging on the dead connection. Each case
// starts a private Xvfb of its own, so ending it leaves the tier's server alone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "tests/e2e/Harness.h"

extern char** environ;

namespace e2e {
namespace {

using namespace std::chrono_literals;

// An Xvfb started with -displayfd, so it never clashes with another server's number.
class PrivateXServer {
 public:
  PrivateXServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The read end goes first: it may itself be descriptor 3.
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    if (fds[1] != 3) posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string args[] = {"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    // The server writes its display number once it listens.
    std::string number;
    pollfd readable{fds[0], POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (pid > 0 && std::chrono::steady_clock::now() < end && number.find('\n') == std::string::npos) {
      if (poll(&readable, 1, 100) <= 0) continue;
      char buffer[32];
      const ssize_t got = read(fds[0], buffer, sizeof buffer);
      if (got <= 0) break;
      number.append(buffer, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    if (number.find('\n') != std::string::npos) display = ":" + number.substr(0, number.find('\n'));
  }
  ~PrivateXServer() { Stop(); }

  // Ends the server as a restart does, and waits until it is gone.
  void Stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

  std::string display;  // empty when the server did not start

 private:
  pid_t pid = -1;
};

// DISPLAY names the private server for the harness's X tools and the viewer it starts.
class DisplayOverride {
 public:
  explicit DisplayOverride(const std::string& display) {
    if (const char* old = std::getenv("DISPLAY")) previous = old;
    setenv("DISPLAY", display.c_str(), 1);
  }
  ~DisplayOverride() {
    if (previous.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", previous.c_str(), 1);
    }
  }

 private:
  std::string previous;
};

struct LossCase {
  const char* name;
  bool largeLoad;  // the server goes while a load runs on the loader thread
};

class DisplayLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(DisplayLoss, EndsWithinTwoSecondsWithOneLineOnStandardError) {
  Scratch scratch(std::string("display_loss_") + GetParam().name);
  std::filesystem::path mesh = SourceDir() / "samples" / "box.qem";
  if (GetParam().largeLoad) {
    mesh = scratch.Path() / "big.qem";
    int status = 0;
    Shell(std::string(QEM_GENERATE_PATH) + " --size 60 60 60 --frames 10 " + mesh.string(), &status);
    ASSERT_EQ(status, 0);
  }
  PrivateXServer server;
  ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
  DisplayOverride useIt(server.display);
  Viewer viewer(scratch.Path(), {mesh.string()});
  ASSERT_FALSE(viewer.WaitForWindow().empty()) << viewer.Stderr();
  if (!GetParam().largeLoad) std::this_thread::sleep_for(500ms);  // frames drawn and presented
  ASSERT_TRUE(viewer.Running());

  server.Stop();
  const auto start = std::chrono::steady_clock::now();
  const auto status = viewer.WaitExit(10s);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(status.has_value()) << "still running 10 s after the server ended";
  EXPECT_LT(took, 2s);
  EXPECT_NE(*status, 0);
  EXPECT_LT(*status, 128) << "ended by a signal, not by the program";
  const std::string said = viewer.Stderr();
  EXPECT_EQ(said,
            "Utracono połączenie z ekranem \"" + server.display + "\"; program kończy pracę.\n");  // utf-8 literal
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "Errors.log"));
}

INSTANTIATE_TEST_SUITE_P(Viewer, DisplayLoss, ::testing::Values(LossCase{"drawing", false}, LossCase{"loading", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
