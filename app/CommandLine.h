#pragma once
// Tovix's command line: movie files to queue, --verbose, --help and --version. Read
// before any window is made, so that --help works without a display.
#include <QString>
#include <QStringList>
#include <optional>

namespace tovix {

struct CommandLine {
  QStringList files;            // absolute paths, in the order given
  std::optional<int> exitCode;  // set when the program should end at once
  QString output;               // what to print before ending (stdout for 0, else stderr)
  bool verbose = false;         // routine log lines on standard error too
};

// Reads the arguments after the program name; relative paths are taken from
// workingDirectory.
CommandLine parseCommandLine(const QStringList& arguments, const QString& workingDirectory);

}  // namespace tovix
