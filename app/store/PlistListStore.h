#pragma once
// An ordered list of dictionaries kept in memory and saved as an XML property
// list after every change: the queue's store. (The log keeps its own records,
// QueueLog, and shares only the saver, ListSaver.)
#include "app/store/ListSaver.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tovix {

// The path of a store file in the application data folder, its folders made;
// nullopt when they cannot be made.
std::optional<QString> storeFilePath(const QString& subfolder, const QString& fileName);

// What became of a store file that could not be read: moved aside under a
// name saying so, or, when even that failed, left where it is and never to
// be written. notice is the sentence for the user.
struct SetAside {
  bool moved;
  QString notice;
};
SetAside setAside(const QString& path);

class PlistListStore {
 public:
  // Finds or makes the application data folder and its subfolder, then loads
  // subfolder/fileName; nullopt when the folders cannot be made. A missing
  // file gives an empty list. A file that cannot be read as a list (damaged,
  // too large, too deep, not a regular file, another root type) is moved
  // aside under a name saying so, never overwritten; unreadableNotice() then
  // tells the user where it went.
  static std::optional<PlistListStore> open(const QString& subfolder, const QString& fileName);

  int count() const { return static_cast<int>(items_.size()); }
  bool contains(int index) const { return index >= 0 && index < count(); }

  // The dictionary at index; nullopt outside the list or for a non-dictionary.
  std::optional<QVariantMap> entry(int index) const;
  // The string under key of entry index; nullopt when there is none.
  std::optional<QString> string(int index, const char* key) const;

  // Every item has an identity for the life of the process, kept across the
  // changes of other items, so a caller can find "its" item again.
  quint64 idAt(int index) const { return contains(index) ? ids_[size_t(index)] : 0; }
  std::optional<int> indexOf(quint64 id) const;

  const QVariantList& items() const { return items_; }
  // Appends every entry with one save.
  void append(const QVariantList& entries);
  void replace(int index, const QVariantMap& entry);
  void remove(int index) { remove(std::vector<int>{index}); }
  // Removes the items at every index given, with one save.
  void remove(const std::vector<int>& indexes);
  // Removes every item for which drop answers true, keeping the others' order.
  void removeWhere(const std::function<bool(const QVariant&)>& drop);
  void clear();

  // Writes the whole list now; a failure leaves memory as it is and is
  // retried by the next change. Answers whether the file was written.
  bool save() const { return saver_->saveNow(items_); }
  // Waits until every change so far is in the file (a long list is saved in
  // the background).
  void waitForSaves() const { saver_->waitUntilIdle(); }
  const QString& path() const { return path_; }

  // Called after every save with whether it succeeded.
  void setSaveObserver(std::function<void(bool saved)> observer) { saver_->setObserver(std::move(observer)); }
  // A sentence for the user when the stored file could not be read and was
  // moved aside at open; empty otherwise.
  const QString& unreadableNotice() const { return unreadableNotice_; }

 private:
  PlistListStore(QString path, QVariantList items);
  // Saves after a change: at once for a short list, in the background for a
  // long one, whose file takes longer to write than a change may take.
  void changed();
  quint64 newId() { return ++lastId_; }

  QString path_;
  QVariantList items_;
  std::vector<quint64> ids_;
  quint64 lastId_ = 0;
  std::unique_ptr<ListSaver> saver_;
  QString unreadableNotice_;
};

}  // namespace tovix
