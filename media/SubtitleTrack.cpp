#include "media/SubtitleTrack.h"

#include "media/MovieTags.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace tovix::media {
namespace {

constexpr AVRational kMilliseconds{1, 1000};
constexpr int kMaxEncodedBytes = 1 << 16;
// More lines than fit on a screen at once are not subtitles.
constexpr size_t kMaxShownLines = 16;

}  // namespace

bool SubtitleTrack::isText(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_SUBRIP:
    case AV_CODEC_ID_SRT:
    case AV_CODEC_ID_ASS:
    case AV_CODEC_ID_SSA:
    case AV_CODEC_ID_WEBVTT:
    case AV_CODEC_ID_MOV_TEXT:
    case AV_CODEC_ID_TEXT:
      return true;
    default:
      return false;
  }
}

std::unique_ptr<SubtitleTrack> SubtitleTrack::create(const AVStream* in, AVFormatContext* output, int64_t endUs,
                                                     QString& error) {
  std::unique_ptr<SubtitleTrack> track(new SubtitleTrack);
  track->in_ = in;
  if (endUs > 0) track->endUs_ = endUs;
  track->decoder_ = openDecoder(in);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
  if (!track->decoder_ || !codec) {
    error = QStringLiteral("cannot convert subtitle track %1").arg(in->index);
    return nullptr;
  }
  track->encoder_.reset(avcodec_alloc_context3(codec));
  AVCodecContext* encoder = track->encoder_.get();
  const AVCodecContext* decoder = track->decoder_.get();
  if (!encoder) {
    error = QStringLiteral("out of memory");
    return nullptr;
  }
  encoder->time_base = AV_TIME_BASE_Q;
  // The styles the decoder read (an ASS header) tell the encoder how text looks.
  if (decoder->subtitle_header_size > 0) {
    encoder->subtitle_header = static_cast<uint8_t*>(av_mallocz(size_t(decoder->subtitle_header_size) + 1));
    if (!encoder->subtitle_header) {
      error = QStringLiteral("out of memory");
      return nullptr;
    }
    std::memcpy(encoder->subtitle_header, decoder->subtitle_header, size_t(decoder->subtitle_header_size));
    encoder->subtitle_header_size = decoder->subtitle_header_size;
  }
  // The output's track is added last, so a track that cannot be made leaves none behind.
  if (avcodec_open2(encoder, codec, nullptr) < 0 || !(track->out_ = avformat_new_stream(output, nullptr)) ||
      avcodec_parameters_from_context(track->out_->codecpar, encoder) < 0) {
    error = QStringLiteral("cannot set up subtitle track %1").arg(in->index);
    return nullptr;
  }
  track->out_->time_base = kMilliseconds;
  copyTrackTags(in, track->out_);
  // Off until the viewer turns it on; forced subtitles stay flagged, also in
  // the text sample description's display flags ("all samples are forced").
  track->out_->disposition = in->disposition & AV_DISPOSITION_FORCED;
  AVCodecParameters* described = track->out_->codecpar;
  if ((in->disposition & AV_DISPOSITION_FORCED) && described->extradata_size >= 4) described->extradata[0] |= 0x40;
  return track;
}

std::optional<TimedSubtitle> decodeSubtitle(AVCodecContext* decoder, const AVStream* in, const AVPacket* packet,
                                            int64_t startUs) {
  TimedSubtitle timed;
  int got = 0;
  timed.subtitle.reset(new AVSubtitle{});
  AVSubtitle& decoded = *timed.subtitle;
  if (avcodec_decode_subtitle2(decoder, &decoded, &got, const_cast<AVPacket*>(packet)) < 0 || !got) return std::nullopt;
  if (decoded.pts == AV_NOPTS_VALUE) {
    if (packet->pts == AV_NOPTS_VALUE) return std::nullopt;
    decoded.pts = av_rescale_q(packet->pts, in->time_base, AV_TIME_BASE_Q);
  }
  timed.shownUs = decoded.pts + av_rescale_q(decoded.start_display_time, kMilliseconds, AV_TIME_BASE_Q) - startUs;
  // Picture subtitles often state no end ("until the next one"); the packet's
  // duration then tells it, if anything does.
  int64_t durationMs = decoded.end_display_time == UINT32_MAX ? 0 : int64_t(decoded.end_display_time) - decoded.start_display_time;
  if (durationMs <= 0) durationMs = av_rescale_q(packet->duration, in->time_base, kMilliseconds);
  timed.durationMs = std::max<int64_t>(0, durationMs);
  decoded.end_display_time -= decoded.start_display_time;
  decoded.start_display_time = 0;
  return timed;
}

