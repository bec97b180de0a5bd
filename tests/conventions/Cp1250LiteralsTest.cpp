// Every message the program holds is Windows-1250: a string literal with a byte above 0x7F
// in the program's sources must be written "..."_cp, so it is converted while compiling.
// A UTF-8 literal meant for a boundary (a library that takes UTF-8) carries the comment
// "utf-8 literal" on its line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// The literals of a C++ source that hold non-ASCII bytes and are not followed by _cp, as
// "file:line" texts. Comments, character literals and escapes are understood.
std::vector<std::string> UnconvertedLiterals(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  std::vector<std::string> found;
  int line = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n') ++i;
      --i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const std::size_t end = text.find("*/", i + 2);
      for (std::size_t j = i; j < std::min(end, text.size()); ++j) line += text[j] == '\n';
      i = end == std::string::npos ? text.size() : end + 1;
    } else if (c == '\'' || c == '"') {
      const int startLine = line;
      bool nonAscii = false;
      std::size_t j = i + 1;
      for (; j < text.size() && text[j] != c && text[j] != '\n'; ++j) {
        if (text[j] == '\\') ++j;
        if (static_cast<unsigned char>(text[j]) >= 0x80) nonAscii = true;
      }
      const bool converted = text.compare(j + 1, 3, "_cp") == 0;
      const std::size_t lineEnd = text.find('\n', j);
      const std::size_t lineStart = text.rfind('\n', i) + 1;
      const bool marked = text.substr(lineStart, lineEnd - lineStart).find("utf-8 literal") != std::string::npos;
      if (c == '"' && nonAscii && !converted && !marked)
        found.push_back(path.string() + ":" + std::to_string(startLine));
      i = j;
    }
  }
  return found;
}

TEST(Conventions, PolishLiteralsAreConvertedToWindows1250) {
  std::vector<std::string> found;
  for (const char* folder : {"Common_Code", "config", "qem", "engine", "framework", "gfx", "app", "tools"}) {
    const auto root = std::filesystem::path(QEM_SOURCE_DIR) / folder;
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      const auto extension = entry.path().extension();
      if (extension != ".cpp" && extension != ".h") continue;
      for (const std::string& place : UnconvertedLiterals(entry.path())) found.push_back(place);
    }
  }
  EXPECT_TRUE(found.empty()) << [&] {
    std::string list;
    for (const std::string& place : found) list += place + "\n";
    return "UTF-8 literals without _cp:\n" + list;
  }();
}

TEST(Conventions, TheCheckerSeesWhatItShould) {
  const auto path = std::filesystem::temp_directory_path() / "qem-literals-sample.cpp";
  std::ofstream(path) << "// \"ą\" in a comment\n"
                         "auto a = \"ą\"_cp;\n"
                         "auto b = \"\\\"ł\\\"\";\n"
                         "/* \"ż\" */ auto c = 'x';\n"
                         "auto d = \"ó\";  // utf-8 literal\n"
                         "auto e = \"plain\";\n";
  const auto found = UnconvertedLiterals(path);
  std::filesystem::remove(path);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].substr(found[0].rfind(':')), ":3");
}

}  // namespace
