#include "app/store/Preferences.h"

namespace tovix {

Preferences::Preferences()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovix"),
                QStringLiteral("Tovix")) {}

bool Preferences::boolForKey(const char* key) const {
  const QVariant value = settings_.value(QLatin1String(key));
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  const QString text = value.toString().trimmed().toLower();
  return text == QLatin1String("true") || text == QLatin1String("1") ||
         text == QLatin1String("yes");
}

bool Preferences::hasValue(const char* key) const { return settings_.contains(QLatin1String(key)); }

void Preferences::setBool(const char* key, bool value) {
  settings_.setValue(QLatin1String(key), value);
  settings_.sync();
}

std::optional<QString> Preferences::stringForKey(const char* key) const {
  const QString text = settings_.value(QLatin1String(key)).toString();
  if (text.isEmpty()) return std::nullopt;
  return text;
}

void Preferences::setString(const char* key, const QString& value) {
  settings_.setValue(QLatin1String(key), value);
  settings_.sync();
}

bool Preferences::softwareUpdateCheck() const {
  return !hasValue(SoftwareUpdateCheck) || boolForKey(SoftwareUpdateCheck);
}

bool Preferences::copyDevicePictures() const {
  return !hasValue(PrefCopyDevicePictures) || boolForKey(PrefCopyDevicePictures);
}

bool Preferences::queueNotification() const {
  return !hasValue(PrefQueueNotification) || boolForKey(PrefQueueNotification);
}

void Preferences::storeFirstRunDefaults() {
  const std::pair<const char*, bool> defaults[] = {
      {iPhoneExportSwitch, true},
      {iPodExportSwitch, false},
      {AppleTVExportSwitch, true},
      {QTExportSwitch, false},
  };
  for (const auto& [key, value] : defaults) {
    if (!hasValue(key)) setBool(key, value);
  }
}

QString Preferences::fileName() const { return settings_.fileName(); }

}  // namespace tovix
