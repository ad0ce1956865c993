#pragma once
// Tests files on their way into the queue away from the window's thread:
// whether each exists, is a file, has a movie extension and opens as a movie.
// Files are tested several at a time and their verdicts come back in the
// order the files were given, one batch at a time, so rows appear as files
// pass and the window keeps answering however many files arrive.
#include <QFutureWatcher>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <deque>
#include <optional>

namespace tovix {

// Whether a dropped path may go on to the movie-open test: it exists (links
// followed), is not a folder, and its lower-cased extension is in the drop list.
bool isValidFileForDrop(const QString& path);

// The extensions the drop path accepts (24, lower case, in order compared).
const QStringList& dropExtensions();
// The open panel's file types (54, in order).
const QStringList& openPanelTypes();

// Why a file cannot be queued, or nullopt when it can. Reads the disk and
// opens the movie: call it off the window's thread.
std::optional<QString> refusalOf(const QString& path, bool testExtension);

// The files with a movie extension inside folder and its sub-folders (eight
// deep at most, links not followed), each folder's own first, in natural
// name order: "Episode 2" before "Episode 10". Reads the disk.
QStringList moviesInFolder(const QString& folder);

// Sorts names as people count: case aside, numbers by their value.
void sortNaturally(QStringList& names);

class MovieIntake : public QObject {
  Q_OBJECT
 public:
  struct Verdict {
    QString path;
    std::optional<QString> refusal;
  };

  explicit MovieIntake(QObject* parent = nullptr);
  // Waits for the batch under test; the files not yet tested are dropped.
  ~MovieIntake() override;

  // Adds files to be tested after those already waiting.
  void take(const QStringList& paths, bool testExtension);
  bool busy() const { return testing_; }
  // Files tested and given so far since the intake was last idle.
  int tested() const { return tested_; }
  int given() const { return given_; }

 signals:
  // A batch of verdicts, in the order the files were given.
  void batchTested(const std::vector<tovix::MovieIntake::Verdict>& verdicts);
  // Every file given has been tested.
  void finished();

 private:
  struct Job {
    QString path;
    bool testExtension;
  };
  // A file's verdict, or the movies of a folder, to be tested next.
  struct Tested {
    Verdict verdict;
    QStringList inside;
    bool testExtension = true;
  };
  void testNextBatch();
  void onBatchTested();

  std::deque<Job> waiting_;
  QList<Job> batch_;  // the files under test, in the order given
  QFutureWatcher<Tested> watcher_;
  // Testing threads of their own, below the window's thread in priority.
  QThreadPool pool_;
  // From the first batch until the last verdict was handed out; a take()
  // from a handler of batchTested only adds to the waiting files.
  bool testing_ = false;
  int tested_ = 0;
  int given_ = 0;
};

}  // namespace tovix
