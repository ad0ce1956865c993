#pragma once
// Signal handling for TovixHelper: SIGTERM is recorded in a flag that a
// running export polls, and wakes the event loop when it is idle; the process
// is ended when the process that started it goes away. Pause is a request the
// helper acts on itself (SIGUSR1 holds, SIGUSR2 lets go), never SIGSTOP: a
// stopped process could not act on its parent's end and would outlive it.
// Tovix also reads a few facts of other processes here, to tell a stray
// helper from anything else.
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <csignal>
#include <optional>

class QSocketNotifier;

namespace tovix::process {

// Installs the SIGTERM handler. Call once, before the event loop runs.
void watchTermination();

// Installs the hold and go-on handlers. Call once, before the helper's bus
// name is claimed: an unhandled SIGUSR1 would end the process.
void watchHold();
inline constexpr int kHoldSignal = SIGUSR1;
inline constexpr int kGoOnSignal = SIGUSR2;

// Whether the process is asked to hold where it is; safe from any thread.
bool holdRequested();

// Set from the SIGTERM handler; safe to read from any thread.
const std::atomic_bool& terminationRequested();

// Ends the process as terminated by SIGTERM, the way its parent expects.
[[noreturn]] void endByTermination();

// Delivers SIGTERM to this process when its parent dies, and at once when the
// parent is already gone.
void endWithParent();

// What Tovix needs to know of another process of the session.
struct ProcessFacts {
  QString name;           // the executable's name as the kernel keeps it
  QString parentName;     // the same for its parent; empty when gone
  bool sameUser = false;  // runs as this process's user
  // Hidden temporary export files (".NAME.part") it holds open.
  QStringList temporaryFiles;
};
// Read from /proc; nullopt when there is no such process.
std::optional<ProcessFacts> factsOf(qint64 pid);

// Emits terminationRequested() on the event loop after SIGTERM arrived.
class TerminationNotifier : public QObject {
  Q_OBJECT
 public:
  explicit TerminationNotifier(QObject* parent = nullptr);
 signals:
  void terminated();

 private:
  QSocketNotifier* notifier_;
};

}  // namespace tovix::process
