#pragma once
// The last touch to a written MP4 or MOV file, which FFmpeg's muxer cannot
// give: subtitle tracks turned off (the muxer enables the first track of each
// kind, and an enabled subtitle track shows without being asked for), a
// surround track tied to the stereo track players fall back to (a 'fall'
// track reference, so a player lists the language once), and the movie box
// moved before the media data so playback starts before the whole file has
// arrived. Only media/ includes this header.
#include <QString>
#include <utility>
#include <vector>

namespace tovix::media {

struct MovieTouches {
  // (track, fallback) pairs of track IDs: track falls back to fallback.
  std::vector<std::pair<int, int>> fallbacks;
};

// Rewrites the file at path, written with its movie box at the end, with
// the movie box first and the touches made. False when the file cannot be
// read or written; a movie box it cannot understand is left where it is.
bool finishMovieFile(const QString& path, const MovieTouches& touches);

}  // namespace tovix::media
