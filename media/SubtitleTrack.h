#pragma once
// A text subtitle track (SRT, ASS/SSA, WebVTT, mov_text) of the source as a
// mov_text track of the export, the form Apple's players show: with its
// language and title, off until the viewer turns it on, forced when the
// source says so. Picture subtitles cannot become text and are left out.
// mov_text shows one sample at a time, so lines that overlap in time are cut
// into consecutive samples that show them together: every line comes and
// goes at its own time.
// Only media/ includes this header.
extern "C" {
#include <libavformat/avformat.h>
}

#include "media/FFmpegPtr.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  // The track of output that in becomes, for a movie that ends at endUs
  // (microseconds; 0 when unknown); nullptr with error set when it cannot
  // be made.
  static std::unique_ptr<SubtitleTrack> create(const AVStream* in, AVFormatContext* output, int64_t endUs,
                                               QString& error);

  using Write = std::function<int(AVPacket*)>;

  const AVStream* in() const { return in_; }
  // Takes one packet of the source track, timed from the movie's start
  // (startUs, in microseconds), and hands write the samples that are
  // complete. Text that does not decode is skipped; answers write's
  // negative result, else 0.
  int convert(const AVPacket* packet, int64_t startUs, const Write& write);
  // Writes what is left, every line cut at the movie's end (endUs); lines
  // that begin after it are dropped.
  int finish(int64_t endUs, const Write& write);
  // Lines dropped: ending before they begin, wholly outside the movie, or
  // beyond what can show at once.
  int droppedCues() const { return dropped_; }

 private:
  struct Cue {
    int64_t startUs;
    int64_t endUs;  // INT64_MAX: until the next line begins
    std::string dialogue;  // the ASS event: "ReadOrder,Layer,Style,...,Text"
  };

  SubtitleTrack() = default;
  void add(Cue cue);
  // Writes the samples that end at or before untilUs.
  int writeUntil(int64_t untilUs, const Write& write);
  int writeSample(const std::vector<const Cue*>& shown, int64_t fromUs, int64_t toUs, const Write& write);

  const AVStream* in_ = nullptr;
  AVStream* out_ = nullptr;
  CodecContextPtr decoder_;
  CodecContextPtr encoder_;
  std::vector<Cue> pending_;  // lines not yet wholly written, by start
  int64_t writtenUs_ = 0;     // where the next sample begins
  int64_t endUs_ = INT64_MAX;  // where the movie ends: no line shows after it
  int dropped_ = 0;
};

}  // namespace tovix::media
