#include "media/SoundEncoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>

namespace tovix::media {
namespace {

// Longer jumps in a sound's times are taken for a clock that starts again.
constexpr int64_t kLongestGapSeconds = 10;

// A layout with no known order (32 channels, say) cannot be mixed by the
// channels' names: its first channels become the output's, one for one.
int mixFirstChannels(SwrContext* resampler, const AVFrame* in, const AVFrame* out) {
  int rc = swr_config_frame(resampler, out, in);
  if (rc < 0) return rc;
  const int inputs = in->ch_layout.nb_channels, outputs = out->ch_layout.nb_channels;
  if (inputs <= 0) return AVERROR(EINVAL);
  std::vector<double> matrix(size_t(inputs) * size_t(outputs), 0.0);
  for (int o = 0; o < outputs; ++o) matrix[size_t(o) * size_t(inputs) + size_t(std::min(o, inputs - 1))] = 1.0;
  rc = swr_set_matrix(resampler, matrix.data(), inputs);
  return rc < 0 ? rc : swr_init(resampler);
}

}  // namespace

std::unique_ptr<SoundEncoder> SoundEncoder::create(const AVStream* in, int64_t startOffset, const SoundOutput& settings,
                                                   bool globalHeader, QString& error) {
  std::unique_ptr<SoundEncoder> sound(new SoundEncoder(in, startOffset));
  if (Error failed = sound->open(settings, globalHeader)) {
    error = *failed;
    return nullptr;
  }
  return sound;
}

SoundEncoder::Error SoundEncoder::open(const SoundOutput& settings, bool globalHeader) {
  // AC3 fills the bands it leaves empty with noise. Seeded from each frame
  // rather than from all the frames before, the same packets decode to the
  // same samples whichever packet a reader began with.
  decoder_ = openDecoder(in_, 0, {{"cons_noisegen", "1"}});
  if (!decoder_) return QStringLiteral("no decoder for stream %1").arg(in_->index);
  const AVCodec* codec = avcodec_find_encoder(settings.ac3 ? AV_CODEC_ID_AC3 : AV_CODEC_ID_AAC);
  if (!codec) return QStringLiteral("the %1 encoder is missing").arg(settings.ac3 ? "AC3" : "AAC");
  encoder_.reset(avcodec_alloc_context3(codec));
  AVCodecContext* encoder = encoder_.get();
  if (!encoder || !frame_ || !packet_) return QStringLiteral("out of memory");
  encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
  encoder->sample_rate = settings.sampleRate;
  if (settings.ac3)
    av_channel_layout_from_mask(&encoder->ch_layout, AV_CH_LAYOUT_5POINT1);
  else
    av_channel_layout_default(&encoder->ch_layout, settings.channels);
  encoder->bit_rate = settings.bitRate;
  if (!settings.ac3) encoder->profile = FF_PROFILE_AAC_LOW;
  encoder->time_base = {1, encoder->sample_rate};
  if (globalHeader) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int rc = avcodec_open2(encoder, codec, nullptr);
  if (rc < 0) return failure(QStringLiteral("cannot open the sound encoder"), rc);
  resampler_.reset(swr_alloc());
  // A downmix is scaled so that no sum of channels passes full scale: a loud
  // 5.1 mix would clip by 8 dB otherwise. Stereo sources are not touched.
  if (resampler_) av_opt_set_double(resampler_.get(), "rematrix_maxval", 1.0, 0);
  fifo_.reset(av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels, encoder->frame_size));
  if (!resampler_ || !fifo_) return QStringLiteral("out of memory");
  return std::nullopt;
}

SoundEncoder::Error SoundEncoder::push(const AVPacket* packet, const Sink& sink) {
  if (avcodec_send_packet(decoder_.get(), packet) < 0 && packet) return std::nullopt;
  for (;;) {
    if (avcodec_receive_frame(decoder_.get(), frame_.get()) < 0) return std::nullopt;
    Error error = onFrame(frame_.get(), sink);
    av_frame_unref(frame_.get());
    if (error) return error;
  }
}

