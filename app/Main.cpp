#include "app/Application.h"

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "app/Commands.h"
#include "app/Console.h"
#include "app/Profiler.h"
#include "config/Config.h"
#include "engine/Engine.h"
#include "engine/Screenshot.h"
#include "framework/Input.h"
#include "gfx/Gfx.h"
#include "gfx/ResMngr.h"

Application g_application;
engine::Engine* g_engine = nullptr;

namespace {

// The move message that follows a re-centring of the captured cursor is the re-centring's
// own echo, not the user's.
bool skipNextMove = false;

// F12 saves a screenshot, with the console shown or not.
constexpr std::uintptr_t kScreenshotKey = frame::VK_F1 + 11;

// The mesh file: the one argument, or the open dialog's choice. kCancelled also when an
// error was recorded.
FileChoice FindFile(const std::vector<std::string>& args, const ProgramServices& services, std::string& path) {
  if (args.size() > 1) {
    ErrorRaise("Za dużo parametrów"_cp, ERROR_FILE_LINE);
    return FileChoice::kCancelled;
  }
  if (args.size() == 1) {
    path = args[0];
    return FileChoice::kChosen;
  }
  path.clear();
  return services.chooseFile ? services.chooseFile(path) : FileChoice::kCancelled;
}

// The fatal end: the report (Errors.log and standard error), then the box, whose text
// also goes to standard error so a run without a display or a watching user leaves it.
// Without a display (boxShown false) standard error is the only place for it.
void ReportFatalEnd(const ProgramServices& services, bool boxShown) {
  const bool logged = !services.writeReport || services.writeReport();
  const std::string text =
      "Wystąpił błąd i program musiał się zakończyć.\n"_cp +
      (logged ? "Szczegóły znajdują się na końcu pliku \""_cp + std::string("Errors.log") + "\"."
              : "Nie można zapisać pliku \"Errors.log\"; szczegóły wypisano na standardowe wyjście błędów."_cp);
  if (services.printError) services.printError(text);
  if (boxShown && services.showError) services.showError(text, "QEM Viewer");
}

frame::Settings ProgramSettings() {
  frame::Settings settings;
  settings.className = "QEM_VIEWER";
  settings.title = "QEM Viewer";
  settings.escapeCloses = false;
  settings.pausedLoopMode = 0;
  settings.pausedTimerInterval = 0.0f;
  settings.depthStencilFormat = gfx::D3DFMT_D16;
  settings.keepDepthStencil = false;
  settings.resizable = true;
  settings.minWidth = 320;
  settings.minHeight = 240;
  settings.cursorWindowed = true;
  settings.cursorFullScreen = true;
  settings.closeBox = true;
  settings.messageHandler = ApplicationWindowProc;
  settings.update = Update;
  settings.draw = Draw;
  return settings;
}

// Button messages: (button, action) with button 0 left, 1 middle, 2 right and action 0
// down, 1 up, 2 double click; false for any other message.
bool ButtonOf(unsigned message, int& button, int& action) {
  switch (message) {
    case frame::WM_LBUTTONDOWN:
      button = 0;
      action = 0;
      return true;
    case frame::WM_LBUTTONUP:
      button = 0;
      action = 1;
      return true;
    case frame::WM_LBUTTONDBLCLK:
      button = 0;
      action = 2;
      return true;
    case frame::WM_RBUTTONDOWN:
      button = 2;
      action = 0;
      return true;
    case frame::WM_RBUTTONUP:
      button = 2;
      action = 1;
      return true;
    case frame::WM_RBUTTONDBLCLK:
      button = 2;
      action = 2;
      return true;
    case frame::WM_MBUTTONDOWN:
      button = 1;
      action = 0;
      return true;
    case frame::WM_MBUTTONUP:
      button = 1;
      action = 1;
      return true;
    case frame::WM_MBUTTONDBLCLK:
      button = 1;
      action = 2;
      return true;
    default:
      return false;
  }
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, const ProgramServices& services) {
  int result = kNotRun;
  std::string path;
  const FileChoice choice = FindFile(args, services, path);
  if (choice == FileChoice::kNoDisplay) {
    if (services.printError) services.printError("Brak ekranu: nie można pokazać okna wyboru pliku"_cp);
    result = kNoDisplay;
  } else if (choice == FileChoice::kChosen) {
    g_config = new Config();
    if (!ErrorPending()) g_console = new Console();
    if (!ErrorPending()) g_engine = new engine::Engine();
    if (!ErrorPending()) {
      engine::SetDocumentPath(path);
      for (frame::FrameObject* object :
           std::initializer_list<frame::FrameObject*>{&gfx::g_lineManager, &gfx::g_rectManager, &gfx::g_spriteManager,
                                                      &gfx::g_fontManager, &g_resMngr, g_engine, &g_application}) {
        frame::Register(object);
      }
      const frame::Settings settings = ProgramSettings();
      std::uint32_t width = 0, height = 0, refreshRate = 0;
      bool fullScreen = false;
      g_config->GetDword("Gfx/Width", width);
      g_config->GetDword("Gfx/Height", height);
      g_config->GetDword("Gfx/RefreshRate", refreshRate);
      g_config->GetBool("Gfx/FullScreen", fullScreen);
      if (ErrorPending()) {
        ErrorAdd("Nie można wczytać konfiguracji trybu wyświetlania"_cp, "", 0);
      } else {
        frame::SetPlatform(services.platform);
        result = frame::Run(settings, frame::DisplayMode{static_cast<int>(width), static_cast<int>(height),
                                                         static_cast<int>(refreshRate), fullScreen});
      }
    }
  }

  if (ErrorPending()) {
    ReportFatalEnd(services, result != kNoDisplay);
    if (result == 0) result = kFatalEnd;
  }

  delete g_engine;
  g_engine = nullptr;
  delete g_console;
  g_console = nullptr;
  delete g_config;
  g_config = nullptr;
  return result;
}

void Application::OnCreate() {
  input::SetCapture(false);
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Application::OnDeviceRestore() {
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Application::Update() {
  input::Poll();
  g_console->Update();
  g_engine->OnUpdate();
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Application::Draw() {
  g_engine->OnDraw();
  // A screenshot holds what the engine drew, never the console.
  engine::SavePendingScreenshot(*frame::GetDevice());
  g_console->Draw();
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Application::OnChar(unsigned char c) {
  if (c == '`') {
    g_console->SetVisible(!g_console->IsVisible());
    return;
  }
  if (g_console->IsVisible()) {
    if (c == '\r') {
      std::string line = g_console->CurrentLine();
      Trim(line);
      if (line.empty()) {
        g_console->ClearInput();
      } else {
        g_console->Submit();  // in the history before the command runs
        ExecuteCommand(line);
      }
    } else {
      g_console->Char(c);
    }
  } else if (g_engine) {
    g_engine->OnChar(c);
  }
}

void Application::ExecuteCommand(const std::string& line) {
  if (engineCommands) {
    ::ExecuteCommand(line, *g_console, engineCommands);
    return;
  }
  ::ExecuteCommand(line, *g_console, [](const std::string& name, tvl::Reader& reader) {
    return g_engine && g_engine->HandleCommand(name, reader);
  });
}

void Update() {
  Profiler::Begin("Update");
  g_application.Update();
  Profiler::End();
}

void Draw() {
  Profiler::Begin("Draw");
  gfx::Device* device = frame::GetDevice();
  HRESULT hr = device->Clear(gfx::D3DCLEAR_TARGET | gfx::D3DCLEAR_ZBUFFER, g_engine->BackgroundColour(), 1.0f, 0);
  if (Failed(hr)) {
    ErrorRaiseDirectX(hr, "Nie można wyczyścić ekranu"_cp, ERROR_FILE_LINE);
  } else {
    hr = device->BeginScene();
    if (Failed(hr)) {
      ErrorRaiseDirectX(hr, "Nie można rozpocząć rysowania"_cp, ERROR_FILE_LINE);
    } else {
      g_application.Draw();
      device->EndScene();
    }
  }
  Profiler::End();
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

std::intptr_t ApplicationWindowProc(frame::WindowSystem* window, unsigned message, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
  int button = 0, action = 0;
  if (message == frame::WM_KEYDOWN && wParam == kScreenshotKey) {
    engine::RequestScreenshot("");
  } else if (message == frame::WM_KEYDOWN) {
    if (g_console && g_console->IsVisible()) g_console->KeyDown(static_cast<int>(wParam));
  } else if (message == frame::WM_CHAR) {
    g_application.OnChar(static_cast<unsigned char>(wParam));
  } else if (message == frame::WM_MOUSEMOVE) {
    if (skipNextMove) {
      skipNextMove = false;
    } else {
      bool recentred = false;
      const frame::Point move = input::DecodeMove(lParam, recentred);
      skipNextMove = recentred;
      if (g_engine) g_engine->OnMouseMove(move.x, move.y);
    }
  } else if (ButtonOf(message, button, action)) {
    const frame::Point position = input::DecodeButton(lParam);
    if (g_engine) g_engine->OnMouseButton(position, button, action);
  } else if (message == frame::WM_MOUSEWHEEL) {
    float amount = 0.0f;
    const frame::Point position = input::DecodeWheel(wParam, lParam, amount);
    if (g_engine) g_engine->OnMouseWheel(position, amount);
  }
  return window ? window->DefaultProc(frame::Message{message, wParam, lParam}) : 0;
}
