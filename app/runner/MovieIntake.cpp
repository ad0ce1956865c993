#include "app/runner/MovieIntake.h"

#include "media/MediaProbe.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
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

namespace {
// Runs of digits compare by their value, the rest as the locale sorts it,
// case aside; done by hand, since the system's collation may not count.
bool naturalLess(const QString& a, const QString& b, const QCollator& collator) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto run = [](const QString& text, qsizetype from) {
      qsizetype to = from;
      const bool digits = text[from].isDigit();
      while (to < text.size() && text[to].isDigit() == digits) ++to;
      return std::pair{QStringView(text).mid(from, to - from), digits};
    };
    const auto [left, leftDigits] = run(a, i);
    const auto [right, rightDigits] = run(b, j);
    int order = 0;
    if (leftDigits && rightDigits) {
      // Without leading zeros, a longer number is a larger one.
      const auto value = [](QStringView number) {
        while (number.size() > 1 && number.front() == u'0') number = number.mid(1);
        return number;
      };
      const QStringView x = value(left), y = value(right);
      order = x.size() != y.size() ? int(x.size() - y.size()) : x.compare(y);
    } else {
      order = collator.compare(left, right);
    }
    if (order != 0) return order < 0;
    i += left.size();
    j += right.size();
  }
  return a.size() - i < b.size() - j;
}
}  // namespace

void sortNaturally(QStringList& names) {
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(names.begin(), names.end(),
                   [&collator](const QString& a, const QString& b) { return naturalLess(a, b, collator); });
}

namespace {
// How deep into a folder, and how many files at most, the intake looks.
constexpr int kMaxFolderDepth = 8;
constexpr qsizetype kMaxFolderMovies = 10000;

void collectMovies(const QString& folder, int depth, QStringList& found) {
  const QDir dir(folder);
  // Links are not followed: nothing outside the folder is taken.
  QStringList files = dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::NoSort);
  sortNaturally(files);
  for (const QString& name : files) {
    if (found.size() >= kMaxFolderMovies) return;
    if (dropExtensions().contains(extensionOf(name))) found << dir.filePath(name);
  }
  if (depth >= kMaxFolderDepth) return;
  QStringList folders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::NoSort);
  sortNaturally(folders);
  for (const QString& name : folders) collectMovies(dir.filePath(name), depth + 1, found);
}
}  // namespace

QStringList moviesInFolder(const QString& folder) {
  QStringList found;
  collectMovies(folder, 0, found);
  return found;
}

std::optional<QString> refusalOf(const QString& path, bool testExtension) {
  if (QDir::isRelativePath(path)) return QObject::tr("it is not given as a full path");
  const QFileInfo file(path);
  if (!file.exists()) return QObject::tr("it is missing");
  if (file.isDir()) return QObject::tr("it is a folder with no movies in it");
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
  connect(&watcher_, &QFutureWatcher<Tested>::finished, this, &MovieIntake::onBatchTested);
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
  batch_.clear();
  while (!waiting_.empty() && size_t(batch_.size()) < kBatchSize) {
    batch_.append(std::move(waiting_.front()));
    waiting_.pop_front();
  }
  watcher_.setFuture(QtConcurrent::mapped(&pool_, batch_, [](const Job& job) {
    yieldToTheWindow();
    // A folder gives the movies inside it, tested in its place.
    if (const QStringList inside = QFileInfo(job.path).isDir() ? moviesInFolder(job.path) : QStringList(); !inside.isEmpty())
      return Tested{{job.path, std::nullopt}, inside, job.testExtension};
    auto refusal = refusalOf(job.path, job.testExtension);
    return Tested{{refusal ? job.path : queuedPathOf(job.path), std::move(refusal)}, {}, job.testExtension};
  }));
}

void MovieIntake::onBatchTested() {
  const QList<Tested> results = watcher_.future().results();
  std::vector<Verdict> verdicts;
  // The movies of the first folder go next, and what was given after the
  // folder waits for them (it is tested again), so the queue keeps the order.
  qsizetype at = 0;
  while (at < results.size() && results[at].inside.isEmpty()) verdicts.push_back(results[at++].verdict);
  if (at < results.size()) {
    std::vector<Job> next;
    for (const QString& movie : results[at].inside) next.push_back({movie, results[at].testExtension});
    given_ += int(results[at].inside.size()) - 1;
    next.insert(next.end(), batch_.begin() + at + 1, batch_.end());
    waiting_.insert(waiting_.begin(), next.begin(), next.end());
  }
  tested_ += int(verdicts.size());
  emit batchTested(verdicts);
  testNextBatch();
}

}  // namespace tovix
