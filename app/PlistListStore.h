#pragma once
// An ordered list of dictionaries kept in memory and saved whole, as an XML
// property list, after every change. Shared by the queue and the log stores.
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

namespace tovix {

class PlistListStore {
 public:
  // Finds or makes the application data folder and its subfolder, then loads
  // subfolder/fileName; nullopt when the folders cannot be made. A missing,
  // unreadable or non-list file gives an empty list.
  static std::optional<PlistListStore> open(const QString& subfolder, const QString& fileName);

  int count() const { return static_cast<int>(items_.size()); }
  bool contains(int index) const { return index >= 0 && index < count(); }

  // The dictionary at index; nullopt outside the list or for a non-dictionary.
  std::optional<QVariantMap> entry(int index) const;
  // The string under key of entry index; nullopt when there is none.
  std::optional<QString> string(int index, const char* key) const;

  const QVariantList& items() const { return items_; }
  void append(const QVariantMap& entry);
  void replace(int index, const QVariantMap& entry);
  void remove(int index);
  void setItems(QVariantList items);

  // Writes the whole list; a failure leaves memory as it is and is retried by
  // the next change.
  void save() const;
  const QString& path() const { return path_; }

 private:
  PlistListStore(QString path, QVariantList items);
  QString path_;
  QVariantList items_;
};

}  // namespace tovix
