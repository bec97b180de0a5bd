// The framework's lifecycle, loop and clock, driven through the scripted window system and
// the recording device.

#include "framework/Framework.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "framework/FakeWindowSystem.h"
#include "framework/Input.h"
#include "gfx/RecordingDevice.h"

namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// A frame object that writes "<name>.<hook>" into a shared log and fails (records an error)
// or throws in one chosen hook.
class Hooked : public frame::FrameObject {
 public:
  Hooked(std::string name, std::vector<std::string>& log) : name(std::move(name)), log(log) {}
  std::string failIn;
  std::string throwIn;

  void OnCreate() override { Note("OnCreate"); }
  void OnDestroy() override { Note("OnDestroy"); }
  void OnDeviceCreate() override { Note("OnDeviceCreate"); }
  void OnDeviceDestroy() override { Note("OnDeviceDestroy"); }
  void OnDeviceRestore() override { Note("OnDeviceRestore"); }
  void OnDeviceLost() override { Note("OnDeviceLost"); }

 private:
  void Note(const std::string& hook) {
    log.push_back(name + "." + hook);
    if (hook == failIn) ErrorRaise(name + " failed", "", 0);
    if (hook == throwIn) throw std::runtime_error("thrown");
  }
  std::string name;
  std::vector<std::string>& log;
};

// Registered last: before each device goes (OnDeviceDestroy runs while it still exists) it
// adds up what that device was asked to present.
class PresentCounter : public frame::FrameObject {
 public:
  explicit PresentCounter(gfx::RecordingDevice*& device) : device(device) {}
  int presents = 0;
  void OnDeviceDestroy() override {
    if (device) presents += static_cast<int>(device->Calls("Present").size());
  }

 private:
  gfx::RecordingDevice*& device;
};

struct Step {
  float time, elapsed, fps;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame::test_seam::ResetState();
    GlobalErrorTrace().Clear();
    frame::test_seam::SetClock([this] { return clock; });

    // What the program's entry passes.
    settings.className = "QEM_VIEWER";
    settings.title = "QEM Viewer";
    settings.depthStencilFormat = gfx::D3DFMT_D16;
    settings.minWidth = 320;
    settings.minHeight = 240;
    settings.update = [this] {
      steps.push_back(Step{frame::GetTime(), frame::GetElapsed(), frame::GetFps()});
      events.push_back("update");
      clock += tick;
      if (failUpdate) ErrorRaise("update failed", "", 0);
    };
    settings.draw = [this] {
      events.push_back("draw");
      if (failDraw) ErrorRaise("draw failed", "", 0);
    };
    settings.messageHandler = [this](frame::WindowSystem*, unsigned message, std::uintptr_t,
                                     std::intptr_t) -> std::intptr_t {
      handled.push_back(message);
      return 0;
    };
  }

  void TearDown() override {
    frame::test_seam::ResetState();
    GlobalErrorTrace().Clear();
  }

  void RegisterThree() {
    for (auto* object : {&a, &b, &c}) frame::Register(object);
  }
  // The three and the present counter after them.
  void RegisterThreeAndCount() {
    RegisterThree();
    frame::Register(&counter);
  }

  int Run() {
    frame::Platform platform;
    platform.windowSystem = &ws;
    platform.createDevice = [this](frame::WindowSystem&, const gfx::D3DPRESENT_PARAMETERS& p, gfx::DWORD behaviour,
                                   std::unique_ptr<gfx::Device>& out) -> HRESULT {
      behaviours.push_back(behaviour);
      if (failDeviceCreation || failingBehaviours > 0) {
        failingBehaviours -= 1;
        return D3DERR_NOTAVAILABLE;
      }
      events.push_back("CreateDevice");
      auto created = std::make_unique<gfx::RecordingDevice>();
      for (const auto& [name, hr] : deviceFailures) created->FailCall(name, hr);
      deviceFailures.clear();
      device = created.get();
      parameters = p;
      out = std::move(created);
      return D3D_OK;
    };
    frame::SetPlatform(platform);
    return frame::Run(settings, mode);
  }

  // Events from the first one equal to marker on (the marker excluded).
  std::vector<std::string> After(const std::string& marker) const {
    auto it = std::find(events.begin(), events.end(), marker);
    if (it == events.end()) return {};
    return std::vector<std::string>(it + 1, events.end());
  }

  std::vector<std::string> Hooks(const std::vector<std::string>& from) const {
    std::vector<std::string> out;
    for (const auto& e : from) {
      if (e != "update" && e != "draw") out.push_back(e);
    }
    return out;
  }

  const std::vector<std::string>& Trace() const { return GlobalErrorTrace().Lines(); }

  frame::FakeWindowSystem ws;
  frame::Settings settings;
  frame::DisplayMode mode{800, 600, 60, false};
  std::vector<std::string> events;
  Hooked a{"A", events}, b{"B", events}, c{"C", events};
  gfx::RecordingDevice* device = nullptr;
  gfx::D3DPRESENT_PARAMETERS parameters;
  std::vector<gfx::DWORD> behaviours;
  std::vector<std::pair<std::string, HRESULT>> deviceFailures;
  bool failDeviceCreation = false;
  int failingBehaviours = 0;  // this many creations fail before one succeeds
  PresentCounter counter{device};
  bool failUpdate = false;
  bool failDraw = false;
  std::vector<Step> steps;
  std::vector<unsigned> handled;
  double clock = 50.0;
  double tick = 0.25;
};

