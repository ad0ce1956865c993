#pragma once
#include <QString>

namespace tovix::paths {

// The folder below home that holds Tovix's data.
inline constexpr const char* kApplicationDataSuffix = "/Library/Application Support/Tovix";

// The user's home folder, without a trailing slash.
QString home();

// home + "/Library/Application Support/Tovix".
QString applicationDataFolder();

// home + "/Desktop".
QString desktopFolder();

}  // namespace tovix::paths
