#pragma once
// What an export carries over besides pictures and sound: the movie's tags
// (title, artist, album, date, genre, description, comment, copyright, TV
// show, season and episode), its chapters with their names and times, and
// each track's language and title. Only media/ includes this header.
extern "C" {
#include <libavformat/avformat.h>
}

namespace tovix::media {

// Copies the tags a player shows from the source to the output.
void copyMovieTags(const AVFormatContext* source, AVFormatContext* output);

// Copies every chapter with its name and times, taken from the movie's
// start at startUs as the export's other times are; a chapter that ends
// before that start goes. False when out of memory.
bool copyChapters(const AVFormatContext* source, AVFormatContext* output, int64_t startUs);

// Fits the output's chapters into a movie that ends at endUs (microseconds):
// chapters beginning at or after the end go, the last one kept ends there.
// The first chapter always stays: the muxer has a chapter track for them.
void fitChapters(AVFormatContext* output, int64_t endUs);

// Copies a track's language and title (also as its handler name, which is
// where MP4 players look for a track's name).
void copyTrackTags(const AVStream* source, AVStream* output);

}  // namespace tovix::media
