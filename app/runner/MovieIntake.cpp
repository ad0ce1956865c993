#include "app/runner/MovieIntake.h"

#include "media/MediaProbe.h"

#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentMap>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tovix {

const QStringList& dropExtensions() {
  static const QStringList extensions{"mov", "avi", "mp4",  "mp3",  "m4a",  "m4p", "aiff", "aif",
                                      "caf", "wav", "dv",   "wmv",  "3g2",  "3gp", "3gp2", "3gpp",
                                      "divx", "flv", "mpg", "mpeg", "moov", "ogm", "qt",   "xvid",
                                      // the containers people's cameras, phones and downloads use
                                      "mkv", "webm", "m4v", "mts", "m2ts", "ts", "ogv"};
  return extensions;
}

const QStringList& openPanelTypes() {
  static const QStringList types{
      "avi", "mp4", "m4v", "mov", "mp3", "m4a", "m4p", "aiff", "aif", "aifc", "wav", "dv", "wmv", "caf",
      "3g2", "3gp", "3gp2", "3gpp", "divx", "DivX", "DiVX", "flv", "mpg", "mpeg", "moov", "ogm", "qt", "xvid",
      "AVI", "MP4", "M4V", "MOV", "MP3", "M4A", "M4P", "AIFF", "AIF", "AIFC", "WAV", "DV", "WMV", "CAF",
      "3G2", "3GP", "3GP2", "3GPP", "DIVX", "FLV", "MPG", "MPEG", "MOOV", "OGM", "QT", "XVID",
      "mkv", "webm", "mts", "m2ts", "ts", "ogv", "MKV", "WEBM", "MTS", "M2TS", "TS", "OGV"};
  return types;
}

namespace {
QString extensionOf(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

}  // namespace

bool isValidFileForDrop(const QString& path) {
  const QFileInfo file(path);  // exists() and isDir() follow links
  if (!file.exists() || file.isDir()) return false;
  return dropExtensions().contains(extensionOf(path));
}

namespace {
// Large enough to keep every core busy, small enough that rows appear often.
constexpr size_t kBatchSize = 48;
constexpr int kTestingNiceness = 19;

// Gives the testing thread the lowest share of the processor, once: the
// window's thread then runs first whenever both want a core. (Qt's thread
// priorities do not reach ordinary Linux threads; a thread's nice value does.)
void yieldToTheWindow() {
  thread_local bool lowered = false;
  if (lowered) return;
  lowered = true;
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kTestingNiceness);
}
}  // namespace

std::optional<QString> refusalOf(const QString& path, bool testExtension) {
  if (QDir::isRelativePath(path)) return QObject::tr("it is not given as a full path");
  const QFileInfo file(path);
  if (!file.exists()) return QObject::tr("it is missing");
  if (file.isDir()) return QObject::tr("it is a folder");
  if (testExtension && !isValidFileForDrop(path)) return QObject::tr("it is not a movie file");
  if (!media::canOpen(path)) return QObject::tr("it is not a movie Tovix can read");
  return std::nullopt;
}

namespace {
// Every way in (the open panel, a drop, the command line, a hand-over)
// queues a link as the file it points to: its row bears the file's name and
// its exports land beside the file.
QString queuedPathOf(const QString& path) {
  const QString resolved = QFileInfo(path).canonicalFilePath();
  return resolved.isEmpty() ? path : resolved;
}
}  // namespace

MovieIntake::MovieIntake(QObject* parent) : QObject(parent) {
  connect(&watcher_, &QFutureWatcher<Verdict>::finished, this, &MovieIntake::onBatchTested);
}

MovieIntake::~MovieIntake() {
  waiting_.clear();
  watcher_.waitForFinished();
}

void MovieIntake::take(const QStringList& paths, bool testExtension) {
  if (!busy()) tested_ = given_ = 0;
  for (const QString& path : paths) waiting_.push_back({path, testExtension});
  given_ += int(paths.size());
  if (!testing_) testNextBatch();
}

void MovieIntake::testNextBatch() {
  testing_ = !waiting_.empty();
  if (!testing_) {
    emit finished();
    return;
  }
  QList<Job> batch;
  while (!waiting_.empty() && size_t(batch.size()) < kBatchSize) {
    batch.append(std::move(waiting_.front()));
    waiting_.pop_front();
  }
  watcher_.setFuture(QtConcurrent::mapped(&pool_, batch, [](const Job& job) {
    yieldToTheWindow();
    auto refusal = refusalOf(job.path, job.testExtension);
    return Verdict{refusal ? job.path : queuedPathOf(job.path), std::move(refusal)};
  }));
}

void MovieIntake::onBatchTested() {
  const QList<Verdict> results = watcher_.future().results();
  tested_ += int(results.size());
  emit batchTested(std::vector<Verdict>(results.begin(), results.end()));
  testNextBatch();
}

}  // namespace tovix
