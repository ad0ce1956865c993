#pragma once
// TovixHelper's one object: takes export requests from the session bus,
// converts one movie at a time on the main thread and answers with progress,
// completion or error notifications. Stop and quit reach a running export
// through the flag files, which every progress call checks.
#include "platform/NotificationCenter.h"
#include "protocol/Protocol.h"

#include <QObject>
#include <QTimer>
#include <deque>

namespace tovix {

class TovixHelper : public QObject {
  Q_OBJECT
 public:
  explicit TovixHelper(NotificationCenter& notificationCenter, QObject* parent = nullptr);

  // Logs the launch, observes requests and aborts, forms the flag paths and
  // starts the 2-second quit timer. False when the observers cannot be set up.
  bool init();

  // Ends the event loop with status 1 once a progress call found the quit flag.
  void checkQuit();
  void exportRequest(const UserInfo& userInfo);
  void exportAbort();
  void sendErrorNotification(const UserInfo& userInfo);
  void sendCompletionNotification(const UserInfo& userInfo);

  void exportiPhone(const QString& moviePath, const QVariantMap& info);
  void exportiPod(const QString& moviePath, const QVariantMap& info);
  void exportAppleTV(const QString& moviePath, const QVariantMap& info);
  void exportQT(const QString& moviePath, const QVariantMap& info);

  // The export engine's progress call: checks the quit flag, then the stop
  // flag, and waits while Tovix holds the export; answers false (cancel) once
  // abort is set or SIGTERM came, else posts the fraction.
  bool movie(double fraction);

  // SIGTERM: a running export cancels itself (it polls the termination flag);
  // an idle helper ends at once.
  void terminate();

 private:
  void exportMovie(protocol::Target target, const QString& moviePath, const QVariantMap& info);
  void end(int status);
  void takeWaitingRequest();
  // Handles waiting bus messages and the stop and quit flag files.
  void takeCommands();

  NotificationCenter& notificationCenter;
  bool abort = false;
  bool quit = false;
  QString appDir;    // the stop flag file
  QString quitPath;  // the quit flag file
  QTimer quitTimer;
  bool exporting = false;
  std::deque<UserInfo> waiting;  // requests that arrived during an export
};

}  // namespace tovix