SoundEncoder::Error SoundEncoder::finish(const Sink& sink) {
  if (Error error = push(nullptr, sink)) return error;
  if (Error error = encodeBuffered(true, sink)) return error;
  return encode(nullptr, sink);
}

SoundEncoder::Error SoundEncoder::onFrame(AVFrame* frame, const Sink& sink) {
  const AVCodecContext* encoder = encoder_.get();
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int channels = frame->ch_layout.nb_channels;
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_default(&frame->ch_layout, channels);
  }
  int64_t offset = 0;
  if (nextPts_ == AV_NOPTS_VALUE) {
    const int64_t pts = frame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : frame->best_effort_timestamp - startOffset_;
    nextPts_ = std::max<int64_t>(0, av_rescale_q(pts, in_->time_base, encoder->time_base));
    // Read from the middle, the first frame's time may be rounded (to the
    // millisecond, in Matroska); in a stream of equal frames it lies a whole
    // number of frames from the start.
    if (toGrid_ && frame->sample_rate == encoder->sample_rate && frame->nb_samples > 0)
      nextPts_ = (nextPts_ + frame->nb_samples / 2) / frame->nb_samples * frame->nb_samples;
  } else {
    offset = offsetOf(frame);
  }
  if (offset > 0) {
    if (Error error = writeSilence(offset)) return error;
  }
  FramePtr converted(av_frame_alloc());
  if (!converted) return QStringLiteral("out of memory");
  converted->format = encoder->sample_fmt;
  converted->sample_rate = encoder->sample_rate;
  av_channel_layout_copy(&converted->ch_layout, &encoder->ch_layout);
  // A resampler not yet set up is set up for this frame; one whose input
  // changed (a broadcast's rate or layout) is closed and set up again.
  SwrContext* resampler = resampler_.get();
  const auto convert = [&] {
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC && !swr_is_initialized(resampler))
      if (const int rc = mixFirstChannels(resampler, frame, converted.get()); rc < 0) return rc;
    return swr_convert_frame(resampler, converted.get(), frame);
  };
  int rc = convert();
  if (rc == AVERROR_INPUT_CHANGED) {
    swr_close(resampler);
    rc = convert();
  }
  if (rc < 0) return failure(QStringLiteral("cannot resample the sound"), rc);
  // What overlaps the sound so far is left out.
  const int skipped = int(std::min<int64_t>(std::max<int64_t>(0, -offset), converted->nb_samples));
  std::vector<uint8_t*> planes(size_t(encoder->ch_layout.nb_channels));
  for (size_t channel = 0; channel < planes.size(); ++channel)
    planes[channel] = converted->extended_data[channel] + skipped * av_get_bytes_per_sample(encoder->sample_fmt);
  if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes.data()), converted->nb_samples - skipped) <
      converted->nb_samples - skipped)
    return QStringLiteral("out of memory");
  dropToGrid();
  return encodeBuffered(false, sink);
}

// How far a frame begins from where the sound so far ends, in samples: after
// it where a DVD's cells or a broadcast's dropouts leave a gap, before it
// where a source repeats a time. Following the frames' times keeps the sound
// with the picture. 0 for offsets too short to hear out of step, and for
// jumps too long to be gaps (a clock that starts again).
int64_t SoundEncoder::offsetOf(const AVFrame* frame) const {
  if (frame->best_effort_timestamp == AV_NOPTS_VALUE) return 0;
  const AVCodecContext* encoder = encoder_.get();
  const int64_t at = av_rescale_q(frame->best_effort_timestamp - startOffset_, in_->time_base, encoder->time_base);
  const int64_t end = nextPts_ + av_audio_fifo_size(fifo_.get()) + swr_get_delay(resampler_.get(), encoder->sample_rate);
  const int64_t offset = at - end, length = std::llabs(offset);
  return length < encoder->sample_rate / 50 || length > encoder->sample_rate * kLongestGapSeconds ? 0 : offset;
}

