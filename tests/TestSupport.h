#pragma once
// Shared test fixtures: a throw-away home folder, clips made with the ffmpeg
// command line, and ffprobe's view of a file.
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tovix::test {

// Points HOME and the XDG folders at a fresh temporary folder for the life of
// the object, so nothing touches the real home folder.
class TemporaryHome {
 public:
  TemporaryHome();
  ~TemporaryHome();
  QString path() const { return dir_.path(); }
  QString dataFolder() const;

 private:
  QTemporaryDir dir_;
  QByteArray oldHome_;
};

// Runs a program to its end; answers its exit code (-1 when it could not run)
// and fills output with its standard output.
int runProgram(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
               int timeoutMs = 60000);

// Makes a clip with ffmpeg: lavfi inputs and output options given as
// arguments; answers the path or an empty string on failure.
QString makeClip(const QString& path, const QStringList& arguments);

// Common clip: 2 s of 160x120 test picture at 30 fps with a 440 Hz tone.
QStringList standardClipArguments(double seconds = 2.0);

// ffprobe's -show_streams -show_format JSON of a file.
QJsonObject probe(const QString& path);
// The first stream of codec_type kind ("video", "audio"), or an empty object.
QJsonObject firstStream(const QJsonObject& probed, const QString& kind);

// Writes bytes to a file.
void writeFile(const QString& path, const QByteArray& bytes);

}  // namespace tovix::test
