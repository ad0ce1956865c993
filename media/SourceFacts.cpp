#include "media/SourceFacts.h"

#include "media/FFmpegPtr.h"
#include "media/PictureSample.h"
#include "media/SubtitleTrack.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace tovix::media {
namespace {

// AVI and raw streams carry no presentation times: copied B-frame video would
// get decode times as presentation times, so such video is converted instead.
bool timestampsTrusted(const AVFormatContext* input) {
  const AVInputFormat* format = input->iformat;
  return !(format->flags & AVFMT_NOTIMESTAMPS) && std::strcmp(format->name, "avi") != 0;
}

bool isMovCompatibleVideo(AVCodecID id) {
  return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_MPEG4 ||
         id == AV_CODEC_ID_PRORES || id == AV_CODEC_ID_MJPEG;
}

bool isMovCompatibleAudio(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_ALAC:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F32BE:
      return true;
    default:
      return false;
  }
}

// Codecs that code no fields: their pictures are never sampled.
bool progressiveOnly(AVCodecID id) {
  return id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_VP8 || id == AV_CODEC_ID_VP9 || id == AV_CODEC_ID_AV1 ||
         id == AV_CODEC_ID_PNG || id == AV_CODEC_ID_GIF;
}

// A damaged cover would show as a damaged picture: its decoder is told to
// stop at the first error.
bool coverDecodes(const AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec || stream->attached_pic.size <= 0) return false;
  CodecContextPtr decoder(avcodec_alloc_context3(codec));
  FramePtr frame(av_frame_alloc());
  if (!decoder || !frame || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) return false;
  decoder->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CRCCHECK;
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0 || avcodec_send_packet(decoder.get(), &stream->attached_pic) < 0)
    return false;
  avcodec_send_packet(decoder.get(), nullptr);
  return avcodec_receive_frame(decoder.get(), frame.get()) >= 0 && frame->decode_error_flags == 0;
}

TrackKind kindOf(const AVStream* stream) {
  const AVCodecParameters* par = stream->codecpar;
  if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return TrackKind::Cover;
  switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO: return TrackKind::Picture;
    case AVMEDIA_TYPE_AUDIO: return TrackKind::Sound;
    case AVMEDIA_TYPE_SUBTITLE:
      return SubtitleTrack::isText(par->codec_id) ? TrackKind::TextSubtitle : TrackKind::PictureSubtitle;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT: return TrackKind::Data;
    default: return TrackKind::Other;
  }
}

TrackFacts trackFactsOf(const AVStream* stream) {
  const AVCodecParameters* par = stream->codecpar;
  TrackFacts facts;
  facts.kind = kindOf(stream);
  // A track whose header lacks its size, channels or rate can be neither
  // decoded nor described in a file: it is left out, and said to be.
  const bool complete = facts.kind == TrackKind::Picture ? par->width > 0 && par->height > 0
                        : facts.kind == TrackKind::Sound ? par->ch_layout.nb_channels > 0 && par->sample_rate > 0
                                                         : true;
  facts.decodable = complete && avcodec_find_decoder(par->codec_id) != nullptr;
  switch (facts.kind) {
    case TrackKind::Picture: facts.movCompatible = complete && isMovCompatibleVideo(par->codec_id); break;
    case TrackKind::Sound: facts.movCompatible = complete && isMovCompatibleAudio(par->codec_id); break;
    // MP4 covers are JPEG or PNG pictures, kept only when they decode whole.
    case TrackKind::Cover:
      facts.movCompatible = (par->codec_id == AV_CODEC_ID_MJPEG || par->codec_id == AV_CODEC_ID_PNG) && coverDecodes(stream);
      break;
    default: break;
  }
  facts.markedDefault = stream->disposition & AV_DISPOSITION_DEFAULT;
  facts.forced = stream->disposition & AV_DISPOSITION_FORCED;
  facts.forcedLines = par->codec_id == AV_CODEC_ID_DVD_SUBTITLE || par->codec_id == AV_CODEC_ID_HDMV_PGS_SUBTITLE;
  facts.channels = par->ch_layout.nb_channels;
  facts.ac3 = par->codec_id == AV_CODEC_ID_AC3;
  facts.aacLc = par->codec_id == AV_CODEC_ID_AAC && par->profile == FF_PROFILE_AAC_LOW;
  facts.sampleRate = par->sample_rate;
  facts.hevc = par->codec_id == AV_CODEC_ID_HEVC;
  facts.bitRate = par->bit_rate;
  if (const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0))
    facts.language = language->value;
  return facts;
}

int chooseVideoStream(const AVFormatContext* input) {
  const int index = av_find_best_stream(const_cast<AVFormatContext*>(input), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0 || (input->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC)) return -1;
  return index;
}

