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
  std::string path;
};

TEST_F(FatalReportTest, BlockListsTheEnvironmentThenTheTraceNewestFirst) {
  ReportEnvironment environment{"2006-03-14 09:05:07", "WORKSTATION", "jan", "/opt/qem/qemviewer"};
  ErrorRaise("A", "", 0);
  ErrorAdd("B", "", 0);
  ErrorAdd("C", "", 0);
  WriteErrorReport(path, environment);
  EXPECT_FALSE(ErrorPending());
  const std::string expected = "Środowisko\r\n"_cp +
                               "  Czas       : 2006-03-14 09:05:07\r\n"
                               "  Komputer   : WORKSTATION\r\n" +
                               "  Użytkownik : jan\r\n"_cp +
                               "  Plik       : /opt/qem/qemviewer\r\n" + "Błąd\r\n"_cp +
                               "  C\r\n  B\r\n  A\r\n\r\n";
  EXPECT_EQ(Content(), expected);

  // A second failing run appends its block after the first; names that could not be read
  // leave their lines out; a system text's own line break shows as an extra break.
  ErrorRaiseWin32Code(5, "Access is denied.\r\n", "", "", 0);
  WriteErrorReport(path, ReportEnvironment{"2006-03-14 09:05:08", std::nullopt, std::nullopt, "/x"});
  const std::string second = "Środowisko\r\n"_cp + "  Czas       : 2006-03-14 09:05:08\r\n  Plik       : /x\r\n" +
                             "Błąd\r\n"_cp + "  (Win32API,5) Access is denied.\r\r\n\r\n\r\n";
  EXPECT_EQ(Content(), expected + second);
}

TEST_F(FatalReportTest, UnopenableFileKeepsTheTrace) {
  ErrorRaise("root", "", 0);
  WriteErrorReport("/nonexistent-dir/Errors.log", ReportEnvironment{});
  EXPECT_TRUE(ErrorPending());
  EXPECT_EQ(GlobalErrorTrace().Lines(), std::vector<std::string>{"root"});
}

TEST_F(FatalReportTest, EnvironmentOfThisProcess) {
  const ReportEnvironment environment = CurrentEnvironment();
  EXPECT_TRUE(std::regex_match(environment.time, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << environment.time;
  EXPECT_NE(environment.executable.find("app_tests"), std::string::npos) << environment.executable;
  if (environment.computer) {
    EXPECT_LT(environment.computer->size(), 16u);
  }
}

}  // namespace
