#include "platform/Paths.h"

#include "platform/SystemLog.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tovix::paths {

QString home() { return QDir::homePath(); }

QString applicationDataFolder() {
  const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  const QString base = QDir::isAbsolutePath(dataHome) ? dataHome : home() + QStringLiteral("/.local/share");
  return base + QStringLiteral("/Tovix");
}

QString legacyApplicationDataFolder() { return home() + QStringLiteral("/Library/Application Support/Tovix"); }

void moveLegacyDataFolder() {
  const QString legacy = legacyApplicationDataFolder();
  if (!QFileInfo(legacy).isDir()) return;
  const QString current = applicationDataFolder();
  if (QFileInfo::exists(current)) {
    systemLog(QStringLiteral("%1 exists, so the older data folder %2 is left as it is.").arg(current, legacy));
    return;
  }
  if (QDir().mkpath(QFileInfo(current).path()) && QDir().rename(legacy, current))
    systemLog(QStringLiteral("Moved the data folder %1 to %2.").arg(legacy, current));
  else
    systemLog(QStringLiteral("Could not move the data folder %1 to %2; it is left as it is.").arg(legacy, current));
}

QString desktopFolder() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (desktop.isEmpty() || QDir(desktop) == QDir(home())) return home() + QStringLiteral("/Desktop");
  return desktop;
}

}  // namespace tovix::paths
