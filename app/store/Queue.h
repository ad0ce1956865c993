#pragma once
// The conversion queue: movies with four target flags and a status each,
// saved to Queue.xml after every change.
#include "app/store/PlistListStore.h"
#include "protocol/Protocol.h"

#include <memory>

namespace tovix {

class Preferences;

namespace flag {
inline constexpr const char* On = "On";
inline constexpr const char* Off = "Off";
inline constexpr const char* OnDone = "OnDone";
inline constexpr const char* OffDone = "OffDone";
}  // namespace flag

namespace status {
inline constexpr const char* Queued = "Queued";
inline constexpr const char* Started = "Started";
inline constexpr const char* Complete = "Complete";
// A target of the entry failed to export; stays until the entry leaves.
inline constexpr const char* Failed = "Failed";
}  // namespace status


class Queue {
 public:
  // The store with Queue.xml loaded; nullptr when its folders cannot be made.
  static std::unique_ptr<Queue> init(const Preferences& prefs);

  int count() const { return store_.count(); }
  std::optional<QVariantMap> entry(int i) const { return store_.entry(i); }
  std::optional<QString> movie(int i) const;
  std::optional<QString> movieDisplayName(int i) const;
  std::optional<QString> status(int i) const;

  // A target flag; "OffDone" when there is no entry i or it lacks the flag.
  QString flag(int i, protocol::Target target) const;
  QString iPhone(int i) const { return flag(i, protocol::Target::iPhone); }
  QString iPod(int i) const { return flag(i, protocol::Target::iPod); }
  QString appletv(int i) const { return flag(i, protocol::Target::AppleTV); }
  QString qt(int i) const { return flag(i, protocol::Target::QuickTime); }

  // The runner's rule: the next export is the first entry, in queue order,
  // with a movie path and a target still "On", for its first such target in
  // target order (so a target switched on during a run goes when its entry's
  // turn comes). An entry without a movie path (only a damaged Queue.xml has
  // one) has nothing to export.
  std::optional<int> nextEntry() const;
  std::optional<protocol::Target> pendingTarget(int i) const;
  // How many exports are still to do: every target "On" of every entry.
  int pendingExports() const;

  // Appends the movie with flags from the preferences and status "Queued".
  void addMovie(const QString& moviePath) { addMovies({moviePath}); }
  // The same for several movies, in order, with one save.
  void addMovies(const QStringList& moviePaths);

  // The entry a completion or request dictionary belongs to: among the entries
  // with its movie path, the first whose flag for its target is "On", else the
  // first. Sets *index only on a match.
  std::optional<QVariantMap> findMatchingEntry(const QVariantMap& d, int* index) const;

  // Settles the completed target of the matching entry (see the .cpp).
  void updateMovie(const QVariantMap& completion);
  // Settles the completed target of entry i, the entry the export was
  // requested for.
  void updateMovie(const QVariantMap& completion, int i);

  // The entry's identity for this process, kept while other entries come and
  // go; 0 for no entry.
  quint64 idAt(int i) const { return store_.idAt(i); }
  std::optional<int> indexOf(quint64 id) const { return store_.indexOf(id); }

  // Flips "On" and "Off"; done flags stay as they are.
  void toggle(int i, protocol::Target target);
  void toggleiPhone(int i) { toggle(i, protocol::Target::iPhone); }
  void toggleiPod(int i) { toggle(i, protocol::Target::iPod); }
  void toggleappletv(int i) { toggle(i, protocol::Target::AppleTV); }
  void toggleqt(int i) { toggle(i, protocol::Target::QuickTime); }

  // Whether the export of that target of entry i failed.
  bool failed(int i, protocol::Target target) const;
  // The file entry i's latest finished export wrote, if any.
  std::optional<QString> latestOutput(int i) const;
  // Turns entry i's failed targets back to "On", to be exported again; the
  // status becomes "Started", or "Queued" when no other target is done.
  void retryFailed(int i);

  void deleteMovie(int i) { store_.remove(i); }
  // Deletes every entry listed, with one save.
  void deleteMovies(const std::vector<int>& rows) { store_.remove(rows); }
  // Removes every entry whose status is exactly "Complete".
  void clearFinished();
  void clear() { store_.clear(); }
  void write() const { store_.save(); }

  const QString& qPath() const { return store_.path(); }
  PlistListStore& store() { return store_; }

 private:
  Queue(PlistListStore store, const Preferences& prefs);
  PlistListStore store_;
  const Preferences& prefs_;
};

}  // namespace tovix
