#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>

namespace tovix::test {

TemporaryHome::TemporaryHome() : oldHome_(qgetenv("HOME")) {
  const QByteArray home = dir_.path().toUtf8();
  qputenv("HOME", home);
  qputenv("XDG_CONFIG_HOME", home + "/.config");
  qputenv("XDG_DATA_HOME", home + "/.local/share");
  qputenv("XDG_CACHE_HOME", home + "/.cache");
  qputenv("XDG_RUNTIME_DIR", home + "/.runtime");
  QDir().mkpath(dir_.path() + "/.runtime");
  QFile::setPermissions(dir_.path() + "/.runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  // QSettings reads XDG_CONFIG_HOME only once per process; point it here too.
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path() + "/.config");
}

TemporaryHome::~TemporaryHome() { qputenv("HOME", oldHome_); }

QString TemporaryHome::dataFolder() const {
  return dir_.path() + QStringLiteral("/.local/share/Tovix");
}

int runProgram(const QString& program, const QStringList& arguments, QByteArray* output,
               int timeoutMs) {
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.start(program, arguments);
  if (!process.waitForStarted() || !process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    return -1;
  }
  if (output) *output = process.readAllStandardOutput();
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString makeClip(const QString& path, const QStringList& arguments) {
  QStringList all{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
  all << arguments << path;
  return runProgram(QStringLiteral("ffmpeg"), all) == 0 ? path : QString();
}

QStringList standardClipArguments(double seconds) {
  const QString duration = QString::number(seconds);
  return {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=" + duration,
          "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + duration,
          "-pix_fmt", "yuv420p", "-shortest"};
}

QJsonObject probe(const QString& path) {
  QByteArray json;
  runProgram(QStringLiteral("ffprobe"),
             {"-v", "error", "-show_streams", "-show_format", "-of", "json", path}, &json);
  return QJsonDocument::fromJson(json).object();
}

QJsonObject firstStream(const QJsonObject& probed, const QString& kind) {
  for (const QJsonValue& stream : probed.value("streams").toArray()) {
    if (stream.toObject().value("codec_type").toString() == kind) return stream.toObject();
  }
  return {};
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes);
}

}  // namespace tovix::test
