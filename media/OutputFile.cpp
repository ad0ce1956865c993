#include "media/OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovix::media {
namespace {

constexpr int kMaxNumberedNames = 9999;
constexpr QStringView kRefusedByFat = u"\\:*?\"<>|";

QString inFolderOf(const QString& path, const QString& name) {
  return QStringLiteral("%1/%2").arg(QFileInfo(path).path(), name);
}

// rename(2) that fails with EEXIST instead of replacing; where the file
// system cannot do that, a hard link (which never replaces) and an unlink;
// where it has no links either (FAT, some FUSE file systems), a rename after
// a check, the best such a file system allows.
bool renameWithoutReplacing(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.constData(), to.constData()) == 0) {
    ::unlink(from.constData());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) return false;
  struct stat existing {};
  if (::lstat(to.constData(), &existing) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.constData(), to.constData()) == 0;
}

// Renames without replacing; a name the folder refuses is tried once more
// in its portable form. Answers the name taken.
std::optional<QString> renameToName(const QByteArray& from, const QString& to) {
  if (renameWithoutReplacing(from, QFile::encodeName(to))) return to;
  const QString portable = inFolderOf(to, portableName(QFileInfo(to).fileName()));
  // The kernel's FAT driver answers EINVAL, FAT through FUSE answers EPERM.
  if ((errno != EINVAL && errno != EPERM) || portable == to) return std::nullopt;
  if (renameWithoutReplacing(from, QFile::encodeName(portable))) return portable;
  return std::nullopt;
}

}  // namespace

QString numberedPath(const QString& output, int n) {
  if (n <= 1) return output;
  const QFileInfo file(output);
  const QString name = file.fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString numbered = dot > 0 ? QStringLiteral("%1 %2%3").arg(name.left(dot)).arg(n).arg(name.mid(dot))
                                   : QStringLiteral("%1 %2").arg(name).arg(n);
  return QStringLiteral("%1/%2").arg(file.path(), numbered);
}

QString fittedName(const QString& name, qsizetype keptTail) {
  if (name.toUtf8().size() <= kMaxNameBytes) return name;
  const QString tail = name.right(std::min(keptTail, name.size()));
  const QStringView head = QStringView(name).left(name.size() - tail.size());
  // The head's characters while they fit, counted in UTF-8 bytes in one pass
  // (a name of a megabyte takes no longer than its length).
  const qsizetype budget = kMaxNameBytes - tail.toUtf8().size();
  qsizetype bytes = 0, kept = 0;
  while (kept < head.size()) {
    const char16_t c = head[kept].unicode();
    const bool pair = QChar::isHighSurrogate(c) && kept + 1 < head.size() && head[kept + 1].isLowSurrogate();
    const qsizetype size = pair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    if (bytes + size > budget) break;
    bytes += size;
    kept += pair ? 2 : 1;
  }
  return head.left(kept).trimmed().toString() + tail;
}

QString portableName(const QString& name) {
  QString portable = name;
  for (QChar& c : portable) {
    if (kRefusedByFat.contains(c) || c.unicode() < 0x20) c = u'_';
  }
  return portable;
}

std::optional<QString> moveToFreeName(const QString& from, const QString& to, qsizetype keptTail) {
  const QByteArray source = QFile::encodeName(from);
  for (int n = 1; n <= kMaxNumberedNames; ++n) {
    const QString numbered = QFileInfo(numberedPath(to, n)).fileName();
    // " n" goes before the extension, inside the kept end of the name.
    const qsizetype kept = keptTail + (numbered.size() - QFileInfo(to).fileName().size());
    if (const auto taken = renameToName(source, inFolderOf(to, fittedName(numbered, kept)))) return taken;
    if (errno != EEXIST) return std::nullopt;
  }
  errno = EEXIST;
  return std::nullopt;
}

QString temporaryOutputPath(const QString& output) {
  static const QString kTemporarySuffix = QStringLiteral(".part");
  const QString name = QStringLiteral(".%1%2").arg(portableName(QFileInfo(output).fileName()), kTemporarySuffix);
  return inFolderOf(output, fittedName(name, kTemporarySuffix.size()));
}

}  // namespace tovix::media
