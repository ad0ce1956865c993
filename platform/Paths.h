#pragma once
#include <QString>
#include <optional>

namespace tovix::paths {

// The user's home folder, without a trailing slash.
QString home();

// The queue, the log and the flag files: $XDG_DATA_HOME/Tovix (or
// ~/.local/share/Tovix when XDG_DATA_HOME is unset or not absolute), except
// while the data folder of earlier versions could not be moved there: then
// that one, where it is, so the user's queue and log are always the ones used.
QString applicationDataFolder();

// Where earlier versions kept the data: ~/Library/Application Support/Tovix.
QString legacyApplicationDataFolder();

// Moves the data folder of earlier versions to $XDG_DATA_HOME/Tovix once:
// renamed on the same file system; elsewhere copied, the copy checked, then
// the old one removed. A link is left as it is and followed. When the new
// folder exists already the old one is left untouched. Every outcome but
// "nothing to move" is logged; a move that could not be done answers a
// sentence for the user (the old folder stays in use).
std::optional<QString> moveLegacyDataFolder();

// The data folder of earlier versions when it is left beside the one in use
// (both exist and the older is no link to follow); nullopt otherwise.
std::optional<QString> unusedLegacyDataFolder();

// The user's desktop folder as the XDG user dirs name it, else ~/Desktop.
QString desktopFolder();

// Where interrupted exports keep their finished work: $XDG_CACHE_HOME/Tovix/
// Kept exports (or ~/.cache/...), one folder per movie, export type and
// output, named by a digest of the three ("tovix-work-" and 40 hex digits),
// so that nothing else there is taken for one.
QString keptWorkRoot();
QString keptWorkFolder(const QString& movie, const QString& typeKey, const QString& output);
// Whether a name under the root is one of those folders.
bool isKeptWorkName(const QString& name);

}  // namespace tovix::paths
