#pragma once
// Termination handling for TovixHelper: SIGTERM is recorded in a flag that a
// running export polls, and wakes the event loop when it is idle; the process
// is ended when the process that started it goes away.
#include <QObject>
#include <atomic>

class QSocketNotifier;

namespace tovix::process {

// Installs the SIGTERM handler. Call once, before the event loop runs.
void watchTermination();

// Set from the SIGTERM handler; safe to read from any thread.
const std::atomic_bool& terminationRequested();

// Ends the process as terminated by SIGTERM, the way its parent expects.
[[noreturn]] void endByTermination();

// Delivers SIGTERM to this process when its parent dies, and at once when the
// parent is already gone.
void endWithParent();

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
