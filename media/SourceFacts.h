#pragma once
// Reads from an opened source what the export plan is decided from: each
// track's kind, codec, language and flags, and the picture's size, field
// order, transfer and rotation. Only media/ includes this header.
extern "C" {
#include <libavformat/avformat.h>
}

#include "media/ExportPlan.h"
#include "media/PictureSample.h"

#include <QString>
#include <functional>
#include <string>

namespace tovix::media {

// What the headers of input say, and the packets' rates (read from path,
// the file input was opened from, on the first question); the picture's
// sample is added with addSample.
MovieFacts headerFactsOf(const AVFormatContext* input, const QString& path);

// Samples the picture in stream from a second reader of path; safe to run on
// another thread while input is read. threads: decoding threads, 0 for as
// many as the machine has.
std::function<PictureSample()> pictureSamplerOf(const AVStream* stream, const QString& path, int threads = 0);

// What the sampled frames add to the headers' facts: woven fields, pulldown
// and black bars.
void addSample(PictureFacts& facts, const PictureSample& sample);

// What is known of a source picture: its header, and what the frames
// sampled through the movie showed.
PictureFacts pictureFactsOf(const AVStream* stream, const PictureSample& sample);

// Where the picture and sound of the movie in path end, in microseconds
// from its start, read from the packets at its end: a file cut short or
// with a wrong header ends earlier than its header says. 0 when unknown.
int64_t movieEndOf(const QString& path);

// The user's language as an ISO 639-2 code, from the system locale.
std::string userLanguage();

}  // namespace tovix::media