H264Profile h264ProfileOf(int profile) {
  switch (profile) {
    case FF_PROFILE_H264_CONSTRAINED_BASELINE: return H264Profile::ConstrainedBaseline;
    case FF_PROFILE_H264_BASELINE: return H264Profile::Baseline;
    case FF_PROFILE_H264_MAIN: return H264Profile::Main;
    case FF_PROFILE_H264_EXTENDED: return H264Profile::Extended;
    case FF_PROFILE_H264_HIGH: return H264Profile::High;
    case FF_PROFILE_UNKNOWN: return H264Profile::Unknown;
    default: return H264Profile::Higher;
  }
}

// What one read through the source's packets (never decoded) tells of the
// rates its header may not state: the bits in the picture's busiest second,
// and each sound track's average. 0 or absent when unknown.
struct PacketTally {
  int64_t picturePeak = 0;
  std::map<int, int64_t> soundRates;  // by stream index
};

// The busiest second of one stream's packets, read in time order.
class PeakWindow {
 public:
  void add(int64_t us, int64_t bits) {
    window_.emplace_back(us, bits);
    bits_ += bits;
    while (window_.front().first <= us - AV_TIME_BASE) {
      bits_ -= window_.front().second;
      window_.pop_front();
      timed_ = true;  // the stream spans a whole second
    }
    peak_ = std::max(peak_, bits_);
  }
  int64_t peak() const { return timed_ ? peak_ : 0; }

 private:
  std::deque<std::pair<int64_t, int64_t>> window_;  // (time in microseconds, bits)
  int64_t bits_ = 0, peak_ = 0;
  bool timed_ = false;
};

// A sound stream's bits over the time its packets span.
struct SoundSpan {
  int64_t bits = 0, firstUs = INT64_MAX, endUs = INT64_MIN;
  int64_t rate() const {
    const int64_t span = av_sat_sub64(endUs, firstUs);
    return bits > 0 && span >= AV_TIME_BASE ? av_rescale(bits, AV_TIME_BASE, span) : 0;
  }
};

PacketTally tallyPackets(const QString& path, int picture) {
  InputPtr input = openInput(path);
  PacketPtr packet(av_packet_alloc());
  if (!input || !packet || picture >= int(input->nb_streams)) return {};
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    if (int(i) != picture && input->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
      input->streams[i]->discard = AVDISCARD_ALL;
  }
  PeakWindow peak;
  std::map<int, SoundSpan> sounds;
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const AVStream* stream = input->streams[packet->stream_index];
    const int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (time != AV_NOPTS_VALUE) {
      const int64_t us = av_rescale_q(time, stream->time_base, AV_TIME_BASE_Q);
      const int64_t bits = int64_t(packet->size) * 8;
      if (packet->stream_index == picture) {
        peak.add(us, bits);
      } else {
        SoundSpan& sound = sounds[packet->stream_index];
        sound.bits += bits;
        sound.firstUs = std::min(sound.firstUs, us);
        const int64_t lasts = av_rescale_q(std::max<int64_t>(0, packet->duration), stream->time_base, AV_TIME_BASE_Q);
        sound.endUs = std::max(sound.endUs, av_sat_add64(us, lasts));
      }
    }
    av_packet_unref(packet.get());
  }
  PacketTally tally{peak.peak(), {}};
  for (const auto& [index, sound] : sounds) tally.soundRates[index] = sound.rate();
  return tally;
}

// Reads the source's packets once, on the first question, however many
// targets and tracks ask.
std::function<const PacketTally&()> packetTallyOf(const QString& path, int picture) {
  auto tally = std::make_shared<std::optional<PacketTally>>();
  return [path, picture, tally]() -> const PacketTally& {
    if (!*tally) *tally = tallyPackets(path, picture);
    return **tally;
  };
}

CodedPicture codedPictureOf(const AVFormatContext* input, int index,
                            const std::function<const PacketTally&()>& tally) {
  const AVStream* stream = input->streams[index];
  const AVCodecParameters* par = stream->codecpar;
  CodedPicture coded;
  coded.h264 = par->codec_id == AV_CODEC_ID_H264;
  coded.profile = h264ProfileOf(par->profile);
  coded.level = par->level > 0 ? par->level : 0;
  coded.eightBit420 = par->format == AV_PIX_FMT_YUV420P || par->format == AV_PIX_FMT_YUVJ420P;
  coded.bFrames = par->video_delay > 0;
  const AVRational rate = stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0 ? stream->avg_frame_rate
                                                                                            : stream->r_frame_rate;
  coded.frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
  const AVRational sar = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio : par->sample_aspect_ratio;
  coded.squarePixels = sar.num == 0 || sar.num == sar.den;
  // A file that rounds its display size to whole pixels (853 × 480 for
  // 32:27 pixels) states the picture's own shape.
  const auto sameShape = [](AVRational a, AVRational b) { return std::abs(av_q2d(a) - av_q2d(b)) <= 0.01 * av_q2d(a); };
  coded.oneShape = !stream->sample_aspect_ratio.num || !par->sample_aspect_ratio.num ||
                   sameShape(stream->sample_aspect_ratio, par->sample_aspect_ratio);
  coded.peakBitRate = [tally] { return tally().picturePeak; };
  return coded;
}

