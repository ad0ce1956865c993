#pragma once
// Converts a whole movie to one target, synchronously on the calling thread.
#include "media/OutputFile.h"
#include "protocol/Protocol.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace tovix::media {

struct ExportOutcome {
  protocol::ExportResult status;
  QString reason;       // why it failed, in plain words for the user; empty when finished
  QString detail;       // the technical cause, for the system log
  QString writtenPath;  // the file actually written, when finished
  // What of the source the target cannot hold, in a few words ("2 picture
  // subtitle tracks, 1 sound track"); empty when nothing was left out.
  QString leftOut;
  // What became of each track of the source and why (ExportPlan::describe);
  // empty when the export ended before its plan was made.
  QString plan{};
  // A device target's picture went into the file as it was (it plays as it is).
  bool pictureCopied = false;
  // The share of the movie the export found done and went on from (0 for
  // none), and the share it keeps for next time when it stopped.
  double resumedFrom = 0;
  double keptFraction = 0;
  // Frames of the picture converted in this run.
  int64_t framesEncoded = 0;
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
  // x264 options ("subme=8:trellis=2") in place of the target's own, for the
  // benchmark's tuning; empty keeps the target's.
  QString x264Options;
  // The end of output's name that a shortened name keeps whole ("_iPod.m4v").
  QString outputSuffix;
  // Device targets copy a picture they play as it is (the user may turn it off).
  bool copyWhatPlays = true;
  // The length of the pieces a converted picture is made in, in
  // microseconds of the movie; 0 for a minute (tests ask for less).
  int64_t pieceUs = 0;
};

// Writes job.output through a temporary file in the same folder that is
// renamed into place only when the whole movie was written; on failure or
// cancellation nothing is left behind. A file already at job.output is never
// replaced: the movie then takes the first free name of numberedPath().
ExportOutcome exportMovie(const ExportJob& job);

// Removes the work interrupted exports kept that no export has touched for
// a month, and nothing else.
void removeStaleKeptWork();

}  // namespace tovix::media
