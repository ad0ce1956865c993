// The queue runner: one export request at a time, in queue and target order,
// driven by the helper's progress, completion and error notifications.
#include "app/Controller.h"

#include "app/window/ElidedLabel.h"
#include "platform/SystemLog.h"
#include "protocol/Protocol.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace tovix {

using protocol::Target;

namespace {

constexpr int kProgressSteps = 1000;  // the bar's range stands for 0.0 to 1.0

// The log's words for a completion. A movie written under another name than
// the rule's (that one was taken) says which name it got, and one that could
// not carry all of the movie says what it left out.
QString finishActionText(const QVariantMap& completion, const QString& expectedOutput) {
  const auto result = protocol::resultOf(completion);
  switch (result) {
    case protocol::ExportResult::Failed: {
      const QString reason = protocol::stringValue(completion, protocol::EXPORT_ERROR_TEXT_KEY).value_or(QString());
      return reason.isEmpty() ? QStringLiteral("Export failed.") : QStringLiteral("Export failed: %1").arg(reason);
    }
    case protocol::ExportResult::Cancelled:
      return QStringLiteral("Export cancelled.");
    case protocol::ExportResult::Finished:
      break;
  }
  QString text = QStringLiteral("Export finished");
  const auto written = protocol::stringValue(completion, protocol::EXPORT_OUTPUT_PATH_KEY);
  if (written && !written->isEmpty() && *written != expectedOutput)
    text += QStringLiteral(" as %1").arg(protocol::lastPathComponent(*written));
  const auto leftOut = protocol::stringValue(completion, protocol::EXPORT_LEFT_OUT_KEY);
  if (protocol::stringValue(completion, protocol::EXPORT_PICTURE_COPIED_KEY) == QLatin1String("YES"))
    text += QStringLiteral("; picture copied as it is");
  if (leftOut && !leftOut->isEmpty()) text += QStringLiteral("; left out: %1").arg(*leftOut);
  return text + u'.';
}

// Whether a completion or error hands back the request: every key of the
// request with its value.
bool answersRequest(const QVariantMap& answer, const QVariantMap& request) {
  for (auto it = request.cbegin(); it != request.cend(); ++it) {
    if (answer.value(it.key()) != it.value()) return false;
  }
  return true;
}

}  // namespace

void Controller::startQ() {
  if (qRunning()) return;
  if (!helperTask_->isRunning()) helperTask_->start();
  // A stop flag of an earlier run must not cancel this run's first export.
  removeStopFlag();
  qHandler();
}

bool Controller::isHelperAnswer(const char* name, const UserInfo& userInfo, const QString& sender) const {
  const QString owner = helperTask_->owner();
  QString refusal;
  if (owner.isEmpty() || sender != owner)
    refusal = QStringLiteral("it does not come from the TovixHelper Tovix started");
  else if (!outstanding_ || !requestDelivered_)
    refusal = QStringLiteral("no export is outstanding");
  else if (qstrcmp(name, protocol::kExportProgress) != 0 &&
           (!userInfo || !answersRequest(*userInfo, outstanding_->request)))
    refusal = QStringLiteral("it does not answer the outstanding request");
  if (refusal.isEmpty()) return true;
  systemLog(QStringLiteral("Ignored %1 from %2: %3.").arg(QLatin1String(name), sender, refusal));
  return false;
}

void Controller::removeStopFlag() {
  if (QFile::exists(protocol::stopFlagPath())) QFile::remove(protocol::stopFlagPath());
}

void Controller::qHandler() {
  runState_->begin();
  updateqRunning(true);
  sendQuitAtEnd_ = true;
  qHandlerNextEntry();
  updateabortQHandler(false);
}

void Controller::qHandler(const UserInfo& error, const QString& sender) {
  if (!isHelperAnswer(protocol::kExportError, error, sender)) return;
  // The helper refused the request without exporting: the run ends here
  // instead of waiting for a completion that will never come.
  systemLog(QStringLiteral("TovixHelper refused an export request: %1").arg(protocol::describe(*error)));
  outstanding_.reset();
  hideExportWidgets();
  updateabortQHandler(false);
  finishRun(true);
}

void Controller::qHandlerNextEntry() {
  if (!q_ || q_->count() == 0) {
    finishRun(false);
    return;
  }
  if (const auto next = q_->nextEntry(); next && qHandlerFindExportRequest(*next)) return;
  endRun();
}

void Controller::endRun() {
  if (prefs_.boolForKey(Preferences::PrefExportCompletePref)) {
    if (playFinishedSound) playFinishedSound();
    if (prefs_.boolForKey(Preferences::PrefDockBounce) && requestAttention) requestAttention();
  }
  finishRun(false);
}

void Controller::finishRun(bool stopped) {
  updateqRunning(false);
  removeStopFlag();
  runState_->end(stopped);
  tellDesktopRunEnded(stopped);
}

// One notification for a run that exported anything, unless the user turned
// them off or pressed Stop; the task bar and the computer are let go.
void Controller::tellDesktopRunEnded(bool stopped) {
  desktop_->release();
  desktop_->setProgress(std::nullopt);
  const RunState& run = *runState_;
  if (run.finished() + run.failed() == 0 || !prefs_.queueNotification() || abortQHandler()) return;
  const QString title = stopped           ? tr("Conversion stopped")
                        : run.failed() > 0 ? tr("Conversion finished with failures")
                                           : tr("Conversion done");
  desktop_->notify(title, run.summary(), run.lastOutput());
}

std::optional<QString> Controller::exportDirectoryForRequest() const {
  if (!prefs_.boolForKey(Preferences::PrefExportDiffDirectory)) return std::nullopt;
  const auto directory = prefs_.stringForKey(Preferences::PrefExportDirectory);
  if (!directory || !QFileInfo(*directory).isDir()) return std::nullopt;
  return directory;
}