// The picture as its headers describe it: interlaced when they say so.
PictureFacts headerPictureFactsOf(const AVStream* stream) {
  const AVCodecParameters* par = stream->codecpar;
  PictureFacts facts;
  facts.width = par->width;
  facts.height = par->height;
  const AVFieldOrder order = par->field_order;
  facts.interlaced = !progressiveOnly(par->codec_id) && order != AV_FIELD_UNKNOWN && order != AV_FIELD_PROGRESSIVE;
  facts.transfer = par->color_trc == AVCOL_TRC_SMPTE2084     ? Transfer::Pq
                   : par->color_trc == AVCOL_TRC_ARIB_STD_B67 ? Transfer::Hlg
                                                              : Transfer::Sdr;
  const AVRational sar = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio : par->sample_aspect_ratio;
  facts.sarNum = sar.num;
  facts.sarDen = sar.den;
  const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(par->format));
  facts.rgb = format && (format->flags & AV_PIX_FMT_FLAG_RGB);
  facts.colours = {par->color_space, par->color_primaries, par->color_trc};
  // The rate FFmpeg makes of the stream's own figures (the file is not needed for it).
  const AVRational rate = av_guess_frame_rate(nullptr, const_cast<AVStream*>(stream), nullptr);
  facts.frameRateNum = rate.num;
  facts.frameRateDen = rate.den;
  // Phone clips carry their rotation as a display matrix, which counts
  // counterclockwise; the turn that makes them upright goes clockwise.
  if (const auto* matrix = reinterpret_cast<const int32_t*>(
          av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr))) {
    const double angle = -av_display_rotation_get(matrix);
    facts.rotation = (int(std::lround(angle / 90.0)) % 4 + 4) % 4 * 90;
  }
  return facts;
}

}  // namespace

std::function<PictureSample()> pictureSamplerOf(const AVStream* stream, const QString& path, int threads) {
  return [path, index = stream->index, fields = !progressiveOnly(stream->codecpar->codec_id), threads] {
    return samplePicture(path, index, fields, threads);
  };
}

void addSample(PictureFacts& facts, const PictureSample& sample) {
  facts.telecined = sample.telecined;
  facts.interlaced = !sample.telecined && (sample.interlaced || facts.interlaced);
  facts.bars = sample.bars;
}

PictureFacts pictureFactsOf(const AVStream* stream, const PictureSample& sample) {
  PictureFacts facts = headerPictureFactsOf(stream);
  addSample(facts, sample);
  return facts;
}

MovieFacts headerFactsOf(const AVFormatContext* input, const QString& path) {
  MovieFacts movie;
  movie.picture = chooseVideoStream(input);
  const auto tally = packetTallyOf(path, movie.picture);
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    movie.tracks.push_back(trackFactsOf(input->streams[i]));
    TrackFacts& track = movie.tracks.back();
    if (track.kind == TrackKind::Sound && track.bitRate <= 0) {
      track.measuredBitRate = [tally, i] {
        const auto& rates = tally().soundRates;
        const auto rate = rates.find(int(i));
        return rate == rates.end() ? int64_t(0) : rate->second;
      };
    }
  }
  if (movie.picture >= 0) {
    movie.pictureFacts = headerPictureFactsOf(input->streams[movie.picture]);
    movie.coded = codedPictureOf(input, movie.picture, tally);
  }
  movie.timestampsTrusted = timestampsTrusted(input);
  return movie;
}

int64_t movieEndOf(const QString& path) {
  // The last stretch of the movie is read, packets only, never decoded.
  constexpr int64_t kTailUs = 10 * AV_TIME_BASE;
  constexpr int kMaxTailPackets = 20000;
  InputPtr input = openInput(path);
  PacketPtr packet(av_packet_alloc());
  // A source that states no duration (a raw stream) is not read through: its end stays unknown.
  if (!input || !packet || input->duration <= 0) return 0;
  const int64_t start = movieStartUs(input.get());
  if (input->duration > kTailUs) av_seek_frame(input.get(), -1, start + input->duration - kTailUs, AVSEEK_FLAG_BACKWARD);
  int64_t end = 0;
  for (int read = 0; read < kMaxTailPackets && av_read_frame(input.get(), packet.get()) >= 0; ++read) {
    const AVStream* stream = input->streams[packet->stream_index];
    const AVMediaType type = stream->codecpar->codec_type;
    const bool moviePart = (type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) ||
                           type == AVMEDIA_TYPE_AUDIO;
    if (moviePart && packet->pts != AV_NOPTS_VALUE)
      end = std::max(end, av_rescale_q(packet->pts + packet->duration, stream->time_base, AV_TIME_BASE_Q) - start);
    av_packet_unref(packet.get());
  }
  return end;
}

std::string userLanguage() {
  return QLocale::languageToCode(QLocale::system().language(), QLocale::ISO639Part2).toStdString();
}

}  // namespace tovix::media
