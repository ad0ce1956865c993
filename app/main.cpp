// Tovix: the movie converter's window. One per user session.
#include "app/Controller.h"
#include "app/SoftwareUpdater.h"
#include "app/Theme.h"
#include "platform/BusName.h"
#include "platform/ProcessSignals.h"
#include "platform/SystemLog.h"

#include <QApplication>
#include <QMainWindow>
#include <QThread>

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

}  // namespace

int main(int argc, char* argv[]) {
  tovix::process::watchTermination();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tovix"));
  QApplication::setApplicationVersion(QStringLiteral("1.95.32"));
  QApplication::setDesktopFileName(QStringLiteral("tovix"));
  tovix::applyTheme(application);

  tovix::NotificationCenter center;
  if (!center.isConnected()) {
    tovix::systemLog(QStringLiteral("No session bus to reach TovixHelper through, exiting."));
    return 1;
  }
  // The notifications are session-wide: a second Tovix would convert every
  // request twice, so it brings the running window forward and leaves.
  tovix::ApplicationService instance;
  if (!instance.claim()) {
    if (tovix::ApplicationService::activateRunning()) return 0;
    // The running Tovix is closing: this one starts once it is gone.
    if (!claimOnceFree(instance)) {
      tovix::systemLog(QStringLiteral("Another Tovix keeps running without answering, exiting."));
      return 1;
    }
  }

  const QString helperPath = QCoreApplication::applicationDirPath() + QStringLiteral("/TovixHelper");
  tovix::Controller controller(center, std::make_unique<tovix::HelperSupervisor>(helperPath));
  controller.init();
  if (!controller.awakeFromNib()) return 1;
  tovix::SoftwareUpdater updater(controller.prefs(), controller.controllerWindow());
  updater.init();

  QObject::connect(&instance, &tovix::ApplicationService::activateRequested, &controller, [&controller] {
    controller.controllerWindow()->showNormal();
    controller.controllerWindow()->raise();
    controller.controllerWindow()->activateWindow();
  });
  QObject::connect(&instance, &tovix::ApplicationService::startRequested, &controller, &tovix::Controller::startQ);
  QObject::connect(&instance, &tovix::ApplicationService::stopRequested, &controller, &tovix::Controller::stopQ);
  QObject::connect(&controller, &tovix::Controller::closing, &instance, &tovix::ApplicationService::setClosing);
  // A polite termination (logout, kill) ends Tovix as closing its window does.
  tovix::process::TerminationNotifier termination;
  QObject::connect(&termination, &tovix::process::TerminationNotifier::terminated, &controller,
                   [&controller] { controller.controllerWindow()->close(); });
  return QApplication::exec();
}
