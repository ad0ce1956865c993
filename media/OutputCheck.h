#pragma once
// The last look at a written export before it is called finished: the file
// opens, holds the tracks the plan made and lasts as long as the movie. Only
// the file's index is read; nothing is decoded.
#include <QString>
#include <cstdint>
#include <optional>

namespace tovix::media {

struct PlannedOutput {
  int pictures = 0;
  int sounds = 0;
  int subtitles = 0;
  int covers = 0;
  int64_t endUs = 0;    // where the movie ends; 0 when unknown (nothing to compare)
  int64_t frameUs = 0;  // how far the file's length may stray from it
};

// nullopt when the file at path holds what was planned; else what is wrong.
std::optional<QString> checkWrittenMovie(const QString& path, const PlannedOutput& planned);

}  // namespace tovix::media
