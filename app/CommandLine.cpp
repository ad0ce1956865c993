#include "app/CommandLine.h"

#include <QDir>

namespace tovix {
namespace {

QString usage() {
  return QStringLiteral(
      "Usage: tovix [FILE...]\n"
      "Convert movies for iPhone, iPod, Apple TV and QuickTime.\n\n"
      "Each FILE is added to the queue, as when it is dropped on the window. When\n"
      "Tovix is running already, the files go to its queue.\n\n"
      "Options:\n"
      "  --verbose      also print routine log lines (requests, completions, checks)\n"
      "                 and the media libraries' messages on standard error\n"
      "  -h, --help     show this help and exit\n"
      "  --version      show the version and exit\n");
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments, const QString& workingDirectory) {
  CommandLine command;
  const QDir base(workingDirectory);
  bool optionsEnded = false;
  for (const QString& argument : arguments) {
    if (!optionsEnded && argument == QLatin1String("--")) {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
      return {{}, 0, usage()};
    } else if (!optionsEnded && argument == QLatin1String("--verbose")) {
      command.verbose = true;
    } else if (!optionsEnded && argument == QLatin1String("--version")) {
      return {{}, 0, QStringLiteral("Tovix %1\n").arg(QLatin1String(TOVIX_VERSION))};
    } else if (!optionsEnded && argument.startsWith(u'-') && argument.size() > 1) {
      return {{}, 2, QStringLiteral("tovix: unknown option %1\n\n%2").arg(argument, usage())};
    } else {
      command.files << QDir::cleanPath(base.absoluteFilePath(argument));
    }
  }
  return command;
}

}  // namespace tovix
