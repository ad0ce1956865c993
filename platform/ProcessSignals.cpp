#include "platform/ProcessSignals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <fcntl.h>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace tovix::process {
namespace {

std::atomic_bool g_terminationRequested{false};
std::atomic_bool g_holdRequested{false};
int g_wakePipe[2] = {-1, -1};

void onTerminate(int) {
  g_terminationRequested.store(true);
  if (g_wakePipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(g_wakePipe[1], &byte, 1);
  }
}

void onHold(int signal) { g_holdRequested.store(signal == kHoldSignal); }

QString firstLine(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLocal8Bit(file.readLine()).trimmed();
}

// The field after "key:" in /proc/PID/status.
QString statusField(const QString& status, QLatin1String key) {
  for (const QString& line : status.split(u'\n')) {
    if (line.startsWith(key)) return line.mid(key.size()).trimmed();
  }
  return {};
}

}  // namespace

void watchHold() {
  struct sigaction action {};
  action.sa_handler = onHold;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(kHoldSignal, &action, nullptr);
  sigaction(kGoOnSignal, &action, nullptr);
}

bool holdRequested() { return g_holdRequested.load(); }

std::optional<ProcessFacts> factsOf(qint64 pid) {
  const QString folder = QStringLiteral("/proc/%1").arg(pid);
  QFile statusFile(folder + QStringLiteral("/status"));
  if (pid <= 0 || !statusFile.open(QIODevice::ReadOnly)) return std::nullopt;
  const QString status = QString::fromLocal8Bit(statusFile.readAll());
  ProcessFacts facts;
  facts.name = statusField(status, QLatin1String("Name:"));
  const QString parent = statusField(status, QLatin1String("PPid:"));
  facts.parentName = firstLine(QStringLiteral("/proc/%1/comm").arg(parent));
  facts.sameUser = statusField(status, QLatin1String("Uid:")).section(u'\t', 0, 0).toUInt() == ::getuid();
  for (const QFileInfo& fd : QDir(folder + QStringLiteral("/fd")).entryInfoList(QDir::System | QDir::Files)) {
    const QString target = fd.symLinkTarget();
    const QString name = QFileInfo(target).fileName();
    if (name.startsWith(u'.') && name.endsWith(QLatin1String(".part"))) facts.temporaryFiles << target;
  }
  return facts;
}

void watchTermination() {
  if (g_wakePipe[0] < 0) [[maybe_unused]] int rc = pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = onTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
}

const std::atomic_bool& terminationRequested() { return g_terminationRequested; }

void endByTermination() {
  std::signal(SIGTERM, SIG_DFL);
  std::raise(SIGTERM);
  _exit(128 + SIGTERM);
}

void endWithParent() {
  const pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) std::raise(SIGTERM);
}

TerminationNotifier::TerminationNotifier(QObject* parent)
    : QObject(parent), notifier_(new QSocketNotifier(g_wakePipe[0], QSocketNotifier::Read, this)) {
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char buffer[16];
    while (read(g_wakePipe[0], buffer, sizeof buffer) > 0) {
    }
    emit terminated();
  });
}

}  // namespace tovix::process
