#include "app/HelperSupervisor.h"

#include "platform/SystemLog.h"

#include <QTimer>
#include <csignal>

namespace tovix {
namespace {
constexpr int kMaxFailedStarts = 3;
constexpr int kRestartDelayMs = 200;
constexpr int kTerminateWaitMs = 2000;
}  // namespace

HelperSupervisor::HelperSupervisor(QString program, QObject* parent)
    : QObject(parent),
      program_(std::move(program)),
      watcher_(new BusNameWatcher(QLatin1String(kHelperBusName), this)) {
  connect(watcher_, &BusNameWatcher::ownerAppeared, this, &HelperSupervisor::onOwnerAppeared);
  connect(watcher_, &BusNameWatcher::ownerVanished, this, [this] {
    owner_.clear();
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

void HelperSupervisor::start() {
  if (process_.state() != QProcess::NotRunning) return;
  stopping_ = false;
  readySinceStart_ = false;
  process_.setProcessChannelMode(QProcess::ForwardedChannels);
  process_.start(program_, {program_});
}

void HelperSupervisor::pause() {
  if (process_.state() == QProcess::Running) ::kill(pid_t(process_.processId()), SIGSTOP);
}

void HelperSupervisor::resume() {
  if (process_.state() == QProcess::Running) ::kill(pid_t(process_.processId()), SIGCONT);
}

void HelperSupervisor::terminate() {
  stopping_ = true;
  if (process_.state() == QProcess::NotRunning) return;
  resume();  // a held helper could not act on the termination
  process_.terminate();
  if (!process_.waitForFinished(kTerminateWaitMs)) {
    process_.kill();
    process_.waitForFinished(kTerminateWaitMs);
  }
}

void HelperSupervisor::onFinished() {
  if (stopping_) return;
  systemLog(QStringLiteral("TovixHelper ended (status %1), starting it again.").arg(process_.exitCode()));
  if (!readySinceStart_ && ++failedStarts_ >= kMaxFailedStarts) {
    emit unavailable(tr("The converter TovixHelper keeps stopping before it is ready."));
    return;
  }
  QTimer::singleShot(kRestartDelayMs, this, &HelperSupervisor::start);
}

}  // namespace tovix
