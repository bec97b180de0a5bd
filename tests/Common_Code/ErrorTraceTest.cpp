#include "Common_Code/ErrorTrace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "config/TvlError.h"
#include "tests/TraceLines.h"

namespace {

std::vector<std::string> Drain(ErrorTrace& trace) { return PopAllLines(trace); }

TEST(ErrorTrace, LocationLineUsesTheFileBaseName) {
  struct Case {
    const char* file;
    int line;
    const char* expected;
  };
  const Case cases[] = {
      {".\\Config", 101, "[Config,101] __thiscall Config::Config(void)"},
      {"..\\Common_Code\\Stream", 7, "[Stream,7] __thiscall Config::Config(void)"},
      {"Main", -3, "[Main,-3] __thiscall Config::Config(void)"},
      {"c:Dir/Sub\\", 5, "[,5] __thiscall Config::Config(void)"},
      {"", 0, "__thiscall Config::Config(void)"},
  };
  for (const Case& c : cases) {
    ErrorTrace trace;
    trace.Add("__thiscall Config::Config(void)", c.file, c.line);
    ASSERT_EQ(trace.Lines().size(), 1u);
    EXPECT_EQ(trace.Lines()[0], c.expected);
    EXPECT_TRUE(trace.IsPending());
  }
  ErrorTrace empty;
  empty.Add("", "", 0);
  EXPECT_TRUE(empty.IsPending());
  EXPECT_EQ(empty.Lines(), std::vector<std::string>{""});
}

TEST(ErrorTrace, TakeAllReadsNewestFirstAndLeavesTheTraceIdle) {
  ErrorTrace trace;
  trace.Raise("A", "", 0);
  trace.Add("B", "", 0);
  trace.Add("C", "", 0);
  std::string out = "old";
  EXPECT_TRUE(trace.TakeAll(out));
  EXPECT_EQ(out, "C\nB\nA");
  EXPECT_FALSE(trace.IsPending());
  EXPECT_FALSE(trace.TakeAll(out));
  EXPECT_EQ(out, "");
}

TEST(ErrorTrace, PopLineKeepsPendingUntilTheListIsEmpty) {
  ErrorTrace trace;
  trace.Raise("A", "", 0);
  trace.Add("B", "", 0);
  trace.Add("C", "", 0);
  std::string line;
  for (const char* expected : {"C", "B", "A"}) {
    ASSERT_TRUE(trace.PopLine(line));
    EXPECT_EQ(line, expected);
    EXPECT_TRUE(trace.IsPending());
  }
  line = "unchanged";
  EXPECT_FALSE(trace.PopLine(line));
  EXPECT_EQ(line, "unchanged");
  EXPECT_FALSE(trace.IsPending());
}

TEST(ErrorTrace, RaiseRestartsWhileAddKeeps) {
  ErrorTrace trace;
  trace.Raise("old root", "", 0);
  trace.Add("old caller", "", 0);
  trace.Raise("new root", "Engine", 12);
  trace.Add("caller", "", 0);
  EXPECT_EQ(Drain(trace), (std::vector<std::string>{"caller", "[Engine,12] new root"}));
}

TEST(ErrorTrace, DirectXSuccessCodesRecordNothing) {
  ErrorTrace trace;
  trace.Raise("pending", "", 0);
  trace.RaiseDirectX(D3D_OK, "text", "Gfx", 1);
  trace.RaiseDirectX(S_FALSE, "text", "Gfx", 1);
  trace.RaiseDirectX(0x7FFFFFFF, "text", "Gfx", 1);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"pending"});
  EXPECT_TRUE(trace.IsPending());
}

TEST(ErrorTrace, DirectXRootLineCarriesTheUnsignedCodeNameAndDescription) {
  ErrorTrace trace;
  trace.RaiseDirectX(D3DERR_INVALIDCALL, "Nie można utworzyć bufora"_cp, "Engine", 40);
  EXPECT_EQ(Drain(trace), (std::vector<std::string>{"[Engine,40] " + "Nie można utworzyć bufora"_cp,
                                                    "(DirectX,2289436780) D3DERR_INVALIDCALL (Invalid call)"}));
  trace.RaiseDirectX(static_cast<HRESULT>(0x80001234u), "", "", 0);
  EXPECT_EQ(Drain(trace), std::vector<std::string>{"(DirectX,2147488308) Unknown (n/a)"});
  trace.RaiseDirectX(E_OUTOFMEMORY, "", "", 0);
  EXPECT_EQ(Drain(trace), std::vector<std::string>{"(DirectX,2147942414) E_OUTOFMEMORY (Ran out of memory)"});
}

TEST(ErrorTrace, SystemErrorRootLineEndsWithALineBreak) {
  ErrorTrace trace;
  trace.Raise("stale", "", 0);
  trace.RaiseWin32Code(2, "No such file or directory\r\n", "", "", 0);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"(Win32API,2) No such file or directory\r\n"});

  // The free function reads errno before anything else can change it.
  errno = ENOENT;
  ErrorRaiseWin32("void f()", "Main", 9);
  std::string line;
  ASSERT_TRUE(ErrorPopLine(line));
  EXPECT_EQ(line, "[Main,9] void f()");
  ASSERT_TRUE(ErrorPopLine(line));
  EXPECT_EQ(line.rfind("(Win32API,2) ", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  EXPECT_FALSE(ErrorPopLine(line));
}

TEST(ErrorTrace, ParseRootLine) {
  const tvl::Error error(3, "ab\r\ncd", 5, "Ogólny błąd składni"_cp);
  ErrorTrace trace;
  trace.RaiseParse(error, "Błąd podczas parsowania pliku konfiguracyjnego"_cp, "", 0);
  EXPECT_EQ(Drain(trace), (std::vector<std::string>{
                              "Błąd podczas parsowania pliku konfiguracyjnego"_cp,
                              "(tvl2,3) znak 5 wiersz 2 kolumna 2: "_cp + std::string("Ogólny błąd składni"_cp)}));
  trace.RaiseParse(tvl::Error(0, "{/", 2), "", "", 0);
  EXPECT_EQ(Drain(trace),
            std::vector<std::string>{"(tvl2,0) znak 2 wiersz 1 kolumna 3: Niespodziewany koniec dokumentu"});
  trace.RaiseParse(tvl::Error(-7, "", 0), "", "", 0);
  EXPECT_EQ(Drain(trace), std::vector<std::string>{"(tvl2,-7) znak 0 wiersz 1 kolumna 1: Nieznany blad"});
}

TEST(ErrorTrace, LocationMacroGivesSignatureStemAndLine) {
  ErrorTrace trace;
  const int line = __LINE__ + 1;
  trace.Add(ERROR_LOCATION);
  const std::string expected = "[ErrorTraceTest," + std::to_string(line) + "] ";
  ASSERT_EQ(trace.Lines().size(), 1u);
  EXPECT_EQ(trace.Lines()[0].rfind(expected, 0), 0u) << trace.Lines()[0];
  EXPECT_NE(trace.Lines()[0].find("LocationMacroGivesSignatureStemAndLine"), std::string::npos);
}

TEST(ErrorTrace, ScopedTraceRedirectsOnlyItsOwnThread) {
  GlobalErrorTrace().Clear();
  ErrorTrace loaderTrace;
  std::thread loader([&] {
    ScopedErrorTrace redirect(loaderTrace);
    ErrorRaise("from the loader", "", 0);
  });
  loader.join();
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(loaderTrace.Lines(), std::vector<std::string>{"from the loader"});
}

}  // namespace
