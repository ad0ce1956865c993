#pragma once
// The user's preferences: ten keys over QSettings, one file per user.
#include "protocol/Protocol.h"
#include <QSettings>
#include <QString>
#include <optional>

namespace tovix {

class Preferences {
 public:
  static constexpr const char* iPhoneExportSwitch = protocol::info(protocol::Target::iPhone).preferenceKey;
  static constexpr const char* iPodExportSwitch = protocol::info(protocol::Target::iPod).preferenceKey;
  static constexpr const char* AppleTVExportSwitch = protocol::info(protocol::Target::AppleTV).preferenceKey;
  static constexpr const char* QTExportSwitch = protocol::info(protocol::Target::QuickTime).preferenceKey;
  static constexpr const char* PrefExportDiffDirectory = "PrefExportDiffDirectory";
  static constexpr const char* PrefExportDirectory = "PrefExportDirectory";
  static constexpr const char* PrefExportCompletePref = "PrefExportCompletePref";
  static constexpr const char* PrefDockBounce = "PrefDockBounce";
  static constexpr const char* SoftwareUpdateCheck = "SoftwareUpdateCheck";
  static constexpr const char* PrefQueueNotification = "PrefQueueNotification";
  static constexpr const char* PrefCopyDevicePictures = "PrefCopyDevicePictures";

  // The per-user store of this application (XDG_CONFIG_HOME/Tovix/Tovix.conf).
  Preferences();

  // false when nothing (or nothing readable as a boolean) is stored.
  bool boolForKey(const char* key) const;
  // Whether key has a stored value.
  bool hasValue(const char* key) const;
  void setBool(const char* key, bool value);

  // The stored string, nullopt when absent or empty.
  std::optional<QString> stringForKey(const char* key) const;
  void setString(const char* key, const QString& value);

  // SoftwareUpdateCheck reads as on when nothing is stored.
  bool softwareUpdateCheck() const;
  // PrefQueueNotification reads as on when nothing is stored.
  bool queueNotification() const;
  // PrefCopyDevicePictures reads as on when nothing is stored.
  bool copyDevicePictures() const;

  // Stores the first-run target defaults (iPhone and Apple TV on, iPod and
  // QuickTime off) for the keys that hold no value yet.
  void storeFirstRunDefaults();

  // The file that holds the preferences; the factory reset deletes it.
  QString fileName() const;

 private:
  mutable QSettings settings_;
};

}  // namespace tovix
