// ./run, the repository's start command, with the build and the program replaced by stand-ins
// that report what they were given: the arguments reach the program as typed, in the
// directory ./run was called from, and the tools are built with the viewer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

void WriteScript(const fs::path& path, const std::string& text) {
  std::ofstream(path) << "#!/bin/sh\n" << text;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RunScript, ArgumentsAreTakenFromTheCallersDirectory) {
  const fs::path root = fs::temp_directory_path() / ("qem-run-" + std::to_string(getpid()));
  const fs::path repo = root / "repo", caller = root / "caller", bin = root / "bin";
  for (const fs::path& dir : {repo / "tools", repo / "build", caller / "meshes", bin}) fs::create_directories(dir);
  fs::copy_file(fs::path(QEM_SOURCE_DIR) / "run", repo / "run");
  fs::permissions(repo / "run", fs::perms::owner_all, fs::perm_options::add);
  WriteScript(repo / "tools" / "install-deps.sh", "");
  WriteScript(bin / "cmake", "echo \"$*\" >> " + (root / "cmake.log").string() + "\n");
  const std::string report = (root / "viewer.log").string();
  WriteScript(
      repo / "build" / "qemviewer",
      "{ pwd; for a in \"$@\"; do echo \"$a\"; [ -f \"$a\" ] && echo found; done; } > " + report + "\nexit 0\n");
  std::ofstream(caller / "meshes" / "m.qem") << "QEM\n";

  const std::string call = "cd " + caller.string() + " && PATH=" + bin.string() + ":$PATH ../repo/run ";
  ASSERT_EQ(std::system((call + "meshes/m.qem >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(Read(report), caller.string() + "\nmeshes/m.qem\nfound\n");
  EXPECT_NE(Read(root / "cmake.log").find("--target qemviewer qem-info qem-generate"), std::string::npos)
      << Read(root / "cmake.log");

  ASSERT_EQ(std::system((call + ">/dev/null 2>&1").c_str()), 0);  // no argument: the sample
  EXPECT_EQ(Read(report), caller.string() + "\n" + (repo / "samples" / "box.qem").string() + "\n");
  fs::remove_all(root);
}

}  // namespace
