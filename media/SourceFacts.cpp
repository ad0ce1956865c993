#include "media/SourceFacts.h"

#include "media/FFmpegPtr.h"
#include "media/PictureFilter.h"
#include "media/SubtitleTrack.h"

extern "C" {
#include <libavutil/display.h>
}

#include <QLocale>
#include <cmath>
#include <cstring>

namespace tovix::media {
namespace {

// How many frames the interlacing sample looks at, and how many packets it
// reads at most to find them.
constexpr int kSampledFrames = 16;
constexpr int kMaxSampledPackets = 400;

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
  facts.decodable = avcodec_find_decoder(par->codec_id) != nullptr;
  switch (facts.kind) {
    case TrackKind::Picture: facts.movCompatible = isMovCompatibleVideo(par->codec_id); break;
    case TrackKind::Sound: facts.movCompatible = isMovCompatibleAudio(par->codec_id); break;
    // MP4 covers are JPEG or PNG pictures.
    case TrackKind::Cover:
      facts.movCompatible = stream->attached_pic.size > 0 && (par->codec_id == AV_CODEC_ID_MJPEG || par->codec_id == AV_CODEC_ID_PNG);
      break;
    default: break;
  }
  facts.markedDefault = stream->disposition & AV_DISPOSITION_DEFAULT;
  facts.forced = stream->disposition & AV_DISPOSITION_FORCED;
  facts.channels = par->ch_layout.nb_channels;
  facts.ac3 = par->codec_id == AV_CODEC_ID_AC3;
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

// Counts the frames the interlace detector names interlaced and progressive.
struct FieldCount {
  int interlaced = 0;
  int progressive = 0;
  int seen = 0;
  void add(const AVFrame* frame) {
    ++seen;
    const AVDictionaryEntry* verdict = av_dict_get(frame->metadata, "lavfi.idet.single.current_frame", nullptr, 0);
    if (!verdict) return;
    if (!std::strcmp(verdict->value, "tff") || !std::strcmp(verdict->value, "bff")) ++interlaced;
    else if (!std::strcmp(verdict->value, "progressive")) ++progressive;
  }
};

}  // namespace

PictureFacts pictureFactsOf(const AVStream* stream, const QString& path) {
  const AVCodecParameters* par = stream->codecpar;
  PictureFacts facts;
  facts.width = par->width;
  facts.height = par->height;
  const AVFieldOrder order = par->field_order;
  facts.interlaced = order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB || order == AV_FIELD_BT;
  if (order == AV_FIELD_UNKNOWN && !progressiveOnly(par->codec_id))
    facts.interlaced = framesLookInterlaced(path, stream->index);
  facts.transfer = par->color_trc == AVCOL_TRC_SMPTE2084     ? Transfer::Pq
                   : par->color_trc == AVCOL_TRC_ARIB_STD_B67 ? Transfer::Hlg
                                                              : Transfer::Sdr;
  // Phone clips carry their rotation as a display matrix, which counts
  // counterclockwise; the turn that makes them upright goes clockwise.
  if (const auto* matrix = reinterpret_cast<const int32_t*>(
          av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr))) {
    const double angle = -av_display_rotation_get(matrix);
    facts.rotation = (int(std::lround(angle / 90.0)) % 4 + 4) % 4 * 90;
  }
  return facts;
}

bool framesLookInterlaced(const QString& path, int index) {
  InputPtr input = openInput(path);
  if (!input || index < 0 || index >= int(input->nb_streams)) return false;
  const AVStream* stream = input->streams[index];
  CodecContextPtr decoder = openDecoder(stream);
  if (!decoder) return false;
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  if (!packet || !frame) return false;
  std::unique_ptr<PictureFilter> detector;  // made for the first frame
  FieldCount count;
  const auto drain = [&] {
    while (detector && detector->pull(frame.get()) >= 0) {
      count.add(frame.get());
      av_frame_unref(frame.get());
    }
  };
  for (int read = 0; read < kMaxSampledPackets && count.seen < kSampledFrames; ++read) {
    if (av_read_frame(input.get(), packet.get()) < 0) break;
    if (packet->stream_index == index && avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
      while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
        QString error;
        if (!detector) detector = PictureFilter::create(frame.get(), stream->time_base, stream->sample_aspect_ratio, "idet", error);
        if (!detector) return false;
        detector->push(frame.get());
        av_frame_unref(frame.get());
      }
      drain();
    }
    av_packet_unref(packet.get());
  }
  if (detector) detector->push(nullptr);
  drain();
  return count.interlaced >= 3 && count.interlaced > count.progressive;
}

MovieFacts movieFactsOf(const AVFormatContext* input, const QString& path) {
  MovieFacts movie;
  for (unsigned i = 0; i < input->nb_streams; ++i) movie.tracks.push_back(trackFactsOf(input->streams[i]));
  movie.picture = chooseVideoStream(input);
  if (movie.picture >= 0) movie.pictureFacts = pictureFactsOf(input->streams[movie.picture], path);
  movie.timestampsTrusted = timestampsTrusted(input);
  return movie;
}

std::string userLanguage() {
  return QLocale::languageToCode(QLocale::system().language(), QLocale::ISO639Part2).toStdString();
}

}  // namespace tovix::media
