#pragma once
// Owning handles for FFmpeg objects, each freed by its matching function.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <QString>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

namespace tovix::media {

struct InputClose {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputClose {
  void operator()(AVFormatContext* c) const {
    if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrFree {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct AudioFifoFree {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputClose>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

// FFmpeg's error text for code (av_err2str does not compile as C++).
inline QString errorText(int code) {
  char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buffer, sizeof buffer);
  return QString::fromUtf8(buffer);
}

// A failure as the log reads it: what could not be done, and FFmpeg's words for why.
inline std::optional<QString> failure(const QString& what, int code) {
  return QStringLiteral("%1: %2").arg(what, errorText(code));
}

// FFmpeg reads and writes through its "file:" protocol so that no part of a
// path (a colon, say) is taken as a protocol name.
inline QByteArray fileUrl(const QString& path) { return "file:" + path.toUtf8(); }

// Opens a movie file and reads its stream information; null on failure.
InputPtr openInput(const QString& path);

// Where a movie begins, in microseconds: its streams' times count from there.
inline int64_t movieStartUs(const AVFormatContext* input) {
  return input->start_time == AV_NOPTS_VALUE ? 0 : input->start_time;
}
// The same in stream's time base.
inline int64_t movieStartIn(const AVFormatContext* input, const AVStream* stream) {
  return av_rescale_q(movieStartUs(input), AV_TIME_BASE_Q, stream->time_base);
}

// A decoder option's name and value, as the decoder's AVOptions name them.
using DecoderOption = std::pair<const char*, const char*>;

// A decoder context opened for stream, or null. threads: 0 for as many as
// the machine has.
CodecContextPtr openDecoder(const AVStream* stream, int threads = 0, std::initializer_list<DecoderOption> options = {});

}  // namespace tovix::media
