#include "app/store/PlistListStore.h"

#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/SystemLog.h"
#include "protocol/Protocol.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace tovix {
namespace {

// Makes dir unless a folder is there. Missing folders between home and the
// data folder are made too: a fresh home may have no ~/.local/share.
bool ensureFolder(const QString& dir) {
  QFileInfo existing(dir);
  if (existing.isDir()) return true;
  return QDir().mkpath(dir) && QFileInfo(dir).isDir();
}

// Moves an unreadable store file to "<name>.unreadable-YYYYMMDD-HHMMSS" (with
// a number when that is taken); answers the new path, or empty on failure.
QString moveAside(const QString& path) {
  const QString stem = QStringLiteral("%1.unreadable-%2")
                           .arg(path, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
  for (int n = 1; n < 100; ++n) {
    const QString target = n == 1 ? stem : QStringLiteral("%1-%2").arg(stem).arg(n);
    if (QFileInfo::exists(target)) continue;
    return QFile::rename(path, target) ? target : QString();
  }
  return {};
}

}  // namespace

// From this length on a change is saved in the background: at about 5 ms per
// thousand entries, a longer list would hold the window up too long.
constexpr int kBackgroundSaveFrom = 2000;

PlistListStore::PlistListStore(QString path, QVariantList items)
    : path_(std::move(path)), items_(std::move(items)), saver_(std::make_unique<ListSaver>(path_)) {
  ids_.reserve(size_t(items_.size()));
  for (qsizetype i = 0; i < items_.size(); ++i) ids_.push_back(newId());
}

std::optional<QString> storeFilePath(const QString& subfolder, const QString& fileName) {
  const QString home = paths::home();
  if (home.isEmpty() || !QFileInfo(home).isDir()) return std::nullopt;
  const QString dataFolder = paths::applicationDataFolder();
  const QString folder = QStringLiteral("%1/%2").arg(dataFolder, subfolder);
  if (!ensureFolder(dataFolder) || !ensureFolder(folder)) return std::nullopt;
  return QStringLiteral("%1/%2").arg(folder, fileName);
}

SetAside setAside(const QString& path) {
  const QString fileName = QFileInfo(path).fileName();
  const QString aside = moveAside(path);
  if (aside.isEmpty()) {
    // Left where it is, the file would be overwritten by the next save.
    systemLog(QStringLiteral("%1 cannot be read nor moved aside; it will not be saved.").arg(path));
    return {false, QObject::tr("%1 could not be read. It was left as it is, and changes to it "
                               "will not be saved.").arg(fileName)};
  }
  systemLog(QStringLiteral("%1 cannot be read; moved to %2.").arg(path, aside));
  return {true, QObject::tr("%1 could not be read and was kept as %2. Tovix started with it empty.")
                    .arg(fileName, QFileInfo(aside).fileName())};
}

std::optional<PlistListStore> PlistListStore::open(const QString& subfolder,
                                                   const QString& fileName) {
  const std::optional<QString> path = storeFilePath(subfolder, fileName);
  if (!path) return std::nullopt;
  const plist::ReadResult stored = plist::readFile(*path);
  const bool isList = stored.status == plist::ReadStatus::Read &&
                      stored.value.typeId() == QMetaType::QVariantList;
  PlistListStore store(*path, isList ? stored.value.toList() : QVariantList());
  store.saver_->setFileInSync(isList);
  if (isList || stored.status == plist::ReadStatus::Missing) return store;
  const SetAside aside = setAside(*path);
  if (!aside.moved) store.saver_->setReadOnly();
  store.unreadableNotice_ = aside.notice;
  return store;
}

std::optional<int> PlistListStore::indexOf(quint64 id) const {
  for (size_t i = 0; i < ids_.size(); ++i) {
    if (ids_[i] == id) return int(i);
  }
  return std::nullopt;
}

std::optional<QVariantMap> PlistListStore::entry(int index) const {
  if (!contains(index) || items_.at(index).typeId() != QMetaType::QVariantMap) return std::nullopt;
  return items_.at(index).toMap();
}

std::optional<QString> PlistListStore::string(int index, const char* key) const {
  const std::optional<QVariantMap> map = entry(index);
  return map ? protocol::stringValue(*map, key) : std::nullopt;
}

void PlistListStore::append(const QVariantList& entries) {
  if (entries.isEmpty()) return;
  items_.append(entries);
  for (qsizetype i = 0; i < entries.size(); ++i) ids_.push_back(newId());
  changed();
}

void PlistListStore::replace(int index, const QVariantMap& entry) {
  if (!contains(index)) return;
  items_[index] = entry;
  changed();
}

void PlistListStore::remove(const std::vector<int>& indexes) {
  std::vector<int> gone;
  for (const int index : indexes)
    if (contains(index)) gone.push_back(index);
  if (gone.empty()) return;
  // From the last to the first, so each index still names its item.
  std::sort(gone.begin(), gone.end(), std::greater<>());
  gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
  for (const int index : gone) {
    items_.removeAt(index);
    ids_.erase(ids_.begin() + index);
  }
  changed();
}

void PlistListStore::removeWhere(const std::function<bool(const QVariant&)>& drop) {
  QVariantList keptItems;
  std::vector<quint64> keptIds;
  for (qsizetype i = 0; i < items_.size(); ++i) {
    if (drop(items_.at(i))) continue;
    keptItems.append(items_.at(i));
    keptIds.push_back(ids_[size_t(i)]);
  }
  items_ = std::move(keptItems);
  ids_ = std::move(keptIds);
  changed();
}

void PlistListStore::clear() {
  items_.clear();
  ids_.clear();
  changed();
}

void PlistListStore::changed() {
  if (items_.size() >= kBackgroundSaveFrom)
    saver_->saveLater(items_);
  else
    save();
}

}  // namespace tovix