TEST_F(FrameworkTest, StartsUpInRegistrationOrderAndShutsDownInReverse) {
  RegisterThree();
  ws.Idle(1);
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(ErrorPending());
  EXPECT_THAT(Hooks(events), ElementsAre("A.OnCreate", "B.OnCreate", "C.OnCreate", "CreateDevice", "A.OnDeviceCreate",
                                         "B.OnDeviceCreate", "C.OnDeviceCreate", "A.OnDeviceRestore",
                                         "B.OnDeviceRestore", "C.OnDeviceRestore", "C.OnDeviceLost", "B.OnDeviceLost",
                                         "A.OnDeviceLost", "C.OnDeviceDestroy", "B.OnDeviceDestroy",
                                         "A.OnDeviceDestroy", "C.OnDestroy", "B.OnDestroy", "A.OnDestroy"));
  // One idle turn: one update and one draw, presented.
  EXPECT_EQ(std::count(events.begin(), events.end(), "update"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "draw"), 1);
  // Shutdown: the window goes last, then the quit.
  EXPECT_THAT(ws.log, ::testing::IsSupersetOf({"CloseDisplay", "DestroyWindow", "PostQuit(0)"}));
  const auto close = std::find(ws.log.begin(), ws.log.end(), "CloseDisplay");
  const auto destroy = std::find(ws.log.begin(), ws.log.end(), "DestroyWindow");
  EXPECT_LT(close, destroy);
  EXPECT_EQ(ws.log.back(), "PostQuit(0)");
  EXPECT_EQ(frame::GetDevice(), nullptr);
}

TEST_F(FrameworkTest, PresentParametersAskForNoRetraceWaitAndDiscardedDepth) {
  ws.Idle(1);
  Run();
  EXPECT_EQ(parameters.BackBufferWidth, 800u);
  EXPECT_EQ(parameters.BackBufferHeight, 600u);
  EXPECT_EQ(parameters.BackBufferFormat, gfx::D3DFMT_A8R8G8B8);
  EXPECT_EQ(parameters.BackBufferCount, 2u);
  EXPECT_EQ(parameters.Windowed, 1);
  EXPECT_EQ(parameters.EnableAutoDepthStencil, 1);
  EXPECT_EQ(parameters.AutoDepthStencilFormat, gfx::D3DFMT_D16);
  EXPECT_EQ(parameters.Flags, gfx::D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL);
  EXPECT_EQ(parameters.FullScreen_RefreshRateInHz, 0u);
  EXPECT_EQ(parameters.PresentationInterval, gfx::D3DPRESENT_INTERVAL_IMMEDIATE);
  EXPECT_THAT(behaviours, ElementsAre(gfx::D3DCREATE_HARDWARE_VERTEXPROCESSING));
  // The window: client size of the mode, the minimum client size as the tracking limit.
  EXPECT_THAT(ws.log, ::testing::Contains("CreateWindow(QEM Viewer,800,600,windowed)"));
  EXPECT_EQ(ws.style.minWidth, 320);
  EXPECT_EQ(ws.style.minHeight, 240);
  EXPECT_EQ(ws.style.depthBits, 16);
  EXPECT_TRUE(ws.style.resizable);
}

struct StartFailure {
  const char* what;
  int expected;
  const char* lastLine;  // the newest trace line ends with this
  std::vector<std::string> hooks;
};

void PrintTo(const StartFailure& f, std::ostream* os) { *os << f.what; }

class FrameworkStartFailureTest : public FrameworkTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(FrameworkStartFailureTest, ReturnsItsCodeAndUndoesExactlyWhatRan) {
  const StartFailure& f = GetParam();
  const std::string what = f.what;
  RegisterThree();
  if (what == "display") ws.failOpenDisplay = true;
  if (what == "class") ws.failRegisterClass = true;
  if (what == "window") ws.failCreateWindow = true;
  if (what == "B.OnCreate") b.failIn = "OnCreate";
  if (what == "device") failDeviceCreation = true;
  if (what == "stateblock") deviceFailures.push_back({"CreateStateBlock", E_OUTOFMEMORY});
  if (what == "B.OnDeviceCreate") b.failIn = "OnDeviceCreate";
  if (what == "B.OnDeviceRestore") b.failIn = "OnDeviceRestore";
  if (what == "throw") b.throwIn = "OnDeviceCreate";

  EXPECT_EQ(Run(), f.expected);
  ASSERT_TRUE(ErrorPending());
  EXPECT_THAT(Trace().back(), EndsWith(f.lastLine));
  EXPECT_THAT(Hooks(events), ::testing::ElementsAreArray(f.hooks));
  if (f.expected != -11) {
    EXPECT_EQ(frame::GetDevice(), nullptr);
    EXPECT_FALSE(ws.displayOpen);
    EXPECT_FALSE(ws.classRegistered);
  }
}

const std::string kStage1 = "Nie można zainicjalizować programu (etap 1/3)"_cp;
const std::string kStage2 = "Nie można zainicjalizować programu (etap 2/3)"_cp;
const std::string kStage3 = "Nie można zainicjalizować programu (etap 3/3)"_cp;
const std::string kNoGraphics = "Nie można zainicjalizować OpenGL (wymaga conajmniej OpenGL 3.3)"_cp;
const std::string kNoClass = "Nie można zarejestrować klasy okna"_cp;
const std::string kNoWindow = "Nie można utworzyć okna"_cp;
const std::string kNoDevice = "Nie można utworzyć urządzenia"_cp;
const std::string kNoDefaultState = "Nie można zapamiętać domyślnego stanu urządzenia"_cp;
const std::string kUnknown = "Nieznany błąd (najprawdopodobniej błąd ochrony)"_cp;

