#include "app/store/ListSaver.h"

#include "platform/PropertyList.h"
#include "platform/SystemLog.h"

namespace tovix {

ListSaver::~ListSaver() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool ListSaver::finished(bool ok) {
  fileInSync_ = ok;
  report(ok);
  return ok;
}

void ListSaver::report(bool ok) {
  if (!ok) systemLog(QStringLiteral("Could not save %1.").arg(path_));
  if (observer_) observer_(ok);
}

bool ListSaver::saveNow(const QVariantList& items) {
  return saveNow([&items](const QString& path) { return plist::writeXmlFile(path, items); });
}

bool ListSaver::saveNow(const std::function<bool(const QString& path)>& write) {
  waitUntilIdle();
  return finished(!readOnly_ && write(path_));
}

bool ListSaver::appendNow(const QVariant& entry) {
  waitUntilIdle();
  if (readOnly_ || !fileInSync_ || !plist::appendToXmlArrayFile(path_, entry)) return false;
  return finished(true);
}

void ListSaver::saveLater(QVariantList items) {
  if (readOnly_) {
    finished(false);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    pending_ = std::move(items);
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  wake_.notify_all();
}

void ListSaver::waitUntilIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !pending_ && !busy_; });
}

void ListSaver::run() {
  for (;;) {
    QVariantList items;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return pending_ || stopping_; });
      if (!pending_) return;
      items = std::move(*pending_);
      pending_.reset();
      busy_ = true;
    }
    const bool ok = plist::writeXmlFile(path_, items);
    fileInSync_ = ok;
    QMetaObject::invokeMethod(&context_, [this, ok] { report(ok); }, Qt::QueuedConnection);
    {
      std::lock_guard lock(mutex_);
      busy_ = false;
    }
    idle_.notify_all();
  }
}

}  // namespace tovix
