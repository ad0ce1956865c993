#pragma once
// Reads from an opened source what the export plan is decided from: each
// track's kind, codec, language and flags, and the picture's size, field
// order, transfer and rotation. Only media/ includes this header.
extern "C" {
#include <libavformat/avformat.h>
}

#include "media/ExportPlan.h"

#include <QString>
#include <string>

namespace tovix::media {

// path is the file input was opened from: a picture whose stream names no
// field order is sampled from a second reader, so input is not moved.
MovieFacts movieFactsOf(const AVFormatContext* input, const QString& path);

// What the picture path needs to know of a source picture: a picture whose
// stream names no field order is sampled from a second reader of path.
PictureFacts pictureFactsOf(const AVStream* stream, const QString& path);

// Whether the first frames of the picture in stream index of path are
// interlaced, by the fields' likeness.
bool framesLookInterlaced(const QString& path, int index);

// The user's language as an ISO 639-2 code, from the system locale.
std::string userLanguage();

}  // namespace tovix::media
