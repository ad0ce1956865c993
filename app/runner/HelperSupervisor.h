#pragma once
// Starts TovixHelper, tells when it hears requests (it holds its bus name),
// when a listening helper went away, and starts it again; gives up after a
// few starts that never got as far as listening.
#include "platform/BusName.h"

#include <QObject>
#include <QProcess>

namespace tovix {

class HelperSupervisor : public QObject {
  Q_OBJECT
 public:
  explicit HelperSupervisor(QString program, QObject* parent = nullptr);
  ~HelperSupervisor() override;

  // Starts the helper, its own path as its one argument.
  virtual void start();
  // Sends SIGTERM, waits up to two seconds, then kills; no restart follows.
  virtual void terminate();
  // Holds the helper's export where it is and lets it go on; the helper acts
  // on both itself, so it still ends when Tovix does.
  virtual void pause();
  virtual void resume();
  // Whether a helper listens for requests now.
  virtual bool isReady() const { return ready_; }
  virtual bool isRunning() const { return process_.state() != QProcess::NotRunning; }
  // The unique bus name of the helper this supervisor started, while it
  // listens; empty otherwise. Only its notifications count.
  virtual QString owner() const { return owner_; }

 signals:
  void ready();
  // A helper that listened has gone (crashed, killed or ended itself).
  void lost();
  // The helper cannot be started; reason is a sentence for the user.
  void unavailable(const QString& reason);

 protected:
  HelperSupervisor() = default;  // for test doubles

 private:
  void onFinished();
  // Ends a TovixHelper that holds the helper's name but was not started
  // here (left behind by a Tovix that was killed), and removes the
  // temporary file it was writing. Anything else holding the name is only
  // logged: it is not ours to end.
  void endStrayHelper(qint64 pid);
  qint64 strayPid_ = 0;  // a stray helper being ended; its name blocks starts
  QString program_;
  QProcess process_;
  BusNameWatcher* watcher_ = nullptr;
  void onOwnerAppeared(const QString& owner);
  QString owner_;
  bool ready_ = false;
  bool stopping_ = false;
  bool readySinceStart_ = false;
  int failedStarts_ = 0;
};

}  // namespace tovix
