#include "platform/Paths.h"

#include <QDir>

namespace tovix::paths {

QString home() { return QDir::homePath(); }

QString applicationDataFolder() {
  return QStringLiteral("%1%2").arg(home(), QLatin1String(kApplicationDataSuffix));
}

QString desktopFolder() { return home() + QStringLiteral("/Desktop"); }

}  // namespace tovix::paths
