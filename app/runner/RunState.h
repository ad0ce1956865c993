#pragma once
// A run of exports as the user follows it, kept apart from the widgets: the
// runner writes it; the status line, the queue table and the desktop read it.
#include "protocol/Protocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <optional>

namespace tovix {

class RunState : public QObject {
  Q_OBJECT
 public:
  enum class Phase { Idle, Running, Paused, Stopped, Ended };

  using QObject::QObject;

  // A Start: the counts begin again.
  void begin();
  // An export was requested: export index of total in this run.
  void exportStarted(quint64 entryId, const QString& output, int total);
  void progressed(double fraction);
  void exportEnded(protocol::ExportResult result, const QString& output);
  void pause();
  void resume();
  // The run is over: every export done, or stopped.
  void end(bool stopped);
  // The queue changed after the run: what it said of the queue no longer
  // holds. Nothing changes while exporting.
  void forget();

  Phase phase() const { return phase_; }
  bool exporting() const { return phase_ == Phase::Running || phase_ == Phase::Paused; }
  // The queue entry being exported (its identity), 0 for none.
  quint64 entryId() const { return exporting() ? entryId_ : 0; }
  const QString& output() const { return output_; }
  double fraction() const { return fraction_; }
  int finished() const { return finished_; }
  int failed() const { return failed_; }
  int exportNumber() const { return finished_ + failed_ + 1; }
  int total() const { return total_; }
  const std::optional<QString>& lastOutput() const { return lastOutput_; }
  // The whole run's progress, counting the exports already done.
  double runFraction() const;
  // Time spent on the current export, pauses left out.
  qint64 elapsedMs() const;
  // The time the current export still needs, once the estimate is steady
  // (after 5 % or 5 seconds); nullopt before.
  std::optional<qint64> remainingMs() const;
  // "3 exports finished, 1 failed".
  QString summary() const;

 signals:
  void changed();

 private:
  Phase phase_ = Phase::Idle;
  quint64 entryId_ = 0;
  QString output_;
  double fraction_ = 0;
  double firstFraction_ = -1;  // where the export began: it may go on from kept work
  int finished_ = 0;
  int failed_ = 0;
  int total_ = 0;
  std::optional<QString> lastOutput_;
  QElapsedTimer clock_;
  qint64 pausedMs_ = 0;
  qint64 pausedAt_ = 0;
};

// Minutes and seconds ("1:05"), with hours when there are any ("1:02:03").
QString durationText(qint64 milliseconds);

}  // namespace tovix