INSTANTIATE_TEST_SUITE_P(
    Steps, FrameworkStartFailureTest,
    ::testing::Values(
        StartFailure{"display", -1, kNoGraphics.c_str(), {}}, StartFailure{"class", -2, kNoClass.c_str(), {}},
        StartFailure{"window", -3, kNoWindow.c_str(), {}},
        // B fails: C never created; B and A destroyed, in reverse.
        StartFailure{"B.OnCreate", -4, kStage1.c_str(), {"A.OnCreate", "B.OnCreate", "B.OnDestroy", "A.OnDestroy"}},
        StartFailure{"device",
                     -5,
                     kNoDevice.c_str(),
                     {"A.OnCreate", "B.OnCreate", "C.OnCreate", "C.OnDestroy", "B.OnDestroy", "A.OnDestroy"}},
        StartFailure{
            "stateblock",
            -12,
            kNoDefaultState.c_str(),
            {"A.OnCreate", "B.OnCreate", "C.OnCreate", "CreateDevice", "C.OnDestroy", "B.OnDestroy", "A.OnDestroy"}},
        StartFailure{"B.OnDeviceCreate",
                     -6,
                     kStage2.c_str(),
                     {"A.OnCreate", "B.OnCreate", "C.OnCreate", "CreateDevice", "A.OnDeviceCreate", "B.OnDeviceCreate",
                      "B.OnDeviceDestroy", "A.OnDeviceDestroy", "C.OnDestroy", "B.OnDestroy", "A.OnDestroy"}},
        StartFailure{"B.OnDeviceRestore",
                     -7,
                     kStage3.c_str(),
                     {"A.OnCreate", "B.OnCreate", "C.OnCreate", "CreateDevice", "A.OnDeviceCreate", "B.OnDeviceCreate",
                      "C.OnDeviceCreate", "A.OnDeviceRestore", "B.OnDeviceRestore", "B.OnDeviceLost", "A.OnDeviceLost",
                      "C.OnDeviceDestroy", "B.OnDeviceDestroy", "A.OnDeviceDestroy", "C.OnDestroy", "B.OnDestroy",
                      "A.OnDestroy"}},
        // An exception ends the run at once, without clean-up.
        StartFailure{
            "throw",
            -11,
            kUnknown.c_str(),
            {"A.OnCreate", "B.OnCreate", "C.OnCreate", "CreateDevice", "A.OnDeviceCreate", "B.OnDeviceCreate"}}),
    [](const auto& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

TEST_F(FrameworkTest, FailingOnCreateLeavesTheObjectsLinesBeforeTheStageLine) {
  RegisterThree();
  b.failIn = "OnCreate";
  ASSERT_EQ(Run(), -4);
  ASSERT_EQ(Trace().size(), 2u);
  EXPECT_EQ(Trace()[0], "B failed");
  EXPECT_THAT(Trace()[1], ::testing::StartsWith("[Framework,"));
}

TEST_F(FrameworkTest, ChangeDisplayModeRecreatesTheDeviceWithEveryHookInOrder) {
  RegisterThree();
  ws.Idle(1)
      .Do([this] {
        events.push_back("--change");
        frame::ChangeDisplayMode(frame::DisplayMode{1024, 768, 75, false});
        events.push_back("--changed");
      })
      .Idle(1);
  EXPECT_EQ(Run(), 0);
  auto during = Hooks(After("--change"));
  during.resize(std::find(during.begin(), during.end(), "--changed") - during.begin());
  EXPECT_THAT(during, ElementsAre("C.OnDeviceLost", "B.OnDeviceLost", "A.OnDeviceLost", "C.OnDeviceDestroy",
                                  "B.OnDeviceDestroy", "A.OnDeviceDestroy", "CreateDevice", "A.OnDeviceCreate",
                                  "B.OnDeviceCreate", "C.OnDeviceCreate", "A.OnDeviceRestore", "B.OnDeviceRestore",
                                  "C.OnDeviceRestore"));
  EXPECT_EQ(parameters.BackBufferWidth, 1024u);
  EXPECT_EQ(parameters.BackBufferHeight, 768u);
  EXPECT_THAT(ws.Requests("PlaceTopLeft"), ElementsAre("PlaceTopLeft(1024,768)"));
  EXPECT_EQ(frame::GetDisplayMode().width, 1024);
  // The frame after the change reports no elapsed time for the gap.
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[1].elapsed, 0.0f);
  EXPECT_EQ(frame::test_seam::SuspendCount(), 0);
}

TEST_F(FrameworkTest, ChangeDisplayModeIgnoresTheRefreshRateOnlyWhenWindowed) {
  RegisterThree();
  ws.Do([this] {
    frame::ChangeDisplayMode(frame::DisplayMode{800, 600, 85, false});
    events.push_back("--windowed done");
    frame::ChangeDisplayMode(frame::DisplayMode{800, 600, 60, true});
    events.push_back("--to full screen");
    frame::ChangeDisplayMode(frame::DisplayMode{800, 600, 85, true});
    events.push_back("--refresh changed");
  });
  Run();
  EXPECT_EQ(std::count(events.begin(), events.end(), "CreateDevice"), 3);
  // Nothing between the start-up and the first marker.
  EXPECT_EQ(*(std::find(events.begin(), events.end(), "--windowed done") - 1), "C.OnDeviceRestore");
  EXPECT_EQ(parameters.FullScreen_RefreshRateInHz, 85u);
  EXPECT_EQ(parameters.Windowed, 0);
  EXPECT_THAT(ws.Requests("SetStyle"), ElementsAre("SetStyle(full)", "SetStyle(full)"));
  EXPECT_FALSE(ws.style.resizable);
}

// Hardware vertex processing first, then mixed, then software: the first device made is
// the one used, and when none can be made all three were asked for, in that order.
TEST_F(FrameworkTest, DeviceCreationTriesHardwareThenMixedThenSoftware) {
  using gfx::D3DCREATE_HARDWARE_VERTEXPROCESSING, gfx::D3DCREATE_MIXED_VERTEXPROCESSING,
      gfx::D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  struct Case {
    int failing;
    std::vector<gfx::DWORD> asked;
    int result;
  };
  const Case cases[] = {
      {1, {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DCREATE_MIXED_VERTEXPROCESSING}, 0},
      {2,
       {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DCREATE_MIXED_VERTEXPROCESSING, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
       0},
      {3,
       {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DCREATE_MIXED_VERTEXPROCESSING, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
       -5},
  };
  for (const Case& c : cases) {
    frame::test_seam::ResetState();
    frame::test_seam::SetClock([this] { return clock; });
    GlobalErrorTrace().Clear();
    behaviours.clear();
    failingBehaviours = c.failing;
    frame::FakeWindowSystem script;
    script.Idle(1);
    frame::Platform platform;
    platform.windowSystem = &script;
    platform.createDevice = [this](frame::WindowSystem&, const gfx::D3DPRESENT_PARAMETERS&, gfx::DWORD behaviour,
                                   std::unique_ptr<gfx::Device>& out) -> HRESULT {
      behaviours.push_back(behaviour);
      if (failingBehaviours-- > 0) return D3DERR_NOTAVAILABLE;
      out = std::make_unique<gfx::RecordingDevice>();
      return D3D_OK;
    };
    frame::SetPlatform(platform);
    EXPECT_EQ(frame::Run(settings, mode), c.result) << c.failing;
    EXPECT_EQ(behaviours, c.asked) << c.failing;
    EXPECT_EQ(ErrorPending(), c.result != 0) << c.failing;
  }
}

struct ModeChangeFailure {
  const char* what;
  std::vector<std::string> lastLines;  // newest last
};

void PrintTo(const ModeChangeFailure& f, std::ostream* os) { *os << f.what; }

class FrameworkModeChangeFailureTest : public FrameworkTest, public ::testing::WithParamInterface<ModeChangeFailure> {};

// Each step of a display-mode change that fails records its lines and closes the window;
// the shutdown that follows undoes exactly what was made again.
TEST_P(FrameworkModeChangeFailureTest, RecordsItsLinesAndClosesTheWindow) {
  const std::string what = GetParam().what;
  RegisterThree();
  ws.Idle(1)
      .Do([this, what] {
        if (what == "device") failDeviceCreation = true;
        if (what == "state block") deviceFailures.push_back({"CreateStateBlock", E_OUTOFMEMORY});
        if (what == "B.OnDeviceCreate") b.failIn = "OnDeviceCreate";
        if (what == "B.OnDeviceRestore") b.failIn = "OnDeviceRestore";
        events.push_back("--change");
        frame::ChangeDisplayMode(frame::DisplayMode{1024, 768, 60, false});
        events.push_back("--changed");
      })
      .Idle(3);
  EXPECT_EQ(Run(), 0);
  ASSERT_TRUE(ErrorPending());
  const auto& lines = Trace();
  const auto& expected = GetParam().lastLines;
  ASSERT_GE(lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_THAT(lines[lines.size() - expected.size() + i], EndsWith(expected[i]));
  }
  EXPECT_THAT(ws.Requests("PostClose"), ::testing::SizeIs(1));
  EXPECT_THAT(ws.Requests("ScriptEnded"), ::testing::IsEmpty());
  // Nothing drawn after the failed change.
  auto after = After("--changed");
  EXPECT_EQ(std::count(after.begin(), after.end(), "draw"), 0);
  EXPECT_EQ(std::count(after.begin(), after.end(), "update"), 0);
  // Every object made again was released again, and the run ended with the normal shutdown.
  for (const char* name : {"A", "B", "C"}) {
    const std::string n = name;
    EXPECT_EQ(std::count(events.begin(), events.end(), n + ".OnDeviceCreate"),
              std::count(events.begin(), events.end(), n + ".OnDeviceDestroy"))
        << name;
    EXPECT_EQ(std::count(events.begin(), events.end(), n + ".OnDeviceRestore"),
              std::count(events.begin(), events.end(), n + ".OnDeviceLost"))
        << name;
  }
  EXPECT_EQ(events.back(), "A.OnDestroy");
  EXPECT_EQ(frame::GetDevice(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Steps, FrameworkModeChangeFailureTest,
                         ::testing::Values(ModeChangeFailure{"device", {"Nie można utworzyć urządzenia"_cp}},
                                           ModeChangeFailure{"state block",
                                                             {"Nie można zapamiętać domyślnego stanu urządzenia"_cp}},
                                           ModeChangeFailure{"B.OnDeviceCreate", {"B failed"}},
                                           ModeChangeFailure{"B.OnDeviceRestore", {"B failed"}}),
                         [](const auto& info) {
                           std::string name = info.param.what;
                           std::replace(name.begin(), name.end(), '.', '_');
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

// A mode without area is refused before anything is released.
TEST_F(FrameworkTest, ChangeDisplayModeRefusesAModeWithoutArea) {
  RegisterThree();
  std::vector<bool> results;
  ws.Idle(1)
      .Do([&] {
        events.push_back("--change");
        for (const auto& m :
             {frame::DisplayMode{0, 0, 60, false}, frame::DisplayMode{0, 600, 60, false},
              frame::DisplayMode{800, -1, 60, true}, frame::DisplayMode{-2147483647 - 1, 600, 60, true}}) {
          results.push_back(frame::ChangeDisplayMode(m));
        }
        events.push_back("--changed");
      })
      .Idle(1);
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(results, ElementsAre(false, false, false, false));
  auto during = After("--change");
  EXPECT_EQ(during.front(), "--changed");
  EXPECT_EQ(frame::GetDisplayMode().width, 800);
  EXPECT_EQ(frame::GetDisplayMode().height, 600);
  EXPECT_FALSE(ErrorPending());
  EXPECT_THAT(ws.Requests("SetStyle"), ::testing::IsEmpty());
  EXPECT_THAT(ws.Requests("PlaceTopLeft"), ::testing::IsEmpty());
}

TEST_F(FrameworkTest, ClientSizeChangeResetsTheDeviceAndCreatesNothing) {
  RegisterThree();
  std::vector<std::string> resets;
  ws.Idle(1)
      .Do([this] { events.push_back("--resize"); })
      .UserResize(1024, 700)
      .Do([&] { resets = device->Texts("Reset"); })
      .Idle(1);
  EXPECT_EQ(Run(), 0);
  auto after = Hooks(After("--resize"));
  after.resize(6);
  EXPECT_THAT(after, ElementsAre("C.OnDeviceLost", "B.OnDeviceLost", "A.OnDeviceLost", "A.OnDeviceRestore",
                                 "B.OnDeviceRestore", "C.OnDeviceRestore"));
  EXPECT_EQ(std::count(events.begin(), events.end(), "CreateDevice"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "A.OnDeviceCreate"), 1);
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_EQ(parameters.BackBufferWidth, 800u);  // creation's; the reset carried the new size
  EXPECT_EQ(frame::GetDisplayMode().width, 1024);
  EXPECT_EQ(frame::GetDisplayMode().height, 700);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[1].elapsed, 0.0f);
}

TEST_F(FrameworkTest, UnchangedClientSizeAfterAMoveResetsNothing) {
  RegisterThree();
  ws.Idle(1).Do([this] { events.push_back("--move"); }).Send(frame::WM_ENTERSIZEMOVE).Send(frame::WM_EXITSIZEMOVE);
  Run();
  auto after = Hooks(After("--move"));
  EXPECT_EQ(after.front(), "C.OnDeviceLost");  // only the shutdown's
  EXPECT_EQ(std::count(events.begin(), events.end(), "A.OnDeviceRestore"), 1);
}

TEST_F(FrameworkTest, FrameClockStartsAtZeroAndMeasuresFpsOverJustOverASecond) {
  ws.Idle(8);
  Run();
  ASSERT_EQ(steps.size(), 8u);
  EXPECT_EQ(steps[0].time, 0.0f);
  EXPECT_EQ(steps[0].elapsed, 0.0f);
  EXPECT_EQ(steps[1].elapsed, 0.25f);
  EXPECT_EQ(steps[1].time, 0.25f);
  // Steps at 0, .25, .5, .75, 1.0: none is past one second yet.
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(steps[i].fps, 0.0f) << i;
  // At 1.25 the window closes with 6 frames over 1.25 s.
  EXPECT_FLOAT_EQ(steps[5].fps, 6 / 1.25f);
  EXPECT_FLOAT_EQ(steps[7].fps, 6 / 1.25f);
}

// Seconds since boot after ten days (864 000 s) leave a float 1/16 s steps: every frame
// would then last 0 or 0.0625 s. The clock takes its start time off before narrowing.
TEST_F(FrameworkTest, FrameClockKeepsFrameStepsAfterDaysOfUptime) {
  clock = 10 * 86400.0 + 0.3;
  tick = 1.0 / 60;
  ws.Idle(6);
  Run();
  ASSERT_EQ(steps.size(), 6u);
  for (std::size_t i = 1; i < steps.size(); ++i) {
    EXPECT_NEAR(steps[i].elapsed, 1.0 / 60, 1e-6) << i;
    EXPECT_NEAR(steps[i].time, i / 60.0, 1e-6) << i;
  }
}

TEST_F(FrameworkTest, MinimisingStopsUpdateAndDrawUntilRestoredWithElapsedZero) {
  ws.Idle(2)
      .Do([this] { events.push_back("--minimise"); })
      .Send(frame::WM_SIZE, frame::SIZE_MINIMIZED, 0)
      .Idle(5)
      .Do([this] {
        events.push_back("--restore");
        clock += 30.0f;
      })
      .Send(frame::WM_SIZE, frame::SIZE_RESTORED, frame::MakeLParam(800, 600))
      .Idle(1);
  Run();
  auto paused = After("--minimise");
  paused.resize(std::find(paused.begin(), paused.end(), "--restore") - paused.begin());
  EXPECT_TRUE(paused.empty());
  EXPECT_THAT(After("--restore"), ElementsAre("update", "draw"));
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[2].elapsed, 0.0f);
  EXPECT_GT(steps[2].time, 30.0f);  // time keeps the wall clock
  EXPECT_TRUE(ws.timers.empty());
}

TEST_F(FrameworkTest, PausedTimerKeepsTheClockRunningWhileMinimised) {
  settings.pausedTimerInterval = 0.5f;
  ws.Idle(1).Send(frame::WM_SIZE, frame::SIZE_MINIMIZED, 0).Idle(2).Send(frame::WM_SIZE, frame::SIZE_RESTORED, 0);
  Run();
  EXPECT_THAT(ws.Requests("SetTimer"), ElementsAre("SetTimer(1,500)"));
  EXPECT_THAT(ws.Requests("KillTimer"), ElementsAre("KillTimer(1)"));
  // One step before, two timer steps while minimised (no draws).
  EXPECT_EQ(std::count(events.begin(), events.end(), "update"), 3);
  EXPECT_EQ(std::count(events.begin(), events.end(), "draw"), 1);
}

TEST_F(FrameworkTest, PausedLoopModesOneAndTwoKeepUpdatingWithoutDrawing) {
  // Mode 1: one update per message while paused; mode 2: one per idle turn.
  for (int loopMode : {1, 2}) {
    frame::test_seam::ResetState();
    frame::test_seam::SetClock([this] { return clock; });
    events.clear();
    frame::FakeWindowSystem script;
    settings.pausedLoopMode = loopMode;
    script.Send(frame::WM_SIZE, frame::SIZE_MINIMIZED, 0)
        .Do([this] { events.push_back("--paused"); })
        .Idle(3)
        .Send(frame::WM_CHAR, 'a')
        .Send(frame::WM_CHAR, 'b')
        .Do([this] { events.push_back("--end"); });
    frame::Platform platform;
    platform.windowSystem = &script;
    platform.createDevice = [](frame::WindowSystem&, const gfx::D3DPRESENT_PARAMETERS&, gfx::DWORD,
                               std::unique_ptr<gfx::Device>& out) -> HRESULT {
      out = std::make_unique<gfx::RecordingDevice>();
      return D3D_OK;
    };
    frame::SetPlatform(platform);
    ASSERT_EQ(frame::Run(settings, mode), 0);
    auto paused = After("--paused");
    paused.resize(std::find(paused.begin(), paused.end(), "--end") - paused.begin());
    const std::vector<std::string> expected = loopMode == 1 ? std::vector<std::string>{"update", "update"}
                                                            : std::vector<std::string>{"update", "update", "update"};
    EXPECT_EQ(paused, expected) << "mode " << loopMode;
  }
}

TEST_F(FrameworkTest, LostDeviceIsResetWhenItAsksForIt) {
  RegisterThree();
  deviceFailures = {{"Present", D3DERR_DEVICELOST}, {"TestCooperativeLevel", D3DERR_DEVICENOTRESET}};
  ws.Idle(1)
      .Do([this] {
        EXPECT_TRUE(frame::test_seam::IsPaused());
        events.push_back("--restore");
      })
      .Send(frame::WM_SIZE, frame::SIZE_RESTORED, 0)
      .Idle(1);
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(ErrorPending());
  auto after = Hooks(After("--restore"));
  after.resize(6);
  EXPECT_THAT(after, ElementsAre("C.OnDeviceLost", "B.OnDeviceLost", "A.OnDeviceLost", "A.OnDeviceRestore",
                                 "B.OnDeviceRestore", "C.OnDeviceRestore"));
  // Drawn again after the reset.
  EXPECT_EQ(std::count(events.begin(), events.end(), "draw"), 2);
}

// While TestCooperativeLevel says the device is still lost, nothing is drawn and nothing
// reset; once it says the device is back (D3D_OK), drawing resumes on the same resources.
TEST_F(FrameworkTest, LostDeviceWaitsWhileTheTestSaysLostAndResumesWithoutAReset) {
  RegisterThree();
  frame::Register(&counter);
  deviceFailures = {{"Present", D3DERR_DEVICELOST},
                    {"TestCooperativeLevel", D3DERR_DEVICELOST},
                    {"TestCooperativeLevel", D3DERR_DEVICELOST}};
  ws.Idle(1)
      .Send(frame::WM_SIZE, frame::SIZE_RESTORED, 0)
      .Do([this] { events.push_back("--lost"); })
      .Idle(2)
      .Do([this] {
        events.push_back("--back");
        EXPECT_EQ(device->Calls("TestCooperativeLevel").size(), 2u);
      })
      .Idle(2);
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(ErrorPending());
  auto lost = After("--lost");
  lost.resize(std::find(lost.begin(), lost.end(), "--back") - lost.begin());
  EXPECT_THAT(lost, ElementsAre("update", "update"));  // no draw while lost
  EXPECT_THAT(Hooks(After("--back")),
              ElementsAre("C.OnDeviceLost", "B.OnDeviceLost", "A.OnDeviceLost", "C.OnDeviceDestroy",
                          "B.OnDeviceDestroy", "A.OnDeviceDestroy", "C.OnDestroy", "B.OnDestroy", "A.OnDestroy"));
  EXPECT_EQ(std::count(events.begin(), events.end(), "draw"), 3);
  EXPECT_EQ(counter.presents, 3);  // the lost one and the two after
}

// The paused loop's timer steps the clock for its own id only, and not in loop mode 1,
// which steps once per message already; the steps carry the time that passed.
TEST_F(FrameworkTest, PausedTimerStepsTheClockForItsOwnIdOnly) {
  settings.pausedTimerInterval = 0.25f;
  ws.Idle(1)
      .Send(frame::WM_SIZE, frame::SIZE_MINIMIZED, 0)
      .Do([this] { events.push_back("--paused"); })
      .Send(frame::WM_TIMER, 2)
      .Send(frame::WM_TIMER, 1)
      .Send(frame::WM_TIMER, 1);
  Run();
  EXPECT_THAT(After("--paused"), ElementsAre("update", "update"));
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[1].elapsed, 0.25f);
  EXPECT_EQ(steps[2].time, 0.5f);

  frame::test_seam::ResetState();
  frame::test_seam::SetClock([this] { return clock; });
  events.clear();
  frame::FakeWindowSystem script;
  settings.pausedLoopMode = 1;
  script.Send(frame::WM_SIZE, frame::SIZE_MINIMIZED, 0)
      .Do([this] { events.push_back("--paused"); })
      .Send(frame::WM_TIMER, 1)
      .Do([this] { events.push_back("--end"); });
  frame::Platform platform;
  platform.windowSystem = &script;
  platform.createDevice = [](frame::WindowSystem&, const gfx::D3DPRESENT_PARAMETERS&, gfx::DWORD,
                             std::unique_ptr<gfx::Device>& out) -> HRESULT {
    out = std::make_unique<gfx::RecordingDevice>();
    return D3D_OK;
  };
  frame::SetPlatform(platform);
  frame::Run(settings, mode);
  auto paused = After("--paused");
  paused.resize(std::find(paused.begin(), paused.end(), "--end") - paused.begin());
  EXPECT_THAT(paused, ElementsAre("update"));  // the message's own step only
}

// With the cursor captured, losing the focus (or entering the move/size loop) shows the
// system cursor, left where capture pinned it; coming back hides it and pins it to the
// centre again.
TEST_F(FrameworkTest, CursorAndCaptureFollowActivation) {
  std::vector<std::string> log;
  auto mark = [&](const char* name) {
    return [&, name] {
      log.push_back(name);
      ws.log.clear();
    };
  };
  auto take = [&] {
    for (const auto& line : ws.log) {
      if (line.rfind("ShowCursor", 0) == 0 || line.rfind("SetCursorPos", 0) == 0) log.push_back(line);
    }
    ws.log.clear();
  };
  ws.Send(frame::WM_ACTIVATE, frame::WA_ACTIVE)
      .Do([&] {
        input::SetCapture(true);
        ws.log.clear();
      })
      .Do(mark("--inactive"))
      .Send(frame::WM_ACTIVATE, frame::WA_INACTIVE)
      .Do(take)
      .Do(mark("--active"))
      .Send(frame::WM_ACTIVATE, frame::WA_ACTIVE)
      .Do(take)
      .Do(mark("--size loop"))
      .Send(frame::WM_ENTERSIZEMOVE)
      .Do(take)
      .Do(mark("--size loop ends"))
      .Send(frame::WM_EXITSIZEMOVE)
      .Do(take)
      .Do([&] { input::SetCapture(false); });
  Run();
  // The fake's window rectangle is (96, 30)-(904, 654): centre (500, 342) on screen.
  EXPECT_THAT(log, ElementsAre("--inactive", "ShowCursor(1) -> 0", "--active", "SetCursorPos(500,342)",
                               "ShowCursor(0) -> -1", "--size loop", "ShowCursor(1) -> 0", "--size loop ends",
                               "SetCursorPos(500,342)", "ShowCursor(0) -> -1"));
}

struct RunFailure {
  const char* what;
  std::vector<std::string> lastLines;  // newest last
};

void PrintTo(const RunFailure& f, std::ostream* os) { *os << f.what; }

class FrameworkRunFailureTest : public FrameworkTest, public ::testing::WithParamInterface<RunFailure> {};

TEST_P(FrameworkRunFailureTest, RecordsItsLinesAndClosesTheWindow) {
  const std::string what = GetParam().what;
  RegisterThree();
  if (what == "update") failUpdate = true;
  if (what == "draw") failDraw = true;
  if (what == "present") deviceFailures.push_back({"Present", D3DERR_DRIVERINTERNALERROR});
  if (what == "cooperative") {
    deviceFailures = {{"Present", D3DERR_DEVICELOST}, {"TestCooperativeLevel", E_FAIL}};
    ws.Idle(1).Send(frame::WM_SIZE, frame::SIZE_RESTORED, 0);
  }
  if (what == "reset") {
    ws.Idle(1).Do([this] { device->FailCall("Reset", D3DERR_INVALIDCALL); }).UserResize(640, 480);
  }
  if (what == "reset state block") {
    ws.Idle(1).Do([this] { device->FailCall("CreateStateBlock", E_OUTOFMEMORY); }).UserResize(640, 480);
  }
  if (what == "restore") {
    ws.Idle(1).Do([this] { b.failIn = "OnDeviceRestore"; }).UserResize(640, 480);
  }
  frame::Register(&counter);
  ws.Idle(3);
  EXPECT_EQ(Run(), 0);
  ASSERT_TRUE(ErrorPending());
  const auto& lines = Trace();
  const auto& expected = GetParam().lastLines;
  ASSERT_GE(lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_THAT(lines[lines.size() - expected.size() + i], EndsWith(expected[i]));
  }
  // A failed update is not followed by a draw, a failed draw not by a present.
  if (what == "update") {
    EXPECT_EQ(std::count(events.begin(), events.end(), "draw"), 0);
  }
  if (what == "draw") {
    EXPECT_EQ(counter.presents, 0);
  }
  // The close ran the normal shutdown.
  EXPECT_EQ(events.back(), "A.OnDestroy");
  EXPECT_THAT(ws.Requests("PostClose"), ::testing::Not(::testing::IsEmpty()));
  EXPECT_THAT(ws.Requests("ScriptEnded"), ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FrameworkRunFailureTest,
    ::testing::Values(RunFailure{"update", {"update failed", "Błąd podczas działania programu (obliczenia)"_cp}},
                      RunFailure{"draw", {"draw failed", "Błąd podczas działania programu (rysowanie)"_cp}},
                      RunFailure{"present",
                                 {"Nie można wyświetlić ekranu"_cp, "Błąd podczas działania programu (rysowanie)"_cp}},
                      // The failed test closes the window; the draw that follows still runs and adds its line.
                      RunFailure{"cooperative",
                                 {"Błąd podczas testowania poziomu kooperatywności urządzenia"_cp,
                                  "Błąd podczas działania programu (rysowanie)"_cp}},
                      RunFailure{"reset", {"Nie można zresetować urządzenia"_cp}},
                      RunFailure{"reset state block", {"Nie można zapamiętać domyślnego stanu urządzenia"_cp}},
                      RunFailure{"restore", {"B failed", "Nie można przywrócić urządzenia po zresetowaniu"_cp}}),
    [](const auto& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST_F(FrameworkTest, ActivationCountsOnceForRepeatedActivateAndBalancesSizeMoveLoops) {
  std::vector<bool> active;
  auto note = [&] { active.push_back(frame::IsActive()); };
  ws.Do(note)
      .Send(frame::WM_ACTIVATE, frame::WA_ACTIVE)
      .Send(frame::WM_ACTIVATE, frame::WA_ACTIVE)  // already active: no second count
      .Do(note)
      .Send(frame::WM_ENTERMENULOOP)
      .Do(note)
      .Send(frame::WM_EXITMENULOOP)
      .Do(note)
      .Send(frame::WM_ACTIVATE, frame::WA_INACTIVE)
      .Do(note)
      .Send(frame::WM_ACTIVATE, frame::WA_ACTIVE)
      .Do(note);
  Run();
  EXPECT_THAT(active, ElementsAre(false, true, false, true, false, true));
}

TEST_F(FrameworkTest, WindowProcedureEndsOnlyItsOwnMessages) {
  std::vector<std::intptr_t> results;
  auto call = [&](unsigned m, std::uintptr_t w) {
    return [&results, m, w] { results.push_back(frame::WindowProc(frame::Message{m, w, 0})); };
  };
  ws.Send(frame::WM_KEYDOWN, frame::VK_ESCAPE)  // escapeCloses is false: nothing closes
      .Send(frame::WM_CHAR, 'x')
      .Send(frame::WM_LBUTTONDOWN)
      .Do([&] { results.push_back(ws.captured ? 1 : 0); })
      .Send(frame::WM_LBUTTONUP)
      .Do(call(frame::WM_POWERBROADCAST, frame::PBT_APMQUERYSUSPEND))
      .Do(call(frame::WM_SYSCOMMAND, frame::SC_KEYMENU))  // windowed: goes to the handler
      .Do(call(frame::WM_NCHITTEST, 0))
      .Do([] {
        frame::ChangeDisplayMode(frame::DisplayMode{800, 600, 60, true});
      })
      .Do(call(frame::WM_SYSCOMMAND, frame::SC_KEYMENU))  // full screen: refused
      .Do(call(frame::WM_SYSCOMMAND, frame::SC_MOVE))
      .Do(call(frame::WM_SYSCOMMAND, frame::SC_MOVE | 2))  // compared whole
      .Do(call(frame::WM_NCHITTEST, 0));
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(results, ElementsAre(1, frame::BROADCAST_QUERY_DENY, 0, 0, 1, 1, 0, frame::HTCLIENT));
  EXPECT_THAT(ws.Requests("PostClose"), ::testing::IsEmpty());
  EXPECT_THAT(ws.Requests("ReleaseCapture"), ::testing::SizeIs(1));
  // The handler saw the messages the framework does not end, WM_CLOSE included.
  EXPECT_THAT(handled,
              ::testing::IsSupersetOf({frame::WM_KEYDOWN, frame::WM_CHAR, frame::WM_LBUTTONDOWN, frame::WM_CLOSE}));
  EXPECT_THAT(handled, ::testing::Not(::testing::Contains(frame::WM_POWERBROADCAST)));
}

TEST_F(FrameworkTest, EscapeClosesOnlyWhenAskedTo) {
  settings.escapeCloses = true;
  ws.Send(frame::WM_KEYDOWN, frame::VK_ESCAPE).Idle(5);
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(ws.Requests("PostClose"), ::testing::SizeIs(1));
  EXPECT_THAT(ws.Requests("ScriptEnded"), ::testing::IsEmpty());
}

TEST_F(FrameworkTest, HiddenCursorSettingHidesAtStartAndShowsAtShutdown) {
  settings.cursorWindowed = false;
  Run();
  EXPECT_THAT(ws.Requests("ShowCursor"), ElementsAre("ShowCursor(0) -> -1", "ShowCursor(1) -> 0"));
}

TEST_F(FrameworkTest, ModeEnumerationGivesFullScreenModesThenStops) {
  frame::Platform platform;
  platform.windowSystem = &ws;
  frame::SetPlatform(platform);
  ws.modes = {{640, 480, 60, false}, {1024, 768, 75, false}};
  ASSERT_EQ(frame::BeginModeEnumeration(), 2);
  frame::DisplayMode m;
  ASSERT_TRUE(frame::NextMode(m));
  EXPECT_EQ(m.width, 640);
  EXPECT_TRUE(m.fullScreen);
  ASSERT_TRUE(frame::NextMode(m));
  EXPECT_EQ(m.refreshRate, 75);
  EXPECT_TRUE(m.fullScreen);
  frame::DisplayMode untouched{1, 2, 3, false};
  EXPECT_FALSE(frame::NextMode(untouched));
  EXPECT_EQ(untouched.width, 1);
  EXPECT_FALSE(untouched.fullScreen);
}

}  // namespace
