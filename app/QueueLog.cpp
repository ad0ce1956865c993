#include "app/QueueLog.h"

namespace tovix {

QString logTimeText(const QDateTime& moment) {
  const QDateTime local = moment.toLocalTime();
  const int offset = local.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
         (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
         QStringLiteral("%1%2")
             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QVariantMap logEntry(const QDateTime& moment, const QString& file, const QString& action) {
  return {{QLatin1String(LOG_ENTRY_TIME_KEY), logTimeText(moment)},
          {QLatin1String(LOG_ENTRY_FILE_KEY), file},
          {QLatin1String(LOG_ENTRY_ACTION_KEY), action}};
}

std::unique_ptr<QueueLog> QueueLog::init() {
  auto store = PlistListStore::open(QStringLiteral("Log"), QStringLiteral("Log.xml"));
  if (!store) return nullptr;
  return std::unique_ptr<QueueLog>(new QueueLog(std::move(*store)));
}

void QueueLog::write(const std::optional<QVariantMap>& entry) {
  // The log only grows: an entry is added to the end of Log.xml in place, so
  // its cost does not grow with the history.
  if (entry) store_.append(*entry, true);
}

}  // namespace tovix
