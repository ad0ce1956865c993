#include "app/store/QueueLog.h"

#include "app/store/PlistListStore.h"
#include "platform/PropertyList.h"
#include "platform/SystemLog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <array>

namespace tovix {
namespace {

// From this size on Log.xml is read on a thread: about a thousand entries.
constexpr qint64 kLoadOnThreadFrom = 256 * 1024;

constexpr std::array<const char*, 3> kFieldKeys{LOG_ENTRY_TIME_KEY, LOG_ENTRY_FILE_KEY, LOG_ENTRY_ACTION_KEY};

// An entry packed as one byte saying which fields are strings, then the
// three fields in UTF-8, each ended by a NUL (XML text holds no NUL).
QByteArray pack(const QVariant& item) {
  const QVariantMap map = item.toMap();
  QByteArray packed(1, '\0');
  for (size_t k = 0; k < kFieldKeys.size(); ++k) {
    const QVariant value = map.value(QLatin1String(kFieldKeys[k]));
    if (value.typeId() == QMetaType::QString) {
      packed[0] = char(packed[0] | (1 << k));
      packed += value.toString().toUtf8();
    }
    packed += '\0';
  }
  packed.squeeze();
  return packed;
}

std::optional<QString> unpackField(const QByteArray& packed, int which) {
  if (packed.isEmpty() || !(packed[0] & (1 << which))) return std::nullopt;
  qsizetype start = 1;
  for (int k = 0; k < which; ++k) start = packed.indexOf('\0', start) + 1;
  return QString::fromUtf8(packed.constData() + start, packed.indexOf('\0', start) - start);
}

QVariantMap unpack(const QByteArray& packed) {
  QVariantMap map;
  for (size_t k = 0; k < kFieldKeys.size(); ++k) {
    if (auto value = unpackField(packed, int(k))) map.insert(QLatin1String(kFieldKeys[k]), *value);
  }
  return map;
}

}  // namespace

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

QueueLog::QueueLog(QString path) : path_(std::move(path)), saver_(path_) {}

std::unique_ptr<QueueLog> QueueLog::init() {
  const auto path = storeFilePath(QStringLiteral("Log"), QStringLiteral("Log.xml"));
  if (!path) return nullptr;
  std::unique_ptr<QueueLog> log(new QueueLog(*path));
  log->load(QFileInfo(*path).size() >= kLoadOnThreadFrom);
  return log;
}

QueueLog::~QueueLog() {
  if (!loader_.joinable()) return;
  stopLoading_ = true;
  loader_.join();
  // The load did not end: the entries of this run go onto the file as it is.
  for (const QByteArray& record : records_) {
    if (!plist::appendToXmlArrayFile(path_, unpack(record)) && !QFileInfo::exists(path_)) {
      saveAll();
      return;
    }
  }
}

void QueueLog::load(bool onThread) {
  const auto read = [this] {
    std::vector<QByteArray> loaded;
    const plist::ReadStatus status = plist::readArrayFile(path_, [&](const QVariant& item) {
      if (stopLoading_) return false;
      loaded.push_back(pack(item));
      return true;
    });
    return std::pair{int(status), std::move(loaded)};
  };
  if (!onThread) {
    auto [status, loaded] = read();
    settleLoad(status, std::move(loaded));
    return;
  }
  loader_ = std::thread([this, read, load = loadNumber_.load()] {
    auto [status, loaded] = read();
    QMetaObject::invokeMethod(
        &context_,
        [this, load, status = status, loaded = std::move(loaded)]() mutable {
          if (load == loadNumber_) settleLoad(status, std::move(loaded));
        },
        Qt::QueuedConnection);
  });
}

void QueueLog::settleLoad(int status, std::vector<QByteArray> loaded) {
  if (loader_.joinable()) loader_.join();
  // Entries written while the file was read come after the stored ones.
  std::vector<QByteArray> written = std::move(records_);
  records_.clear();
  switch (plist::ReadStatus(status)) {
    case plist::ReadStatus::Read:
      records_ = std::move(loaded);
      saver_.setFileInSync(true);
      break;
    case plist::ReadStatus::Missing:
    case plist::ReadStatus::Cancelled:
      break;
    case plist::ReadStatus::Unreadable: {
      const SetAside aside = setAside(path_);
      if (!aside.moved) saver_.setReadOnly();
      unreadableNotice_ = aside.notice;
      break;
    }
  }
  for (QByteArray& record : written) {
    records_.push_back(std::move(record));
    if (!saver_.appendNow(unpack(records_.back()))) saveAll();
  }
  if (loadedObserver_) loadedObserver_();
}

void QueueLog::waitUntilLoaded() {
  while (!loaded()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

bool QueueLog::saveAll() {
  return saver_.saveNow([this](const QString& path) {
    return plist::writeXmlArrayFile(path, qsizetype(records_.size()),
                                    [this](qsizetype i) { return QVariant(unpack(records_[size_t(i)])); });
  });
}

std::optional<QVariantMap> QueueLog::entry(int i) const {
  if (i < 0 || i >= count()) return std::nullopt;
  return unpack(records_[size_t(i)]);
}

std::optional<QString> QueueLog::field(int i, int which) const {
  if (i < 0 || i >= count()) return std::nullopt;
  return unpackField(records_[size_t(i)], which);
}

void QueueLog::write(const std::optional<QVariantMap>& entry) {
  if (!entry) return;
  records_.push_back(pack(*entry));
  // Until the stored log is read, the entry waits in memory (see settleLoad).
  if (!loaded()) return;
  // The log only grows: an entry is added to the end of Log.xml in place, so
  // its cost does not grow with the history. Anything else (the first entry,
  // a failed save before) rewrites the whole file.
  if (!saver_.appendNow(*entry)) saveAll();
}

void QueueLog::clear() {
  if (loader_.joinable()) {
    // Whatever the load read is gone with the rest.
    ++loadNumber_;
    stopLoading_ = true;
    loader_.join();
    stopLoading_ = false;
  }
  records_.clear();
  saveAll();
}

}  // namespace tovix
