// A second process for the notification tests: answers every "TovixTestPing"
// with a "TovixTestPong" carrying the same userInfo (or none), and holds the
// bus name org.tovix.TestPeer once it listens.
#include "platform/BusName.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  tovix::NotificationCenter center;
  center.observe("TovixTestPing", [&center](const tovix::UserInfo& info, const QString&) { center.post("TovixTestPong", info); });
  if (!tovix::claimBusName("org.tovix.TestPeer")) return 2;
  QTimer::singleShot(30000, &application, &QCoreApplication::quit);
  return QCoreApplication::exec();
}
