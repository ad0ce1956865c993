#pragma once
#include <QString>

namespace tovix::paths {

// The user's home folder, without a trailing slash.
QString home();

// $XDG_DATA_HOME/Tovix, or ~/.local/share/Tovix when XDG_DATA_HOME is unset
// or not absolute: the queue, the log and the flag files.
QString applicationDataFolder();

// Where earlier versions kept the data: ~/Library/Application Support/Tovix.
QString legacyApplicationDataFolder();

// Moves the data folder of earlier versions to applicationDataFolder() once.
// When the new folder exists already the old one is left untouched. Every
// outcome but "nothing to move" is logged.
void moveLegacyDataFolder();

// The user's desktop folder as the XDG user dirs name it, else ~/Desktop.
QString desktopFolder();

}  // namespace tovix::paths
