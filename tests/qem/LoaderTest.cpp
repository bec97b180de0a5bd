// The background loader: stages, status text, failures, the hand-over of read failures to
// the main thread's trace, cancellation. Runs under ThreadSanitizer too.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "qem/Loader.h"
#include "tests/qem/QemTestUtil.h"
#include "tools/qem-generate/Generate.h"

namespace {

using qemtest::TempFile;

class QemLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    qem::ResetLoader();
    GlobalErrorTrace().Clear();
  }
  void TearDown() override {
    qem::ResetLoader();
    GlobalErrorTrace().Clear();
  }

  // Polls like the engine until the stage is final; returns it.
  static std::int32_t WaitForEnd() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::int32_t stage;
    while ((stage = qem::GetLoadStage()) != qem::kStageFinished && stage != qem::kStageFailed &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return stage;
  }
};

TEST_F(QemLoader, NothingBeforeTheLoadStarts) {
  std::uint32_t count = 77, total = 88;
  EXPECT_EQ(qem::GetLoadStage(&count, &total), qem::kStageNone);
  EXPECT_EQ(count, 77u);  // no loader: the out-arguments stay as they were
  EXPECT_EQ(total, 88u);
  EXPECT_EQ(qem::GetLoadStatusText(), "");
  EXPECT_EQ(qem::GetCurrentDocument(), nullptr);
  qem::CancelLoading();  // returns at once
}

TEST_F(QemLoader, LoadsAFileThroughEveryStage) {
  TempFile file(qemtest::kTetraFile);
  ASSERT_TRUE(qem::StartLoading(file.path));
  ASSERT_EQ(WaitForEnd(), qem::kStageFinished);
  EXPECT_EQ(qem::GetLoadStatusText(), "");
  const qem::Document* doc = qem::GetCurrentDocument();
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->vertices.size(), 4u);
  EXPECT_EQ(doc->boundaryTriangles.size(), 4u);
  ASSERT_TRUE(doc->octree);
  EXPECT_EQ(doc->timeMax, 1.5f);
  qem::CancelLoading();  // after the end: returns at once
  EXPECT_EQ(qem::GetLoadStage(), qem::kStageFinished);
  EXPECT_FALSE(ErrorPending());
  qem::DestroyCurrentDocument();
  EXPECT_EQ(qem::GetCurrentDocument(), nullptr);
}

TEST_F(QemLoader, AValidationFailureShowsItsMessageAlone) {
  TempFile file("QEM VERTICES 0 ELEMENTS 0 FRAMES 0\n");
  qem::StartLoading(file.path);
  ASSERT_EQ(WaitForEnd(), qem::kStageFailed);
  EXPECT_EQ(qem::GetLoadStatusText(), "Błąd:\nSiatka musi mieć conajmniej jeden element"_cp);
  EXPECT_FALSE(ErrorPending());
}

TEST_F(QemLoader, AParseFailureShowsThreeLines) {
  TempFile file("QEM\nVERTICES x\n");
  qem::StartLoading(file.path);
  ASSERT_EQ(WaitForEnd(), qem::kStageFailed);
  const std::string text = qem::GetLoadStatusText();
  const std::string expectedTail = "\nNie można wczytać pliku: "_cp + file.path +
                                   "\n(tvl2,3) znak 13 wiersz 2 kolumna 10: Błędna liczba wierzchołków"_cp;
  ASSERT_EQ(text.rfind("Błąd:\n[QEM,"_cp, 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - expectedTail.size()), expectedTail);
  EXPECT_EQ(qem::GetLoadError(), text.substr(std::string("Błąd:\n"_cp).size()));
}

