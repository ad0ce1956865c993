#include "app/runner/RunState.h"

namespace tovix {
namespace {
constexpr double kSteadyFraction = 0.05;
constexpr qint64 kSteadyMs = 5000;
}  // namespace

void RunState::begin() {
  finished_ = failed_ = total_ = 0;
  lastOutput_.reset();
  phase_ = Phase::Running;
  emit changed();
}

void RunState::exportStarted(quint64 entryId, const QString& output, int total) {
  phase_ = Phase::Running;
  entryId_ = entryId;
  output_ = output;
  total_ = total;
  fraction_ = 0;
  firstFraction_ = -1;
  pausedMs_ = 0;
  clock_.start();
  emit changed();
}

void RunState::progressed(double fraction) {
  fraction_ = std::clamp(fraction, 0.0, 1.0);
  if (firstFraction_ < 0) firstFraction_ = fraction_;
  emit changed();
}

void RunState::exportEnded(protocol::ExportResult result, const QString& output) {
  if (result == protocol::ExportResult::Finished) {
    ++finished_;
    lastOutput_ = output;
  } else if (result == protocol::ExportResult::Failed) {
    ++failed_;
  }
  entryId_ = 0;
  emit changed();
}

void RunState::pause() {
  if (phase_ != Phase::Running) return;
  phase_ = Phase::Paused;
  pausedAt_ = clock_.isValid() ? clock_.elapsed() : 0;
  emit changed();
}

void RunState::resume() {
  if (phase_ != Phase::Paused) return;
  phase_ = Phase::Running;
  if (clock_.isValid()) pausedMs_ += clock_.elapsed() - pausedAt_;
  emit changed();
}

void RunState::end(bool stopped) {
  phase_ = stopped ? Phase::Stopped : Phase::Ended;
  entryId_ = 0;
  emit changed();
}

void RunState::forget() {
  if (phase_ != Phase::Stopped && phase_ != Phase::Ended) return;
  phase_ = Phase::Idle;
  emit changed();
}

double RunState::runFraction() const {
  if (total_ <= 0) return 0;
  return std::clamp((finished_ + failed_ + fraction_) / total_, 0.0, 1.0);
}

qint64 RunState::elapsedMs() const {
  if (!clock_.isValid()) return 0;
  const qint64 now = phase_ == Phase::Paused ? pausedAt_ : clock_.elapsed();
  return std::max<qint64>(0, now - pausedMs_);
}

std::optional<qint64> RunState::remainingMs() const {
  // Only the work of this run counts: an export that went on from kept work
  // began where that work ended.
  const qint64 elapsed = elapsedMs();
  const double done = fraction_ - std::max(0.0, firstFraction_);
  if (done <= 0 || (done < kSteadyFraction && elapsed < kSteadyMs)) return std::nullopt;
  return qint64(elapsed * (1 - fraction_) / done);
}

QString RunState::summary() const {
  QString text = finished_ == 1 ? tr("1 export finished") : tr("%1 exports finished").arg(finished_);
  if (failed_ > 0) text += tr(", %1 failed").arg(failed_);
  return text;
}

QString durationText(qint64 milliseconds) {
  const qint64 seconds = milliseconds / 1000;
  if (seconds >= 3600)
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace tovix
