#include "helper/TovixHelper.h"

#include "media/ExportPreset.h"
#include "media/Exporter.h"
#include "platform/ProcessSignals.h"
#include "platform/SystemLog.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <malloc.h>

namespace tovix {

using protocol::Target;

namespace {

constexpr int kQuitTimerMilliseconds = 2000;
// How often a held export looks for its release, a stop or its end.
constexpr int kHeldPollMilliseconds = 50;

// Removes a flag file; answers whether it was there.
bool takeFlag(const QString& path) {
  if (!QFile::exists(path)) return false;
  QFile::remove(path);
  return true;
}

// The request handed back with the outcome: the result, and the file written
// or the reason it failed.
QVariantMap completionFor(const QVariantMap& request, const media::ExportOutcome& outcome) {
  QVariantMap completion = request;
  if (outcome.status == protocol::ExportResult::Finished) {
    completion.insert(QLatin1String(protocol::EXPORT_OUTPUT_PATH_KEY), outcome.writtenPath);
    if (!outcome.leftOut.isEmpty()) completion.insert(QLatin1String(protocol::EXPORT_LEFT_OUT_KEY), outcome.leftOut);
    if (outcome.pictureCopied) completion.insert(QLatin1String(protocol::EXPORT_PICTURE_COPIED_KEY), QStringLiteral("YES"));
    if (outcome.resumedFrom > 0)
      completion.insert(QLatin1String(protocol::EXPORT_RESUMED_FROM_KEY), QString::number(outcome.resumedFrom, 'f', 3));
  } else if (outcome.status == protocol::ExportResult::Failed) {
    completion.insert(QLatin1String(protocol::EXPORT_ERROR_TEXT_KEY), outcome.reason);
  }
  if (outcome.status != protocol::ExportResult::Finished && outcome.keptFraction > 0)
    completion.insert(QLatin1String(protocol::EXPORT_KEPT_FRACTION_KEY), QString::number(outcome.keptFraction, 'f', 3));
  completion.insert(QLatin1String(protocol::EXPORT_RESULT_KEY), protocol::resultText(outcome.status));
  return completion;
}

}  // namespace

TovixHelper::TovixHelper(NotificationCenter& center, QObject* parent)
    : QObject(parent), notificationCenter(center) {}

bool TovixHelper::init() {
  systemNote(QStringLiteral("TovixHelper launched."));
  media::removeStaleKeptWork();
  abort = false;
  quit = false;
  const bool observing =
      notificationCenter.observe(QLatin1String(protocol::kExportRequest),
                                 [this](const UserInfo& info, const QString&) { exportRequest(info); }) &&
      notificationCenter.observe(QLatin1String(protocol::kExportAbort),
                                 [this](const UserInfo&, const QString&) { exportAbort(); });
  appDir = protocol::stopFlagPath();
  quitPath = protocol::quitFlagPath();
  connect(&quitTimer, &QTimer::timeout, this, &TovixHelper::checkQuit);
  quitTimer.start(kQuitTimerMilliseconds);
  return observing;
}

void TovixHelper::end(int status) {
  quitTimer.stop();
  QCoreApplication::exit(status);
}

void TovixHelper::checkQuit() {
  if (!quit || exporting) return;
  systemLog(QStringLiteral("checkQuit detected quit command."));
  end(1);
}

void TovixHelper::terminate() {
  if (!exporting) process::endByTermination();
}

void TovixHelper::exportRequest(const UserInfo& userInfo) {
  if (exporting) {
    // Requests that arrive while an export runs are handled after it, in turn.
    waiting.push_back(userInfo);
    return;
  }
  abort = false;
  if (!userInfo) {
    sendErrorNotification(std::nullopt);
    return;
  }
  if (takeFlag(quitPath)) {
    end(1);
    return;
  }
  systemNote(QStringLiteral("exportRequest: %1").arg(protocol::describe(*userInfo)));
  const auto moviePath = protocol::stringValue(*userInfo, protocol::QUEUE_ENTRY_MOVIE_PATH_KEY);
  const auto type = protocol::stringValue(*userInfo, protocol::EXPORT_TYPE_KEY);
  const auto target = type ? protocol::targetForTypeKey(*type) : std::nullopt;
  if (!moviePath || !target) {
    sendErrorNotification(userInfo);
    return;
  }
  switch (*target) {
    case Target::iPhone:
      exportiPhone(*moviePath, *userInfo);
      break;
    case Target::iPod:
      exportiPod(*moviePath, *userInfo);
      break;
    case Target::AppleTV:
      exportAppleTV(*moviePath, *userInfo);
      break;
    case Target::QuickTime:
      exportQT(*moviePath, *userInfo);
      break;
  }
}

void TovixHelper::exportAbort() { abort = true; }

void TovixHelper::sendErrorNotification(const UserInfo& userInfo) {
  notificationCenter.post(QLatin1String(protocol::kExportError), userInfo);
}

void TovixHelper::sendCompletionNotification(const UserInfo& userInfo) {
  if (userInfo) notificationCenter.post(QLatin1String(protocol::kExportComplete), userInfo);
}

void TovixHelper::exportiPhone(const QString& moviePath, const QVariantMap& info) {
  exportMovie(Target::iPhone, moviePath, info);
}

void TovixHelper::exportiPod(const QString& moviePath, const QVariantMap& info) {
  exportMovie(Target::iPod, moviePath, info);
}

void TovixHelper::exportAppleTV(const QString& moviePath, const QVariantMap& info) {
  exportMovie(Target::AppleTV, moviePath, info);
}

void TovixHelper::exportQT(const QString& moviePath, const QVariantMap& info) {
  exportMovie(Target::QuickTime, moviePath, info);
}

void TovixHelper::exportMovie(Target target, const QString& moviePath, const QVariantMap& info) {
  const protocol::TargetInfo& targetInfo = protocol::info(target);
  const QString output =
      protocol::outputPath(moviePath, target, protocol::stringValue(info, protocol::EXPORT_DIRECTORY_KEY));
  systemNote(QLatin1String(targetInfo.logLine));
  media::ExportJob job;
  job.source = moviePath;
  job.output = output;
  job.typeCode = targetInfo.typeCode;
  job.outputSuffix = QLatin1String(protocol::info(target).fileSuffix);
  job.copyWhatPlays = protocol::stringValue(info, protocol::EXPORT_COPY_PICTURE_KEY) != QLatin1String("NO");
  // Tests make pieces shorter than a minute, so that a short clip has several.
  job.pieceUs = int64_t(qEnvironmentVariableIntValue("TOVIX_PIECE_SECONDS")) * 1'000'000;
  job.progress = [this](double fraction) { return movie(fraction); };
  job.interrupt = &process::terminationRequested();
  exporting = true;
  const media::ExportOutcome outcome = media::exportMovie(job);
  exporting = false;
  // The encoders' threads leave freed memory in the allocator's arenas; it
  // goes back to the system, so a helper that ran a hundred exports is no
  // larger than one that ran one.
  ::malloc_trim(0);
  if (process::terminationRequested()) process::endByTermination();
  if (!outcome.plan.isEmpty()) systemNote(QStringLiteral("Export plan of %1: %2").arg(moviePath, outcome.plan));
  if (outcome.status == protocol::ExportResult::Failed)
    systemLog(QStringLiteral("Export of %1 to %2 failed: %3 (%4)").arg(moviePath, output, outcome.reason, outcome.detail));
  sendCompletionNotification(completionFor(info, outcome));
  // A helper that found the quit flag takes no more work; the quit timer ends it.
  if (!waiting.empty() && !quit) QTimer::singleShot(0, this, &TovixHelper::takeWaitingRequest);
}

void TovixHelper::takeWaitingRequest() {
  if (waiting.empty()) return;
  const UserInfo next = waiting.front();
  waiting.pop_front();
  exportRequest(next);
}

bool TovixHelper::movie(double fraction) {
  takeCommands();
  // A held export waits here, still hearing stop, quit and SIGTERM (which
  // the parent's end sends), so a paused helper never outlives Tovix.
  while (process::holdRequested() && !abort && !process::terminationRequested()) {
    QThread::msleep(kHeldPollMilliseconds);
    takeCommands();
  }
  if (abort || process::terminationRequested()) return false;
  notificationCenter.post(QLatin1String(protocol::kExportProgress),
                          QVariantMap{{QLatin1String(protocol::EXPORT_PROGRESS_KEY), fraction}});
  return true;
}

void TovixHelper::takeCommands() {
  // Lets "TovixExportAbort" reach a running export; other handlers see
  // `exporting` and wait for the export to end.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (takeFlag(quitPath)) {
    abort = true;
    quit = true;
  }
  if (takeFlag(appDir)) abort = true;
}

}  // namespace tovix