TEST_F(QemLoader, AFileThatCannotBeOpenedReachesTheGlobalTraceWhenPolled) {
  const std::string path = "/nonexistent/mesh.qem";
  qem::StartLoading(path);
  qem::CancelLoading();                            // waits for the thread; nothing was cancelled in time to matter
  EXPECT_FALSE(ErrorPending());                    // the loader thread never touches the global trace
  const std::int32_t stage = qem::GetLoadStage();  // the poll hands the lines over
  ASSERT_TRUE(ErrorPending());
  const auto& lines = GlobalErrorTrace().Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Nie mozna otworzyc pliku \"" + path + "\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("Nie mozna wczytac lancucha z pliku \"" + path + "\""), std::string::npos) << lines[1];
  // The empty document then failed validation (unless the cancel came first).
  if (stage == qem::kStageFailed) {
    EXPECT_EQ(qem::GetLoadError(), "Siatka musi mieć conajmniej jeden element"_cp);
  }
  EXPECT_FALSE(qem::HandOverReadErrors());  // handed over once
}

TEST_F(QemLoader, ReadFailureAfterAnUninterruptedLoadFailsValidation) {
  qem::StartLoading("/nonexistent/other.qem");
  ASSERT_EQ(WaitForEnd(), qem::kStageFailed);
  EXPECT_EQ(qem::GetLoadStatusText(), "Błąd:\nSiatka musi mieć conajmniej jeden element"_cp);
  EXPECT_TRUE(ErrorPending());
}

TEST_F(QemLoader, ACancelledLoadEndsFinishedWithWhatItHas) {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 24;
  TempFile file(qemgen::GenerateQem(params));
  qem::StartLoading(file.path);
  qem::CancelLoading();
  // CancelLoading returned after the thread ended: the stage is final already.
  EXPECT_EQ(qem::GetLoadStage(), qem::kStageFinished);
  EXPECT_EQ(qem::GetLoadStatusText(), "");
  const qem::Document* doc = qem::GetCurrentDocument();
  ASSERT_NE(doc, nullptr);
  EXPECT_LT(doc->boundaryTriangles.size(), std::size_t{2 * 2 * 3 * 24 * 24});
}

// What the engine shows while it polls: the stages only move forward, and each status
// text is the one of a stage at least as far as the last one seen: its stage lines, and
// the progress count or percentage; at least one of them carries a count.
TEST_F(QemLoader, PollingWhileLoadingSeesStagesOnlyMoveForwardAndTheirTexts) {
  qemgen::Params params;
  params.nx = params.ny = params.nz = 24;
  TempFile file(qemgen::GenerateQem(params));
  const std::vector<std::string> lines = {"Wczytywanie pliku...", "Sprawdzanie i przygotowanie danych...",
                                          "Budowanie drzewa ósemkowego..."_cp, "Znajdowanie brzegów..."_cp};
  qem::StartLoading(file.path);
  std::int32_t last = 0;
  bool sawCount = false;
  for (;;) {
    std::uint32_t count = 0, total = 0;
    const std::int32_t stage = qem::GetLoadStage(&count, &total);
    ASSERT_GE(stage, last);
    last = stage;
    if (stage == qem::kStageReading) {
      EXPECT_EQ(total, 0u);
    }
    const std::string text = qem::GetLoadStatusText();
    const std::int32_t now = qem::GetLoadStage();
    if (now >= qem::kStageFinished) {
      // The load may finish between the text and the second poll: the text is then the
      // last stage's. Once finished before the text, it is empty.
      if (now == qem::kStageFinished && stage == qem::kStageFinished) {
        EXPECT_EQ(text, "");
      }
      last = now;
      break;
    }
    // Stage lines of a stage between the two polls, then the count in parentheses.
    std::string expected;
    std::int32_t shown = 0;
    while (shown < 4) {
      const std::string next = (shown ? "\n" : "") + lines[shown];
      if (text.compare(expected.size(), next.size(), next) != 0) break;
      expected += next;
      ++shown;
    }
    EXPECT_GE(shown, stage) << text;
    EXPECT_LE(shown, now) << text;
    const std::string rest = text.substr(expected.size());
    if (!rest.empty()) {
      ASSERT_TRUE(rest.starts_with(" (") && rest.ends_with(")")) << text;
      const std::string inner = rest.substr(2, rest.size() - 3);
      ASSERT_FALSE(inner.empty()) << text;
      const bool percent = inner.back() == '%';
      const std::string digits = percent ? inner.substr(0, inner.size() - 1) : inner;
      ASSERT_TRUE(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) << text;
      if (percent) {
        EXPECT_LE(std::stoul(digits), 100u) << text;
      }
      sawCount = true;
    }
    std::this_thread::yield();
  }
  EXPECT_EQ(last, qem::kStageFinished);
  EXPECT_TRUE(sawCount);
  EXPECT_EQ(qem::GetCurrentDocument()->boundaryTriangles.size(), std::size_t{2 * 2 * 3 * 24 * 24});
}