int SubtitleTrack::convert(const AVPacket* packet, int64_t startUs, const Write& write) {
  const auto timed = decodeSubtitle(decoder_.get(), in_, packet, startUs);
  if (!timed) return 0;
  const AVSubtitle& decoded = *timed->subtitle;
  const int64_t shownUs = timed->shownUs;
  const bool backwards = packet->duration < 0;
  const int64_t endUs = timed->durationMs > 0 ? shownUs + std::min<int64_t>(timed->durationMs, INT64_MAX / 4000) * 1000
                                              : INT64_MAX;
  // Everything before this line's start is settled: it ends lines that run
  // until the next one, and no later line can begin before it.
  for (Cue& cue : pending_)
    if (cue.endUs == INT64_MAX) cue.endUs = std::max(cue.startUs, shownUs);
  if (const int rc = writeUntil(std::min(shownUs, endUs_), write); rc < 0) return rc;
  for (unsigned i = 0; i < decoded.num_rects; ++i) {
    const AVSubtitleRect& rect = *decoded.rects[i];
    if (rect.type != SUBTITLE_ASS || !rect.ass) continue;
    if (backwards) ++dropped_;
    else add({shownUs, endUs, rect.ass});
  }
  return 0;
}

// A line is kept from where the track's samples stand; one wholly before
// that, or one too many to show at once, is dropped.
void SubtitleTrack::add(Cue cue) {
  cue.startUs = std::max(cue.startUs, writtenUs_);
  cue.endUs = std::min(cue.endUs, endUs_);
  if (cue.endUs <= cue.startUs || pending_.size() >= kMaxShownLines) {
    ++dropped_;
    return;
  }
  pending_.push_back(std::move(cue));
}

int SubtitleTrack::finish(int64_t endUs, const Write& write) {
  endUs = std::min(endUs, endUs_);
  int64_t last = writtenUs_;
  for (Cue& cue : pending_) {
    cue.endUs = std::min(cue.endUs, endUs);
    last = std::max(last, cue.endUs);
  }
  const auto beyond = std::remove_if(pending_.begin(), pending_.end(), [](const Cue& cue) { return cue.endUs <= cue.startUs; });
  dropped_ += int(pending_.end() - beyond);
  pending_.erase(beyond, pending_.end());
  return writeUntil(last, write);
}

int SubtitleTrack::writeUntil(int64_t untilUs, const Write& write) {
  while (writtenUs_ < untilUs && !pending_.empty()) {
    // The lines showing now, and the next moment one of them ends or another begins.
    std::vector<const Cue*> shown;
    int64_t next = untilUs;
    for (const Cue& cue : pending_) {
      if (cue.startUs <= writtenUs_) {
        shown.push_back(&cue);
        next = std::min(next, cue.endUs);
      } else {
        next = std::min(next, cue.startUs);
      }
    }
    if (!shown.empty())
      if (const int rc = writeSample(shown, writtenUs_, next, write); rc < 0) return rc;
    // A line that ends where it begins (two lines "until the next" at one
    // time) is dropped below; the samples never go back in time.
    writtenUs_ = std::max(writtenUs_, next);
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [&](const Cue& cue) { return cue.endUs <= next; }),
                   pending_.end());
  }
  writtenUs_ = std::max(writtenUs_, std::min(untilUs, INT64_MAX / 2));
  return 0;
}

// One mov_text sample showing every line in shown, the earliest begun on top.
int SubtitleTrack::writeSample(const std::vector<const Cue*>& shown, int64_t fromUs, int64_t toUs, const Write& write) {
  const int64_t from = av_rescale_q(fromUs, AV_TIME_BASE_Q, out_->time_base);
  const int64_t to = av_rescale_q(toUs, AV_TIME_BASE_Q, out_->time_base);
  if (to <= from) return 0;
  // An ASS event's text is what follows its eighth comma.
  const auto textOf = [](const std::string& dialogue) {
    size_t at = 0;
    for (int comma = 0; comma < 8 && at != std::string::npos; ++comma) at = dialogue.find(',', at ? at + 1 : 0);
    return at == std::string::npos ? std::string() : dialogue.substr(at + 1);
  };
  std::string dialogue = shown.front()->dialogue;
  for (size_t i = 1; i < shown.size(); ++i) dialogue += "\\N" + textOf(shown[i]->dialogue);
  AVSubtitleRect rect{};
  rect.type = SUBTITLE_ASS;
  rect.ass = dialogue.data();
  AVSubtitleRect* rects[] = {&rect};
  AVSubtitle subtitle{};
  subtitle.num_rects = 1;
  subtitle.rects = rects;
  subtitle.end_display_time = uint32_t(std::min<int64_t>(to - from, UINT32_MAX));
  std::vector<uint8_t> buffer(kMaxEncodedBytes);
  const int size = avcodec_encode_subtitle(encoder_.get(), buffer.data(), int(buffer.size()), &subtitle);
  if (size <= 0) return 0;
  PacketPtr converted(av_packet_alloc());
  if (!converted || av_new_packet(converted.get(), size) < 0) return AVERROR(ENOMEM);
  std::memcpy(converted->data, buffer.data(), size_t(size));
  converted->stream_index = out_->index;
  converted->pts = converted->dts = from;
  converted->duration = to - from;
  converted->time_base = out_->time_base;
  return write(converted.get());
}

}  // namespace tovix::media
