// TovixHelper: converts movies on request from Tovix over the session bus.
#include "helper/TovixHelper.h"
#include "platform/BusName.h"
#include "platform/ProcessSignals.h"
#include "platform/SystemLog.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
  tovix::process::endWithParent();
  tovix::process::watchTermination();
  tovix::process::watchHold();
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("TovixHelper"));

  tovix::NotificationCenter center;
  if (!center.isConnected()) {
    tovix::systemLog(QStringLiteral("No session bus to take export requests from, exiting."));
    return 1;
  }
  tovix::TovixHelper helper(center);
  if (!helper.init()) {
    tovix::systemLog(QStringLiteral("Unable to observe export requests, exiting."));
    return 1;
  }
  // Holding the name tells Tovix that requests are heard, and keeps a second
  // helper from converting every request again.
  if (!tovix::claimBusName(QLatin1String(tovix::kHelperBusName))) {
    tovix::systemLog(QStringLiteral("Another TovixHelper is running, exiting."));
    return 1;
  }
  tovix::process::TerminationNotifier termination;
  QObject::connect(&termination, &tovix::process::TerminationNotifier::terminated, &helper,
                   &tovix::TovixHelper::terminate);
  return QCoreApplication::exec();
}
