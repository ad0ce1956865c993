// Store costs as the history grows: loading Log.xml and Queue.xml, appending
// one log entry and changing one queue entry, at several sizes. Prints one
// line per size; run it from bench/run-store-bench.sh (not run by CI).
#include "app/store/Preferences.h"
#include "app/store/Queue.h"
#include "app/store/QueueLog.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tovix;

namespace {

constexpr int kRepeats = 20;
constexpr int kLargestQueue = 100000;

QVariantList logEntries(int count) {
  QVariantList entries;
  entries.reserve(count);
  const QDateTime now = QDateTime::currentDateTime();
  for (int i = 0; i < count; ++i)
    entries.append(logEntry(now, QStringLiteral("/home/someone/Movies/Holiday clip %1.mov").arg(i),
                            i % 2 ? QStringLiteral("Export finished.") : QStringLiteral("Starting iPhone export ...")));
  return entries;
}

QVariantList queueEntries(int count) {
  QVariantList entries;
  entries.reserve(count);
  for (int i = 0; i < count; ++i) {
    const QString path = QStringLiteral("/home/someone/Movies/Holiday clip %1.mov").arg(i);
    entries.append(QVariantMap{{protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, path},
                               {protocol::QUEUE_ENTRY_DISPLAY_KEY, QFileInfo(path).fileName()},
                               {protocol::QUEUE_ENTRY_IPHONE_KEY, "On"},
                               {protocol::QUEUE_ENTRY_IPOD_KEY, "Off"},
                               {protocol::QUEUE_ENTRY_APPLETV_KEY, "On"},
                               {protocol::QUEUE_ENTRY_QT_KEY, "Off"},
                               {protocol::QUEUE_ENTRY_STATUS_KEY, "Queued"}});
  }
  return entries;
}

double millisecondsPer(const std::function<void()>& work) {
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < kRepeats; ++i) work();
  return double(clock.nsecsElapsed()) / 1e6 / kRepeats;
}

long peakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  QList<int> sizes;
  for (int i = 1; i < argc; ++i) sizes << QString::fromLatin1(argv[i]).toInt();
  if (sizes.isEmpty()) sizes = {100, 10000, 100000};
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  Preferences prefs;
  std::printf("%10s %12s %12s %16s %12s %12s %18s %22s\n", "entries", "Log.xml MB", "log load ms",
              "log append ms", "Queue.xml MB", "queue load ms", "queue change ms", "peak RSS MiB log/all");
  for (const int size : sizes) {
    QDir(home.path()).removeRecursively();
    const QString data = home.path() + "/.local/share/Tovix";
    QDir().mkpath(data + "/Log");
    QDir().mkpath(data + "/Queue");
    const QString logPath = data + "/Log/Log.xml";
    const QString queuePath = data + "/Queue/Queue.xml";
    // A queue never grows as long as a log: the largest sizes measure the log alone.
    const bool withQueue = size <= kLargestQueue;
    // The files are made by a child process, so the peak memory below is
    // that of loading and changing them.
    const pid_t maker = fork();
    if (maker == 0) {
      plist::writeXmlFile(logPath, logEntries(size));
      if (withQueue) plist::writeXmlFile(queuePath, queueEntries(size));
      _exit(0);
    }
    waitpid(maker, nullptr, 0);

    std::unique_ptr<QueueLog> log;
    const double logLoad = millisecondsPer([&] {
      log.reset();
      log = QueueLog::init();
      log->waitUntilLoaded();
    });
    const auto entry = logEntry(QDateTime::currentDateTime(), QStringLiteral("/x.mov"), QStringLiteral("Export finished."));
    const double logAppend = millisecondsPer([&] { log->write(entry); });
    const long logPeak = peakRssMiB();
    std::unique_ptr<Queue> queue;
    const double queueLoad = withQueue ? millisecondsPer([&] {
      queue.reset();
      queue = Queue::init(prefs);
    }) : 0;
    const double queueChange = withQueue ? millisecondsPer([&] { queue->toggleiPod(size / 2); }) : 0;
    std::printf("%10d %12.1f %12.1f %16.3f %12.1f %12.1f %18.1f %8ld/%ld\n", size,
                QFileInfo(logPath).size() / 1e6, logLoad, logAppend, QFileInfo(queuePath).size() / 1e6,
                queueLoad, queueChange, logPeak, peakRssMiB());
    if (log->count() != size + kRepeats || (queue && queue->count() != size)) std::printf("  (unexpected counts)\n");
  }
  return 0;
}
