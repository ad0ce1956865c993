#pragma once
// Well-known names on the session bus: one running Tovix and one running
// TovixHelper per user session, and the way the helper says it is listening.
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusServiceWatcher;

namespace tovix {

inline constexpr const char* kApplicationBusName = "org.tovix.Tovix";
inline constexpr const char* kHelperBusName = "org.tovix.TovixHelper";

// Claims name for this process; false when another process holds it.
bool claimBusName(const QString& name);

// Whether some process holds name now.
bool isBusNameOwned(const QString& name);

// The process id behind a bus name (well-known or unique); 0 when unknown.
qint64 busNamePid(const QString& name);

// Tells when a well-known name gains or loses its owner.
class BusNameWatcher : public QObject {
  Q_OBJECT
 public:
  explicit BusNameWatcher(const QString& name, QObject* parent = nullptr);
 signals:
  // owner is the unique name of the connection that now holds the name.
  void ownerAppeared(const QString& owner);
  void ownerVanished();

 private:
  QDBusServiceWatcher* watcher_;
};

// The running application's object on the bus, org.tovix.Application at
// /org/tovix/Application: "Activate" (a second start brings the window
// forward, then exits), "StartQueue" and "StopQueue" (the Start and Stop
// commands, for scripts and tests). Each call only emits a signal here.
class ApplicationService : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.tovix.Application")
 public:
  explicit ApplicationService(QObject* parent = nullptr);
  // Claims the application name and answers calls; false when another Tovix
  // already runs.
  bool claim();
  // Asks the running Tovix to bring its window to the front and queue files
  // (none: only the window); false when no Tovix answered, or the one that
  // did is closing.
  static bool activateRunning(const QStringList& files);
  // From now on Activate answers that this Tovix is closing.
  void setClosing() { closing_ = true; }

 public slots:
  // Answers false while this Tovix is closing: the caller must start itself.
  Q_SCRIPTABLE bool Activate();
  // Queues the files as a drop would and brings the window forward; false
  // while this Tovix is closing. Answers at once: the files are tested later.
  // A relative path is taken from the caller's working folder; one whose
  // folder cannot be known stays relative, and the queue refuses it.
  Q_SCRIPTABLE bool OpenFiles(const QStringList& paths);
  Q_SCRIPTABLE void StartQueue();
  Q_SCRIPTABLE void StopQueue();

 signals:
  void activateRequested();
  void openRequested(const QStringList& paths);
  void startRequested();
  void stopRequested();

 private:
  bool closing_ = false;
};

}  // namespace tovix
