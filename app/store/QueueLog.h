#pragma once
// The action log: time, movie and action of each export step, kept in
// Log.xml. Each entry is added to the end of the file in place. In memory an
// entry takes about a hundred bytes, so a log of a million entries stays
// small; a long Log.xml is read on a thread of its own while the window
// works, and entries written meanwhile follow the loaded ones.
#include "app/store/ListSaver.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace tovix {

inline constexpr const char* LOG_ENTRY_TIME_KEY = "LOG_ENTRY_TIME_KEY";
inline constexpr const char* LOG_ENTRY_FILE_KEY = "LOG_ENTRY_FILE_KEY";
inline constexpr const char* LOG_ENTRY_ACTION_KEY = "LOG_ENTRY_ACTION_KEY";

// A moment in local time as "2008-03-15 14:02:11 -0500".
QString logTimeText(const QDateTime& moment);

// A log entry of three strings.
QVariantMap logEntry(const QDateTime& moment, const QString& file, const QString& action);

class QueueLog {
 public:
  // The log of Log.xml: loaded at once when the file is short, else on a
  // thread (see loaded()); nullptr when its folders cannot be made.
  static std::unique_ptr<QueueLog> init();
  // Stops a load under way; entries written meanwhile are added to the file.
  ~QueueLog();

  // Appends the entry and saves; a missing entry does nothing.
  void write(const std::optional<QVariantMap>& entry);
  int count() const { return int(records_.size()); }
  // The entry's three strings; keys whose stored value was no string are
  // left out, as are keys of no log entry.
  std::optional<QVariantMap> entry(int i) const;
  std::optional<QString> time(int i) const { return field(i, 0); }
  std::optional<QString> file(int i) const { return field(i, 1); }
  std::optional<QString> action(int i) const { return field(i, 2); }
  void clear();

  const QString& logPath() const { return path_; }
  // Whether Log.xml has been read; until then only entries written since
  // start-up are in the log.
  bool loaded() const { return !loader_.joinable(); }
  // Called on the thread that made the log once a load on a thread ends.
  void setLoadedObserver(std::function<void()> observer) { loadedObserver_ = std::move(observer); }
  void waitUntilLoaded();
  // A sentence for the user when Log.xml could not be read and was moved
  // aside; empty otherwise (and until loaded).
  const QString& unreadableNotice() const { return unreadableNotice_; }
  void setSaveObserver(std::function<void(bool saved)> observer) { saver_.setObserver(std::move(observer)); }

 private:
  explicit QueueLog(QString path);
  std::optional<QString> field(int i, int which) const;
  void load(bool onThread);
  // Takes in what a load read (status and entries) on the log's thread.
  void settleLoad(int status, std::vector<QByteArray> loaded);
  bool saveAll();

  QString path_;
  ListSaver saver_;
  std::vector<QByteArray> records_;  // each entry packed, see QueueLog.cpp
  QString unreadableNotice_;
  std::function<void()> loadedObserver_;
  std::thread loader_;
  std::atomic_bool stopLoading_ = false;
  std::atomic_int loadNumber_ = 0;  // a load's result counts only while it is the latest
  QObject context_;  // a load's result queued to it is dropped once the log is gone
};

}  // namespace tovix