bool Controller::qHandlerFindExportRequest(int i) {
  const QDateTime now = QDateTime::currentDateTime();
  const auto moviePath = q_->movie(i);
  const std::optional<Target> pending = q_->pendingTarget(i);
  if (!pending || !moviePath) return false;
  exportProgress()->setValue(0);
  exportProgress()->show();
  showInFinderButton()->show();
  if (qLog_) {
    qLog_->write(logEntry(now, *moviePath, QLatin1String(protocol::info(*pending).startText)));
    reloadLogTable();
  }
  QVariantMap request{{QLatin1String(protocol::QUEUE_ENTRY_MOVIE_PATH_KEY), *moviePath},
                      {QLatin1String(protocol::EXPORT_TYPE_KEY), QLatin1String(protocol::info(*pending).typeKey)}};
  const auto directory = exportDirectoryForRequest();
  if (directory) request.insert(QLatin1String(protocol::EXPORT_DIRECTORY_KEY), *directory);
  if (!prefs_.copyDevicePictures()) request.insert(QLatin1String(protocol::EXPORT_COPY_PICTURE_KEY), QStringLiteral("NO"));
  showInFinderPath_ = protocol::outputPath(*moviePath, *pending, directory);
  outstanding_ = OutstandingExport{request, q_->idAt(i), showInFinderPath_};
  postExportRequest();
  runState_->exportStarted(q_->idAt(i), showInFinderPath_, runState_->exportNumber() - 1 + q_->pendingExports());
  desktop_->inhibitSuspend(tr("Converting movies"));
  desktop_->setProgress(runState_->runFraction());
  currentExportFilename()->setFullText(protocol::lastPathComponent(showInFinderPath_), showInFinderPath_);
  currentExportFilename()->show();
  return true;
}

void Controller::hideExportWidgets() {
  currentExportLabel()->hide();
  exportProgress()->hide();
  showInFinderButton()->hide();
  currentExportFilename()->hide();
}

void Controller::qHandlerCompletionReceived(const UserInfo& userInfo, const QString& sender) {
  if (shuttingDown_ || !isHelperAnswer(protocol::kExportComplete, userInfo, sender)) return;
  settleCompletion(*userInfo);
}

// The outstanding export ended: its entry (found by identity, so a deleted
// entry changes no other one) is settled, logged, and the run goes on.
void Controller::settleCompletion(const QVariantMap& completion) {
  const QDateTime now = QDateTime::currentDateTime();
  hideExportWidgets();
  systemNote(QStringLiteral("Received DISTRIBUTED_EXPORT_COMPLETE for %1").arg(protocol::describe(completion)));
  const OutstandingExport done = std::move(*outstanding_);
  outstanding_.reset();
  const auto result = protocol::resultOf(completion);
  QVariantMap settled = completion;
  if (result == protocol::ExportResult::Finished) {
    showInFinderPath_ = protocol::stringValue(completion, protocol::EXPORT_OUTPUT_PATH_KEY).value_or(done.expectedOutput);
    settled.insert(QLatin1String(protocol::EXPORT_OUTPUT_PATH_KEY), showInFinderPath_);
  }
  if (const auto index = q_ ? q_->indexOf(done.entryId) : std::nullopt) q_->updateMovie(settled, *index);
  runState_->exportEnded(result, showInFinderPath_);
  reloadQueueTable();
  if (qLog_) {
    const QString movie = protocol::stringValue(done.request, protocol::QUEUE_ENTRY_MOVIE_PATH_KEY).value_or(QString());
    // An export that went on from kept work says from where, then how it ended.
    const double resumedFrom =
        protocol::stringValue(completion, protocol::EXPORT_RESUMED_FROM_KEY).value_or(QString()).toDouble();
    if (resumedFrom > 0 && resumedFrom < 1)
      qLog_->write(logEntry(now, movie, QStringLiteral("Export resumed at %1 %.").arg(int(resumedFrom * 100))));
    qLog_->write(logEntry(now, movie, finishActionText(completion, done.expectedOutput)));
    reloadLogTable();
  }
  if (abortQHandler()) {
    finishRun(true);
  } else {
    qHandlerNextEntry();
  }
  sendQuitAtEnd_ = false;
}

void Controller::qHandlerExportProgress(const UserInfo& userInfo, const QString& sender) {
  if (!userInfo || !isHelperAnswer(protocol::kExportProgress, userInfo, sender)) return;
  const auto value = userInfo->constFind(QLatin1String(protocol::EXPORT_PROGRESS_KEY));
  if (value == userInfo->cend()) return;
  bool numeric = false;
  const double fraction = value->toDouble(&numeric);
  if (!numeric) return;
  currentExportLabel()->show();
  exportProgress()->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kProgressSteps));
  runState_->progressed(fraction);
  desktop_->setProgress(runState_->runFraction());
}

void Controller::pauseQ() {
  if (runState_->phase() == RunState::Phase::Running && outstanding_ && requestDelivered_) {
    helperTask_->pause();
    runState_->pause();
  } else if (runState_->phase() == RunState::Phase::Paused) {
    helperTask_->resume();
    runState_->resume();
  }
}

void Controller::stopQ() {
  // A held helper must run again to see the stop.
  if (runState_->phase() == RunState::Phase::Paused) pauseQ();
  updateabortQHandler(true);
  // Only a running export has anything to stop; a flag left while idle would
  // cancel the next export at its first step.
  if (!qRunning()) return;
  QFile flag(protocol::stopFlagPath());
  flag.open(QIODevice::WriteOnly);
}

}  // namespace tovix
