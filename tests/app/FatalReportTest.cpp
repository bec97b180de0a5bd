#include "app/FatalReport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"

namespace {

class FatalReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalErrorTrace().Clear();
    path = (std::filesystem::temp_directory_path() / ("qem-errors-" + std::to_string(getpid()) + ".log")).string();
    std::filesystem::remove(path);
  }
  void TearDown() override {
    std::filesystem::remove(path);
    GlobalErrorTrace().Clear();
  }
  std::string Content() {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  // The whole content of a temporary file, which is closed.
  static std::string Read(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
  }
  std::string path;
};

TEST_F(FatalReportTest, BlockListsTheEnvironmentThenTheTraceNewestFirst) {
  ReportEnvironment environment{"2006-03-14 09:05:07", "WORKSTATION", "jan", "/opt/qem/qemviewer"};
  ErrorRaise("A", "", 0);
  ErrorAdd("B", "", 0);
  ErrorAdd("C", "", 0);
  std::FILE* copy = std::tmpfile();
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(WriteErrorReport(path, environment, copy));
  EXPECT_FALSE(ErrorPending());
  // The copy for standard error: the same block in UTF-8 with plain line feeds.
  EXPECT_EQ(Read(copy),
            "Środowisko\n  Czas       : 2006-03-14 09:05:07\n  Komputer   : WORKSTATION\n  Użytkownik : jan\n"
            "  Plik       : /opt/qem/qemviewer\nBłąd\n  C\n  B\n  A\n\n");
  const std::string expected = "Środowisko\r\n"_cp +
                               "  Czas       : 2006-03-14 09:05:07\r\n"
                               "  Komputer   : WORKSTATION\r\n" +
                               "  Użytkownik : jan\r\n"_cp + "  Plik       : /opt/qem/qemviewer\r\n" + "Błąd\r\n"_cp +
                               "  C\r\n  B\r\n  A\r\n\r\n";
  EXPECT_EQ(Content(), expected);

  // A second failing run appends its block after the first; names that could not be read
  // leave their lines out; a system text's own line break shows as an extra break.
  ErrorRaiseWin32Code(5, "Access is denied.\r\n", "", "", 0);
  EXPECT_TRUE(
      WriteErrorReport(path, ReportEnvironment{"2006-03-14 09:05:08", std::nullopt, std::nullopt, "/x"}, nullptr));
  const std::string second = "Środowisko\r\n"_cp + "  Czas       : 2006-03-14 09:05:08\r\n  Plik       : /x\r\n" +
                             "Błąd\r\n"_cp + "  (Win32API,5) Access is denied.\r\r\n\r\n\r\n";
  EXPECT_EQ(Content(), expected + second);
}

// A report file that cannot be opened (no such directory) or written (a full disk): the
// caller learns it, and the whole block has gone to the copy all the same.
TEST_F(FatalReportTest, AnUnwritableFileLeavesTheBlockInTheCopy) {
  for (const char* target : {"/nonexistent-dir/Errors.log", "/dev/full"}) {
    ErrorRaise("root", "", 0);
    std::FILE* copy = std::tmpfile();
    ASSERT_NE(copy, nullptr);
    EXPECT_FALSE(
        WriteErrorReport(target, ReportEnvironment{"2006-03-14 09:05:07", std::nullopt, std::nullopt, "/x"}, copy))
        << target;
    EXPECT_FALSE(ErrorPending());
    EXPECT_EQ(Read(copy), "Środowisko\n  Czas       : 2006-03-14 09:05:07\n  Plik       : /x\nBłąd\n  root\n\n")
        << target;
  }
}

TEST_F(FatalReportTest, EnvironmentOfThisProcess) {
  const ReportEnvironment environment = CurrentEnvironment();
  EXPECT_TRUE(std::regex_match(environment.time, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})")))
      << environment.time;
  EXPECT_NE(environment.executable.find("app_tests"), std::string::npos) << environment.executable;
  if (environment.computer) {
    EXPECT_LT(environment.computer->size(), 16u);
  }
}

}  // namespace
