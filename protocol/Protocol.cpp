#include "protocol/Protocol.h"

#include "platform/Paths.h"

namespace tovix::protocol {

QString resultText(ExportResult result) {
  switch (result) {
    case ExportResult::Failed:
      return QLatin1String(kResultFailed);
    case ExportResult::Cancelled:
      return QLatin1String(kResultCancelled);
    case ExportResult::Finished:
      break;
  }
  return QLatin1String(kResultFinished);
}

ExportResult resultFromText(const QString& text) {
  if (text == QLatin1String(kResultFailed)) return ExportResult::Failed;
  if (text == QLatin1String(kResultCancelled)) return ExportResult::Cancelled;
  return ExportResult::Finished;
}

ExportResult resultOf(const QVariantMap& completion) {
  return resultFromText(stringValue(completion, EXPORT_RESULT_KEY).value_or(QString()));
}


std::optional<Target> targetForTypeKey(const QString& typeKey) {
  for (const TargetInfo& candidate : kTargets) {
    if (typeKey == QLatin1String(candidate.typeKey)) return candidate.target;
  }
  return std::nullopt;
}

namespace {
QString flagPath(const char* name) {
  return QStringLiteral("%1/%2").arg(paths::applicationDataFolder(), QLatin1String(name));
}

// Trailing slashes do not count as part of the last component ("/a/b/" is b).
QString withoutTrailingSlashes(const QString& path) {
  qsizetype end = path.size();
  while (end > 1 && path.at(end - 1) == u'/') --end;
  return path.left(end);
}
}  // namespace

QString stopFlagPath() { return flagPath("TovixStop"); }
QString quitFlagPath() { return flagPath("TovixQuit"); }

QString lastPathComponent(const QString& path) {
  const QString trimmed = withoutTrailingSlashes(path);
  if (trimmed == QLatin1String("/")) return trimmed;
  return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

QString deletingPathExtension(const QString& path) {
  const QString trimmed = withoutTrailingSlashes(path);
  const qsizetype componentStart = trimmed.lastIndexOf(u'/') + 1;
  const qsizetype dot = trimmed.lastIndexOf(u'.');
  // A leading dot names a hidden file, not an extension.
  if (dot <= componentStart) return trimmed;
  return trimmed.left(dot);
}

QString outputPath(const QString& moviePath, Target target,
                   const std::optional<QString>& directory) {
  const QString suffix = QLatin1String(info(target).fileSuffix);
  if (directory)
    return QStringLiteral("%1/%2%3").arg(*directory,
                                         deletingPathExtension(lastPathComponent(moviePath)), suffix);
  return deletingPathExtension(moviePath) + suffix;
}

}  // namespace tovix::protocol

namespace tovix::protocol {

namespace {
QString quoted(const QString& text) {
  QString out = QStringLiteral("\"");
  for (const QChar c : text) {
    if (c == u'"' || c == u'\\') out += u'\\';
    if (c == u'\n') out += QLatin1String("\\n");
    else if (c.unicode() < 0x20) out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    else out += c;
  }
  return out + u'"';
}
}  // namespace

std::optional<QString> stringValue(const QVariantMap& map, const char* key) {
  const auto it = map.constFind(QLatin1String(key));
  if (it == map.cend() || it->typeId() != QMetaType::QString) return std::nullopt;
  return it->toString();
}

QString describe(const QVariantMap& dictionary) {
  QString text = QStringLiteral("{");
  for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
    const QVariant& value = it.value();
    const QString shown = value.typeId() == QMetaType::QString ? quoted(value.toString())
                                                                : quoted(value.toString()).mid(1).chopped(1);
    text += QStringLiteral("%1 = %2; ").arg(quoted(it.key()).mid(1).chopped(1), shown);
  }
  return text + u'}';
}

}  // namespace tovix::protocol
