#include "app/PlistListStore.h"

#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "protocol/Protocol.h"

#include <QDir>
#include <QFileInfo>

namespace tovix {
namespace {

// Makes dir unless a folder is there. Missing folders between home and the
// data folder are made too: a fresh home has no "Library" folder.
bool ensureFolder(const QString& dir) {
  QFileInfo existing(dir);
  if (existing.isDir()) return true;
  return QDir().mkpath(dir) && QFileInfo(dir).isDir();
}

}  // namespace

PlistListStore::PlistListStore(QString path, QVariantList items)
    : path_(std::move(path)), items_(std::move(items)) {}

std::optional<PlistListStore> PlistListStore::open(const QString& subfolder,
                                                   const QString& fileName) {
  const QString home = paths::home();
  if (home.isEmpty() || !QFileInfo(home).isDir()) return std::nullopt;
  const QString dataFolder = paths::applicationDataFolder();
  const QString folder = QStringLiteral("%1/%2").arg(dataFolder, subfolder);
  if (!ensureFolder(dataFolder) || !ensureFolder(folder)) return std::nullopt;
  const QString path = QStringLiteral("%1/%2").arg(folder, fileName);
  const std::optional<QVariant> stored = plist::readFile(path);
  QVariantList items;
  if (stored && stored->typeId() == QMetaType::QVariantList) items = stored->toList();
  return PlistListStore(path, std::move(items));
}

std::optional<QVariantMap> PlistListStore::entry(int index) const {
  if (!contains(index) || items_.at(index).typeId() != QMetaType::QVariantMap) return std::nullopt;
  return items_.at(index).toMap();
}

std::optional<QString> PlistListStore::string(int index, const char* key) const {
  const std::optional<QVariantMap> map = entry(index);
  return map ? protocol::stringValue(*map, key) : std::nullopt;
}

void PlistListStore::append(const QVariantMap& entry) {
  items_.append(entry);
  save();
}

void PlistListStore::replace(int index, const QVariantMap& entry) {
  if (!contains(index)) return;
  items_[index] = entry;
  save();
}

void PlistListStore::remove(int index) {
  if (!contains(index)) return;
  items_.removeAt(index);
  save();
}

void PlistListStore::setItems(QVariantList items) {
  items_ = std::move(items);
  save();
}

void PlistListStore::save() const { plist::writeXmlFile(path_, items_); }

}  // namespace tovix
