#pragma once
// Forced picture subtitles (PGS, VobSub, DVB) burnt into a converted
// picture, since an MP4 file cannot carry them as pictures: the track's
// bitmaps are decoded as their packets come, shrunk to the output's size,
// and the one showing at each frame's time is blended onto the frame.
// Only media/ includes this header.
extern "C" {
#include <libavformat/avformat.h>
}

#include "media/FFmpegPtr.h"

#include <QString>
#include <deque>
#include <memory>
#include <vector>

namespace tovix::media {

class SubtitleBurner {
 public:
  // pictureWidth and pictureHeight: the size of the source's picture, which
  // subtitles that name no size of their own are placed on; outputWidth and
  // outputHeight: the size of the frames they are burnt into; bt709: those
  // frames' colours are BT.709, else BT.601; forcedLinesOnly: only the
  // lines the packets mark forced (a DVD's "forced" display command) are
  // burnt. nullptr with error set when the track cannot be decoded.
  static std::unique_ptr<SubtitleBurner> create(const AVStream* in, int pictureWidth, int pictureHeight,
                                                int outputWidth, int outputHeight, bool bt709, bool forcedLinesOnly,
                                                QString& error);

  const AVStream* in() const { return in_; }
  // Decodes one packet of the track, timed from the movie's start (startUs).
  void take(const AVPacket* packet, int64_t startUs);
  // Blends the subtitle showing at us (from the movie's start) onto frame,
  // an 8-bit 4:2:0 picture of the output's size.
  void burn(AVFrame* frame, int64_t us);

 private:
  // One bitmap at the output's size: luma, chroma and alpha per pixel, the
  // colours already multiplied by alpha.
  struct Bitmap {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint8_t> luma, blue, red, alpha;
  };
  struct Shown {
    int64_t startUs = 0;
    int64_t endUs = 0;
    std::vector<Bitmap> bitmaps;
  };

  SubtitleBurner() = default;
  Bitmap shrink(const AVSubtitleRect& rect) const;

  const AVStream* in_ = nullptr;
  CodecContextPtr decoder_;
  int pictureWidth_ = 0, pictureHeight_ = 0;
  int outputWidth_ = 0, outputHeight_ = 0;
  bool bt709_ = true;
  bool forcedLinesOnly_ = false;
  std::deque<Shown> shown_;
};

}  // namespace tovix::media
