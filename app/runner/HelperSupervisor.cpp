#include "app/runner/HelperSupervisor.h"

#include "platform/ProcessSignals.h"
#include "platform/SystemLog.h"

#include <QFile>
#include <QTimer>
#include <csignal>

namespace tovix {
namespace {
constexpr int kMaxFailedStarts = 3;
constexpr int kRestartDelayMs = 200;
constexpr int kTerminateWaitMs = 2000;
constexpr const char* kHelperProcessName = "TovixHelper";
}  // namespace

HelperSupervisor::HelperSupervisor(QString program, QObject* parent)
    : QObject(parent),
      program_(std::move(program)),
      watcher_(new BusNameWatcher(QLatin1String(kHelperBusName), this)) {
  connect(watcher_, &BusNameWatcher::ownerAppeared, this, &HelperSupervisor::onOwnerAppeared);
  connect(watcher_, &BusNameWatcher::ownerVanished, this, [this] {
    owner_.clear();
    strayPid_ = 0;
    if (!ready_) return;
    ready_ = false;
    emit lost();
  });
  connect(&process_, &QProcess::finished, this, &HelperSupervisor::onFinished);
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    systemLog(QStringLiteral("TovixHelper could not be started: %1").arg(process_.errorString()));
    emit unavailable(tr("The converter TovixHelper could not be started (%1).").arg(program_));
  });
}

void HelperSupervisor::onOwnerAppeared(const QString& owner) {
  // Any process may claim the helper's name; only the one started here is
  // trusted with requests and believed when it answers.
  const qint64 pid = busNamePid(owner);
  if (pid == 0 || pid != process_.processId()) {
    systemLog(QStringLiteral("%1 is held by process %2, not by the TovixHelper Tovix started; ignored.")
                  .arg(QLatin1String(kHelperBusName))
                  .arg(pid));
    endStrayHelper(pid);
    return;
  }
  owner_ = owner;
  ready_ = true;
  readySinceStart_ = true;
  failedStarts_ = 0;
  emit ready();
}

HelperSupervisor::~HelperSupervisor() {
  if (process_.state() != QProcess::NotRunning) terminate();
}

void HelperSupervisor::endStrayHelper(qint64 pid) {
  const auto facts = process::factsOf(pid);
  // A helper whose parent is a running Tovix belongs to that Tovix.
  if (!facts || !facts->sameUser || facts->name != QLatin1String(kHelperProcessName) ||
      facts->parentName == QStringLiteral("Tovix") || pid == strayPid_)
    return;
  systemLog(QStringLiteral("Ending the TovixHelper left behind as process %1.").arg(pid));
  strayPid_ = pid;
  failedStarts_ = 0;
  // SIGCONT first: a helper of an older Tovix may have been stopped.
  ::kill(pid_t(pid), SIGCONT);
  ::kill(pid_t(pid), SIGTERM);
  QTimer::singleShot(kTerminateWaitMs, this, [pid, temporaryFiles = facts->temporaryFiles] {
    const auto still = process::factsOf(pid);
    if (still && still->name == QLatin1String(kHelperProcessName)) ::kill(pid_t(pid), SIGKILL);
    for (const QString& file : temporaryFiles) {
      if (QFile::remove(file)) systemNote(QStringLiteral("Removed %1, left by that helper.").arg(file));
    }
  });
}

void HelperSupervisor::start() {
  if (process_.state() != QProcess::NotRunning) return;
  if (const qint64 holder = busNamePid(QLatin1String(kHelperBusName))) endStrayHelper(holder);
  stopping_ = false;
  readySinceStart_ = false;
  process_.setProcessChannelMode(QProcess::ForwardedChannels);
  process_.start(program_, {program_});
}

void HelperSupervisor::pause() {
  if (process_.state() == QProcess::Running) ::kill(pid_t(process_.processId()), process::kHoldSignal);
}

void HelperSupervisor::resume() {
  if (process_.state() == QProcess::Running) ::kill(pid_t(process_.processId()), process::kGoOnSignal);
}

void HelperSupervisor::terminate() {
  stopping_ = true;
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(kTerminateWaitMs)) {
    process_.kill();
    process_.waitForFinished(kTerminateWaitMs);
  }
}

void HelperSupervisor::onFinished() {
  if (stopping_) return;
  systemLog(QStringLiteral("TovixHelper ended (status %1), starting it again.").arg(process_.exitCode()));
  // Starts fail while a stray helper still holds the name; they do not count.
  if (!readySinceStart_ && strayPid_ == 0 && ++failedStarts_ >= kMaxFailedStarts) {
    emit unavailable(tr("The converter TovixHelper keeps stopping before it is ready."));
    return;
  }
  QTimer::singleShot(kRestartDelayMs, this, &HelperSupervisor::start);
}

}  // namespace tovix
