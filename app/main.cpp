// Tovix: the movie converter's window. One per user session.
#include "app/CommandLine.h"
#include "app/Controller.h"
#include "app/update/SoftwareUpdater.h"
#include "app/window/Theme.h"
#include "platform/BusName.h"
#include "platform/Desktop.h"
#include "platform/ProcessSignals.h"
#include "platform/SystemLog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <cstdio>

namespace {

constexpr int kClaimAttempts = 100;
constexpr int kClaimIntervalMs = 100;

// Waits up to ten seconds for the application name to come free.
bool claimOnceFree(tovix::ApplicationService& instance) {
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    QThread::msleep(kClaimIntervalMs);
    if (instance.claim()) return true;
  }
  return false;
}

// The helper beside Tovix in the build folder, else where an installation
// puts it: <prefix>/libexec/tovix beside <prefix>/bin.
QString helperProgram() {
  const QString here = QCoreApplication::applicationDirPath();
  const QString beside = here + QStringLiteral("/TovixHelper");
  if (QFileInfo(beside).isExecutable()) return beside;
  return QDir::cleanPath(here + QStringLiteral("/../libexec/tovix/TovixHelper"));
}

// Qt's own warnings (a sound server that is not there, what a window system
// cannot do) are routine for Tovix: the system log, and standard error with
// --verbose. Its critical messages are problems.
void logQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  const QString line = context.category && std::strcmp(context.category, "default") != 0
                           ? QStringLiteral("%1: %2").arg(QLatin1String(context.category), message)
                           : message;
  if (type == QtCriticalMsg || type == QtFatalMsg)
    tovix::systemLog(line);
  else
    tovix::systemNote(line);
}

}  // namespace

int main(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const tovix::CommandLine command = tovix::parseCommandLine(arguments, QDir::currentPath());
  if (command.exitCode) {
    std::fputs(command.output.toLocal8Bit().constData(), *command.exitCode == 0 ? stdout : stderr);
    return *command.exitCode;
  }

  // Without a display Qt would abort with its own message; a chosen platform
  // (offscreen, say) needs none.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fputs("Tovix needs a graphical session (no DISPLAY or WAYLAND_DISPLAY)\n", stderr);
    return 1;
  }
  tovix::process::watchTermination();
  // Standard error is for problems. Qt's media backend prints debugging
  // lines ("listing codecs") and sound-server warnings to the console;
  // --verbose lets them through with Tovix's routine lines.
  if (command.verbose) tovix::setVerboseLog(true);
  if (!tovix::verboseLog() && qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
  qInstallMessageHandler(logQtMessage);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tovix"));
  QApplication::setApplicationVersion(QStringLiteral(TOVIX_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("org.tovix.Tovix"));
  tovix::applyTheme(application, tovix::desktop::prefersLightColors());
  // The look follows the desktop's while Tovix runs.
  tovix::desktop::ColorSchemeWatcher colorScheme;
  QObject::connect(&colorScheme, &tovix::desktop::ColorSchemeWatcher::preferenceChanged, &application,
                   [&application](bool light) { tovix::applyTheme(application, light); });

  tovix::NotificationCenter center;
  if (!center.isConnected()) {
    tovix::systemLog(QStringLiteral("No session bus to reach TovixHelper through, exiting."));
    return 1;
  }
  // The notifications are session-wide: a second Tovix would convert every
  // request twice, so it brings the running window forward and leaves.
  tovix::ApplicationService instance;
  if (!instance.claim()) {
    if (tovix::ApplicationService::activateRunning(command.files)) return 0;
    // The running Tovix is closing: this one starts once it is gone.
    if (!claimOnceFree(instance)) {
      tovix::systemLog(QStringLiteral("Another Tovix keeps running without answering, exiting."));
      return 1;
    }
  }

  tovix::Controller controller(center, std::make_unique<tovix::HelperSupervisor>(helperProgram()));
  controller.init();
  if (!controller.awakeFromNib()) return 1;
  tovix::SoftwareUpdater updater(controller.prefs(), controller.controllerWindow());
  updater.init();

  QObject::connect(&instance, &tovix::ApplicationService::activateRequested, &controller, [&controller] {
    controller.controllerWindow()->showNormal();
    controller.controllerWindow()->raise();
    controller.controllerWindow()->activateWindow();
  });
  QObject::connect(&instance, &tovix::ApplicationService::openRequested, &controller, &tovix::Controller::openFiles);
  QObject::connect(&instance, &tovix::ApplicationService::startRequested, &controller, &tovix::Controller::startQ);
  QObject::connect(&instance, &tovix::ApplicationService::stopRequested, &controller, &tovix::Controller::stopQ);
  QObject::connect(&controller, &tovix::Controller::closing, &instance, &tovix::ApplicationService::setClosing);
  // A polite termination (logout, kill) ends Tovix as closing its window does.
  tovix::process::TerminationNotifier termination;
  QObject::connect(&termination, &tovix::process::TerminationNotifier::terminated, &controller,
                   [&controller] { controller.quitWithoutAsking(); });
  // Logging out does not wait for an answer either.
  QObject::connect(&application, &QGuiApplication::commitDataRequest, &controller,
                   [&controller] { controller.quitWithoutAsking(); });
  if (!command.files.isEmpty())
    QTimer::singleShot(0, &controller, [&controller, files = command.files] { controller.openFiles(files); });
  return QApplication::exec();
}
