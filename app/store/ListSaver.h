#pragma once
// Saves a list to its property-list file. A long list is written on a thread
// of its own, so a change never waits for a long file; saves happen in order,
// and a newer list replaces an older one that has not started yet. Results of
// background saves reach the observer on the thread that made the saver.
#include <QObject>
#include <QString>
#include <QVariantList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace tovix {

class ListSaver {
 public:
  explicit ListSaver(QString path) : path_(std::move(path)) {}
  // Finishes the saves still pending.
  ~ListSaver();
  ListSaver(const ListSaver&) = delete;
  ListSaver& operator=(const ListSaver&) = delete;

  // Writes items now, after any background save; answers whether it worked.
  bool saveNow(const QVariantList& items);
  // The same with a writer of the whole file of its own.
  bool saveNow(const std::function<bool(const QString& path)>& write);
  // Appends one entry to the file in place, after any background save.
  bool appendNow(const QVariant& entry);
  // Hands items to the background thread and returns at once.
  void saveLater(QVariantList items);
  void waitUntilIdle();

  // Never write: the file could not be read nor moved aside.
  void setReadOnly() { readOnly_ = true; }
  // Whether the file holds exactly what was last saved.
  bool fileInSync() const { return fileInSync_; }
  void setFileInSync(bool inSync) { fileInSync_ = inSync; }
  void setObserver(std::function<void(bool saved)> observer) { observer_ = std::move(observer); }

 private:
  void run();
  bool finished(bool ok);
  void report(bool ok);

  const QString path_;
  bool readOnly_ = false;
  std::atomic_bool fileInSync_ = false;
  std::function<void(bool)> observer_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::optional<QVariantList> pending_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
  QObject context_;  // results queued to it are dropped once the saver is gone
};

}  // namespace tovix
