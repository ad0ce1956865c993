#include "platform/ProcessSignals.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace tovix::process {
namespace {

std::atomic_bool g_terminationRequested{false};
int g_wakePipe[2] = {-1, -1};

void onTerminate(int) {
  g_terminationRequested.store(true);
  if (g_wakePipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(g_wakePipe[1], &byte, 1);
  }
}

}  // namespace

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
