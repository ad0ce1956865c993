#pragma once
// Converts a whole movie to one target, synchronously on the calling thread.
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace tovix::media {

enum class ExportStatus { Finished, Failed, Cancelled };

struct ExportOutcome {
  ExportStatus status;
  QString reason;       // why it failed, in plain words for the user; empty when finished
  QString detail;       // the technical cause, for the system log
  QString writtenPath;  // the file actually written, when finished
};

// Receives the completed fraction (decoded time over duration): 0.0 at the
// start, then at most about ten times a second, then 1.0 at the end.
// Answering false cancels the export.
using ProgressDelegate = std::function<bool(double fraction)>;

struct ExportJob {
  QString source;
  QString output;
  uint32_t typeCode = 0;
  ProgressDelegate progress;
  // When set and true, the export is cancelled at the next packet.
  const std::atomic_bool* interrupt = nullptr;
  // x264 speed preset; empty for the default.
  QString speedPreset;
  // x264 CRF; 0 for the preset's (the benchmark's equal-size comparisons).
  int crf = 0;
};

// Writes job.output through a temporary file in the same folder that is
// renamed into place only when the whole movie was written; on failure or
// cancellation nothing is left behind. A file already at job.output is never
// replaced: the movie then takes the first free name of numberedPath().
ExportOutcome exportMovie(const ExportJob& job);

// output with " n" before its extension: "Trip_iPhone.m4v" gives
// "Trip_iPhone 2.m4v" for n = 2; n = 1 gives output itself.
QString numberedPath(const QString& output, int n);

// Moves from to the first free name among numberedPath(to, 1, 2, ...) without
// ever replacing a file, also when another writer takes a name meanwhile.
// Answers the name taken, or nullopt with errno set.
std::optional<QString> moveToFreeName(const QString& from, const QString& to);

// The temporary file an export of output writes first.
QString temporaryOutputPath(const QString& output);

}  // namespace tovix::media
