#include "platform/SystemLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <cstdio>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace tovix {
namespace {

constexpr const char* kVerboseVariable = "TOVIX_VERBOSE";

QString programName() {
  const QString name = QCoreApplication::applicationName();
  if (!name.isEmpty()) return name;
  return QString::fromLocal8Bit(program_invocation_short_name);
}

void writeLine(const QString& message, bool toStandardError) {
  static std::once_flag opened;
  static QByteArray ident;
  std::call_once(opened, [] {
    ident = programName().toLocal8Bit();
    openlog(ident.constData(), LOG_PID, LOG_USER);
  });
  const QByteArray text = message.toUtf8();
  if (toStandardError) {
    const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8() +
                            programName().toUtf8() + '[' + QByteArray::number(getpid()) + "] " + text + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
  }
  syslog(LOG_NOTICE, "%s", text.constData());
}

}  // namespace

void systemLog(const QString& message) { writeLine(message, true); }

void systemNote(const QString& message) { writeLine(message, verboseLog()); }

bool verboseLog() { return qEnvironmentVariable(kVerboseVariable) == QLatin1String("1"); }

void setVerboseLog(bool verbose) {
  if (verbose)
    qputenv(kVerboseVariable, "1");
  else
    qunsetenv(kVerboseVariable);
}

}  // namespace tovix
