#pragma once
// The action log: time, movie and action of each export step, saved to
// Log.xml after every change.
#include "app/PlistListStore.h"

#include <QDateTime>
#include <memory>

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
  // The log with Log.xml loaded; nullptr when its folders cannot be made.
  static std::unique_ptr<QueueLog> init();

  // Appends the entry and saves; a missing entry does nothing.
  void write(const std::optional<QVariantMap>& entry);
  int count() const { return store_.count(); }
  std::optional<QVariantMap> entry(int i) const { return store_.entry(i); }
  std::optional<QString> time(int i) const { return store_.string(i, LOG_ENTRY_TIME_KEY); }
  std::optional<QString> file(int i) const { return store_.string(i, LOG_ENTRY_FILE_KEY); }
  std::optional<QString> action(int i) const { return store_.string(i, LOG_ENTRY_ACTION_KEY); }
  void clear() { store_.clear(); }

  const QString& logPath() const { return store_.path(); }
  PlistListStore& store() { return store_; }

 private:
  explicit QueueLog(PlistListStore store) : store_(std::move(store)) {}
  PlistListStore store_;
};

}  // namespace tovix
