#pragma once
// Converts a whole movie to one target, synchronously on the calling thread.
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

namespace tovix::media {

enum class ExportStatus { Finished, Failed, Cancelled };

struct ExportOutcome {
  ExportStatus status;
  QString reason;  // why it failed or was cancelled; empty when finished
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
};

// Writes job.output through a temporary file in the same folder that is
// renamed into place only when the whole movie was written; on failure or
// cancellation nothing is left behind.
ExportOutcome exportMovie(const ExportJob& job);

// The temporary file an export of output writes first.
QString temporaryOutputPath(const QString& output);

}  // namespace tovix::media