// A frame of samples as the encoder takes them, with room for them; null
// when out of memory.
FramePtr SoundEncoder::encoderFrame(int samples) const {
  const AVCodecContext* encoder = encoder_.get();
  FramePtr frame(av_frame_alloc());
  if (!frame) return nullptr;
  frame->nb_samples = samples;
  frame->format = encoder->sample_fmt;
  frame->sample_rate = encoder->sample_rate;
  if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 || av_frame_get_buffer(frame.get(), 0) < 0)
    return nullptr;
  return frame;
}

SoundEncoder::Error SoundEncoder::writeSilence(int64_t samples) {
  const AVCodecContext* encoder = encoder_.get();
  FramePtr silence = encoderFrame(int(samples));
  if (!silence ||
      av_samples_set_silence(silence->extended_data, 0, silence->nb_samples, encoder->ch_layout.nb_channels,
                             encoder->sample_fmt) < 0 ||
      av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(silence->extended_data), silence->nb_samples) <
          silence->nb_samples)
    return QStringLiteral("out of memory");
  return std::nullopt;
}

void SoundEncoder::dropToGrid() {
  if (!toGrid_) return;
  const int64_t frame = encoder_->frame_size;
  const int64_t past = ((nextPts_ % frame) + frame) % frame;  // samples past the last frame's start
  const int drop = int(std::min<int64_t>(past ? frame - past : 0, av_audio_fifo_size(fifo_.get())));
  if (av_audio_fifo_drain(fifo_.get(), drop) < 0) return;
  nextPts_ += drop;
  toGrid_ = nextPts_ % frame != 0;
}

SoundEncoder::Error SoundEncoder::encodeBuffered(bool final, const Sink& sink) {
  const AVCodecContext* encoder = encoder_.get();
  for (;;) {
    const int buffered = av_audio_fifo_size(fifo_.get());
    if (buffered == 0 || (!final && buffered < encoder->frame_size)) return std::nullopt;
    FramePtr chunk = encoderFrame(std::min(buffered, encoder->frame_size));
    if (!chunk) return QStringLiteral("out of memory");
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(chunk->data), chunk->nb_samples);
    chunk->pts = nextPts_;
    nextPts_ += chunk->nb_samples;
    keep(chunk.get());
    if (Error error = encode(chunk.get(), sink)) return error;
  }
}

SoundEncoder::Error SoundEncoder::encode(const AVFrame* frame, const Sink& sink) {
  int rc = avcodec_send_frame(encoder_.get(), frame);
  if (rc < 0 && rc != AVERROR_EOF) return failure(QStringLiteral("cannot encode"), rc);
  for (;;) {
    rc = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return std::nullopt;
    if (rc < 0) return failure(QStringLiteral("cannot encode"), rc);
    Error error = sink(packet_.get());
    av_packet_unref(packet_.get());
    if (error) return error;
  }
}

void SoundEncoder::keepSamples(int64_t from, int64_t to) {
  keepFrom_ = from;
  keepTo_ = to;
  kept_.assign(size_t(encoder_->ch_layout.nb_channels), {});
}

// The kept samples run on without a hole: only a chunk holding the next one adds.
void SoundEncoder::keep(const AVFrame* chunk) {
  if (kept_.empty()) return;
  const int64_t at = keepFrom_ + int64_t(kept_[0].size());  // where the kept samples end
  if (chunk->pts > at || chunk->pts + chunk->nb_samples <= at || at >= keepTo_) return;
  const int64_t to = std::min(chunk->pts + chunk->nb_samples, keepTo_);
  for (size_t channel = 0; channel < kept_.size(); ++channel) {
    const auto* samples = reinterpret_cast<const float*>(chunk->extended_data[channel]);
    kept_[channel].insert(kept_[channel].end(), samples + (at - chunk->pts), samples + (to - chunk->pts));
  }
}

}  // namespace tovix::media
