// The program's entry: builds the application and the one window over the
// Wine prefix, then runs the event loop. Nothing is read or opened before the
// button is pressed.
#include <QApplication>
#include <QString>

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <typeinfo>

#include "app/MainUnit.h"
#include "app/app_texts.h"
#include "app/demo_driver.h"
#include "app/qt_ui_services.h"
#include "app/wine_backend.h"
#include "platform/wine_prefix.h"

namespace {

// Raised when no window can be shown at all.
class StartupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string g_module_name = "fiscal-rates-numeric";
bool g_starting = true;
QtMessageHandler g_default_handler = nullptr;

// Returns the file name of the running executable.
std::string ModuleName(const char* argv0) {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) return executable.filename().string();
  if (argv0 != nullptr) return std::filesystem::path(argv0).filename().string();
  return g_module_name;
}

// Returns the error's class name as written in the source ("jet::Unsupported").
std::string ClassName(const std::exception& error) {
  const char* mangled = typeid(error).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled != nullptr ? demangled : mangled;
  std::free(demangled);
  const std::string anonymous = "(anonymous namespace)::";
  if (name.compare(0, anonymous.size(), anonymous) == 0) name.erase(0, anonymous.size());
  return name;
}

std::string StartupReport(const std::exception& error) {
  return app::StartupReportText(ClassName(error), g_module_name, &error, error.what());
}

// Turns Qt's fatal failure to open its window system during start-up into
// the start-up report on standard error and exit code 1, instead of an abort.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && g_starting) {
    const char* display = std::getenv("DISPLAY");
    const StartupError error(std::string("No window can be shown: the display") +
                             (display != nullptr ? std::string(" '") + display + "'" : std::string()) +
                             " could not be opened (" + message.section(QLatin1Char('.'), 0, 0).toStdString() +
                             ")");
    std::fputs(StartupReport(error).c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(1);
  }
  g_default_handler(type, context, message);
}

bool HasDisplay() {
  return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  g_module_name = ModuleName(argc > 0 ? argv[0] : nullptr);
  if (!HasDisplay()) {
    const StartupError error("No window can be shown: no display is set (DISPLAY and WAYLAND_DISPLAY are empty)");
    std::fputs(StartupReport(error).c_str(), stderr);
    return 1;
  }
  g_default_handler = qInstallMessageHandler(StartupMessageHandler);
  QApplication application(argc, argv);
  const QString title = app::ApplicationTitle(QCoreApplication::applicationFilePath());

  std::unique_ptr<app::WineBackend> backend;
  std::unique_ptr<app::TMainForm> MainForm;
  try {
    backend = std::make_unique<app::WineBackend>(platform::WinePrefixPath());
    MainForm = std::make_unique<app::TMainForm>(*backend, title);
    MainForm->show();
  } catch (const std::exception& error) {
    const std::string report = StartupReport(error);
    std::fputs(report.c_str(), stderr);
    app::ShowStartupReport(QString::fromLocal8Bit(report.c_str()));
    return 1;
  }
  g_starting = false;

  const QString shots = qEnvironmentVariable("FRN_DEMO_SHOTS");
  if (!shots.isEmpty()) app::ScheduleDemo(*MainForm, shots);
  const int code = application.exec();
  MainForm.reset();  // closes the connection
  return code;
}
