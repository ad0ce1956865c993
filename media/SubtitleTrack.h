#pragma once
// A text subtitle track (SRT, ASS/SSA, WebVTT, mov_text) of the source as a
// mov_text track of the export, the form Apple's players show: with its
// language and title, off until the viewer turns it on, forced when the
// source says so. Picture subtitles cannot become text and are left out.
// Only media/ includes this header.
extern "C" {
#include <libavformat/avformat.h>
}

#include "media/FFmpegPtr.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace tovix::media {

struct SubtitleFree {
  void operator()(AVSubtitle* subtitle) const {
    avsubtitle_free(subtitle);
    delete subtitle;
  }
};
using SubtitlePtr = std::unique_ptr<AVSubtitle, SubtitleFree>;

// One decoded subtitle and when it shows, from the movie's start.
struct TimedSubtitle {
  SubtitlePtr subtitle;
  int64_t shownUs = 0;
  int64_t durationMs = 0;  // 0: until the next one
};

// Decodes one packet of subtitle track in, timed from the movie's start
// (startUs, in microseconds); nullopt when it holds no subtitle.
std::optional<TimedSubtitle> decodeSubtitle(AVCodecContext* decoder, const AVStream* in, const AVPacket* packet,
                                            int64_t startUs);

class SubtitleTrack {
 public:
  static bool isText(AVCodecID codec);
  // The track of output that in becomes; nullptr with error set when it
  // cannot be made.
  static std::unique_ptr<SubtitleTrack> create(const AVStream* in, AVFormatContext* output, QString& error);

  const AVStream* in() const { return in_; }
  // Converts one packet of the source track and hands the result to write,
  // timed from the movie's start (startUs, in microseconds). Text that does
  // not decode is skipped; answers write's negative result, else 0.
  int convert(const AVPacket* packet, int64_t startUs, const std::function<int(AVPacket*)>& write);

 private:
  SubtitleTrack() = default;
  const AVStream* in_ = nullptr;
  AVStream* out_ = nullptr;
  CodecContextPtr decoder_;
  CodecContextPtr encoder_;
};

}  // namespace tovix::media

namespace tovix::media {
// Turns off the subtitle tracks of the finished MP4 or MOV file at path
// (clears "enabled" in their track headers): the MP4 muxer enables the first
// track of each kind, and an enabled subtitle track shows without being asked
// for. False when the file cannot be read or written.
bool disableSubtitleTracks(const QString& path);
}  // namespace tovix::media