// Closing the window cancels and joins the loader: a FIFO with no writer must not keep it
// waiting in open.
TEST_F(QemLoader, CancellingALoadOfAFifoReturnsAtOnce) {
  const std::string fifo = "/tmp/qem_loader_fifo_" + std::to_string(::getpid());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  qem::StartLoading(fifo);
  auto cancel = std::async(std::launch::async, [] { qem::CancelLoading(); });
  if (cancel.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ::close(::open(fifo.c_str(), O_RDWR));  // lets the blocked open go, so that the test can end
    cancel.wait();
    ADD_FAILURE() << "closing waited on the loader";
  }
  ::unlink(fifo.c_str());
  EXPECT_TRUE(qem::HandOverReadErrors());
  EXPECT_NE(GlobalErrorTrace().Lines()[0].find("Nie mozna otworzyc pliku"), std::string::npos);
}

TEST_F(QemLoader, AThreadThatCannotStartFailsTheLoad) {
  qem::FailNextThreadStartForTesting();
  EXPECT_FALSE(qem::StartLoading("whatever.qem"));
  EXPECT_EQ(qem::GetLoadStage(), qem::kStageFailed);
  EXPECT_EQ(qem::GetLoadStatusText(), "Błąd:\nNie można uruchomić wątku wczytującego"_cp);
  qem::CancelLoading();
}

TEST_F(QemLoader, ALongPathIsJustAPath) {
  const std::string path = "/nonexistent/" + std::string(400, 'a') + ".qem";
  qem::StartLoading(path);
  ASSERT_EQ(WaitForEnd(), qem::kStageFailed);
  ASSERT_TRUE(ErrorPending());
  EXPECT_NE(GlobalErrorTrace().Lines()[0].find(path), std::string::npos);
}

TEST(QemLoadStatus, TextForEachStage) {
  struct Case {
    std::int32_t stage;
    std::uint32_t count, total;
    std::string text;
  };
  const std::string reading = "Wczytywanie pliku...";
  const std::string preparing = reading + "\nSprawdzanie i przygotowanie danych...";
  const std::string octree = preparing + "\nBudowanie drzewa ósemkowego..."_cp;
  const std::string boundary = octree + "\nZnajdowanie brzegów..."_cp;
  const std::vector<Case> cases = {
      {0, 0, 0, ""},
      {1, 0, 0, reading},
      {1, 1234, 0, reading + " (1234)"},
      {2, 0, 0, preparing},
      {3, 17, 0, octree + " (17)"},
      {4, 250, 1000, boundary + " (25%)"},
      {4, 999, 1000, boundary + " (99%)"},
      {4, 0, 1000, boundary},
      // Past 42 949 672 elements the product no longer fits in 32 bits.
      {4, 50000000, 100000000, boundary + " (50%)"},
      {4, 4294967295u, 4294967295u, boundary + " (100%)"},
      {5, 10, 10, ""},
      {6, 3, 0, "Błąd:\nzły plik"_cp},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qem::FormatLoadStatus(c.stage, c.count, c.total, "zły plik"_cp), c.text) << c.stage << " " << c.count;
  }
}

}  // namespace
