#pragma once
// Turns one sound stream's packets into the packets of a converted sound
// track: decoded, mixed to the track's channels, resampled to its rate, cut
// into the encoder's frames and encoded as AAC-LC or AC3. Only media/
// includes this header.
#include "media/ExportPlan.h"
#include "media/FFmpegPtr.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tovix::media {

class SoundEncoder {
 public:
  using Error = std::optional<QString>;
  // Takes each encoded packet, timed in the encoder's time base.
  using Sink = std::function<Error(AVPacket*)>;

  // in's times count from startOffset (the movie's start, in in's time base).
  // globalHeader: the output keeps the codec's setup in its header (MP4).
  static std::unique_ptr<SoundEncoder> create(const AVStream* in, int64_t startOffset, const SoundOutput& settings,
                                              bool globalHeader, QString& error);

  // Decodes packet and encodes what it holds; damaged packets are skipped.
  Error push(const AVPacket* packet, const Sink& sink);
  // Encodes what is left at the end, the last frame however short.
  Error finish(const Sink& sink);

  const AVCodecContext* encoder() const { return encoder_.get(); }
  // Where the samples given to the encoder so far end, in its time base.
  int64_t fedUntil() const { return nextPts_; }
  // For a reader that begins in the middle: places the first frame read on a
  // whole number of its kind from the start, and leaves out the samples up to
  // a multiple of the encoder's frame, so that the encoder's frames begin
  // where those of an encoder fed from the movie's start do.
  void startOnFrameGrid() { toGrid_ = true; }

  // Keeps the samples given to the encoder between from and to (in its time
  // base), as they went in; samplesKept() are they, channel after channel,
  // from from on, as far as they went.
  void keepSamples(int64_t from, int64_t to);
  const std::vector<std::vector<float>>& samplesKept() const { return kept_; }

 private:
  SoundEncoder(const AVStream* in, int64_t startOffset) : in_(in), startOffset_(startOffset) {}
  Error open(const SoundOutput& settings, bool globalHeader);
  Error onFrame(AVFrame* frame, const Sink& sink);
  Error encodeBuffered(bool final, const Sink& sink);
  Error encode(const AVFrame* frame, const Sink& sink);
  int64_t offsetOf(const AVFrame* frame) const;
  FramePtr encoderFrame(int samples) const;
  Error writeSilence(int64_t samples);
  void dropToGrid();
  void keep(const AVFrame* chunk);

  const AVStream* in_;
  const int64_t startOffset_;
  CodecContextPtr decoder_;
  CodecContextPtr encoder_;
  SwrPtr resampler_;
  AudioFifoPtr fifo_;
  FramePtr frame_{av_frame_alloc()};
  PacketPtr packet_{av_packet_alloc()};
  int64_t nextPts_ = AV_NOPTS_VALUE;
  bool toGrid_ = false;
  int64_t keepFrom_ = 0, keepTo_ = 0;
  std::vector<std::vector<float>> kept_;
};

}  // namespace tovix::media
