#include "platform/Paths.h"

#include "platform/SystemLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QObject>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tovix::paths {

QString home() { return QDir::homePath(); }

namespace {

QString xdgDataFolder() {
  const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  const QString base = QDir::isAbsolutePath(dataHome) ? dataHome : home() + QStringLiteral("/.local/share");
  return base + QStringLiteral("/Tovix");
}

QString cacheHome() {
  const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
  return QDir::isAbsolutePath(cache) ? cache : home() + QStringLiteral("/.cache");
}

constexpr const char* kKeptWorkPrefix = "tovix-work-";

QByteArray digestOf(const QString& path) {
  QFile file(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return {};
  return hash.result();
}

// Copies the folder tree from into to (which must not exist) and checks
// every file of the copy against its original. Only folders and regular
// files are copied; anything else fails the copy, which is then removed.
bool copyTreeChecked(const QString& from, const QString& to) {
  const auto copied = [&] {
    if (!QDir().mkpath(to)) return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QFileInfo entry(it.next());
      const QString target = to + entry.filePath().mid(from.size());
      if (entry.isSymLink()) return false;
      if (entry.isDir()) {
        if (!QDir().mkpath(target)) return false;
      } else if (!entry.isFile() || !QFile::copy(entry.filePath(), target)) {
        return false;
      } else if (const QByteArray copy = digestOf(target); copy.isEmpty() || copy != digestOf(entry.filePath())) {
        return false;
      }
    }
    return true;
  }();
  if (!copied) QDir(to).removeRecursively();
  return copied;
}

// Removes the folders above a moved folder that the move left empty, up to
// the home folder; rmdir never removes a folder that holds anything.
void removeEmptiedParents(const QString& moved) {
  for (QString folder = QFileInfo(moved).path(); folder.startsWith(home() + u'/');
       folder = QFileInfo(folder).path()) {
    if (!QDir().rmdir(folder)) return;
  }
}

// Moves legacy to current; false with errno set when it could not be done.
bool moveFolder(const QString& legacy, const QString& current) {
  const QString parent = QFileInfo(current).path();
  if (!QDir().mkpath(parent)) {
    if (errno == EEXIST) errno = ENOTDIR;  // a file stands where a folder must be
    return false;
  }
  if (::rename(QFile::encodeName(legacy).constData(), QFile::encodeName(current).constData()) == 0) return true;
  if (errno != EXDEV) return false;
  // Another file system: copy beside the new place, then put the copy there
  // with one rename, so a half copy never stands under the new name.
  const QString staging = QStringLiteral("%1/.Tovix.moving").arg(parent);
  QDir(staging).removeRecursively();
  if (!copyTreeChecked(legacy, staging)) {
    errno = EIO;
    return false;
  }
  if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(current).constData()) != 0) {
    const int error = errno;
    QDir(staging).removeRecursively();
    errno = error;
    return false;
  }
  if (!QDir(legacy).removeRecursively())
    systemLog(QStringLiteral("Copied the data folder %1 to %2, but could not remove it.").arg(legacy, current));
  return true;
}

}  // namespace

QString applicationDataFolder() {
  const QString current = xdgDataFolder();
  const QString legacy = legacyApplicationDataFolder();
  if (!QFileInfo::exists(current) && QFileInfo(legacy).isDir()) return legacy;
  return current;
}

QString keptWorkRoot() { return cacheHome() + QStringLiteral("/Tovix/Kept exports"); }

QString keptWorkFolder(const QString& movie, const QString& typeKey, const QString& output) {
  QCryptographicHash digest(QCryptographicHash::Sha1);
  for (const QString& part : {movie, typeKey, output}) {
    digest.addData(part.toUtf8());
    digest.addData(QByteArray(1, '\0'));
  }
  return keptWorkRoot() + u'/' + QLatin1String(kKeptWorkPrefix) + QString::fromLatin1(digest.result().toHex());
}

bool isKeptWorkName(const QString& name) {
  static const QRegularExpression pattern(QStringLiteral("^tovix-work-[0-9a-f]{40}$"));
  return pattern.match(name).hasMatch();
}

QString legacyApplicationDataFolder() { return home() + QStringLiteral("/Library/Application Support/Tovix"); }

std::optional<QString> moveLegacyDataFolder() {
  const QString legacy = legacyApplicationDataFolder();
  if (!QFileInfo(legacy).isDir()) return std::nullopt;
  const QString current = xdgDataFolder();
  if (QFileInfo::exists(current)) {
    systemLog(QStringLiteral("%1 exists, so the older data folder %2 is left as it is.").arg(current, legacy));
    return std::nullopt;
  }
  if (QFileInfo(legacy).isSymLink()) {
    // Moved, a relative link could point nowhere; followed, it keeps working.
    systemLog(QStringLiteral("The older data folder %1 is a link; it is left as it is and used.").arg(legacy));
    return std::nullopt;
  }
  if (moveFolder(legacy, current)) {
    systemNote(QStringLiteral("Moved the data folder %1 to %2.").arg(legacy, current));
    removeEmptiedParents(legacy);
    return std::nullopt;
  }
  const QString why = QString::fromLocal8Bit(std::strerror(errno));
  systemLog(QStringLiteral("Could not move the data folder %1 to %2 (%3); it stays in use where it is.")
                .arg(legacy, current, why));
  return QObject::tr("Tovix could not move its data folder to %1 (%2), so it keeps your queue and log in %3.")
      .arg(current, why, legacy);
}

std::optional<QString> unusedLegacyDataFolder() {
  const QString legacy = legacyApplicationDataFolder();
  const QFileInfo older(legacy);
  if (!older.isDir() || older.isSymLink() || !QFileInfo::exists(xdgDataFolder())) return std::nullopt;
  return legacy;
}

QString desktopFolder() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (desktop.isEmpty() || QDir(desktop) == QDir(home())) return home() + QStringLiteral("/Desktop");
  return desktop;
}

}  // namespace tovix::paths
