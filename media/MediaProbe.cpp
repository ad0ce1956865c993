#include "media/MediaProbe.h"

#include "media/ExportPreset.h"
#include "media/FFmpegPtr.h"
#include "media/SourceFacts.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <QFileInfo>
#include <QLocale>
#include <functional>
#include <map>

namespace tovix::media {

namespace {

// How many packets the movie-open test reads at most looking for one frame.
constexpr int kMaxProbePackets = 400;

bool isMediaStream(const AVStream* stream) {
  const AVCodecParameters* par = stream->codecpar;
  if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return false;
  if (!avcodec_find_decoder(par->codec_id)) return false;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) return par->width > 0 && par->height > 0;
  if (par->codec_type == AVMEDIA_TYPE_AUDIO)
    return par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
  return false;
}

// Whether any media stream yields a decoded frame within the first packets.
bool decodesAFrame(AVFormatContext* input) {
  std::vector<CodecContextPtr> decoders(input->nb_streams);
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    if (isMediaStream(input->streams[i])) decoders[i] = openDecoder(input->streams[i]);
  }
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  if (!packet || !frame) return false;
  for (int read = 0; read < kMaxProbePackets; ++read) {
    const bool atEnd = av_read_frame(input, packet.get()) < 0;
    for (unsigned i = 0; i < decoders.size(); ++i) {
      AVCodecContext* decoder = decoders[i].get();
      if (!decoder || (!atEnd && packet->stream_index != static_cast<int>(i))) continue;
      avcodec_send_packet(decoder, atEnd ? nullptr : packet.get());
      if (avcodec_receive_frame(decoder, frame.get()) >= 0) return true;
    }
    av_packet_unref(packet.get());
    if (atEnd) return false;
  }
  return false;
}

QString codecName(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264: return QStringLiteral("H.264");
    case AV_CODEC_ID_HEVC: return QStringLiteral("HEVC");
    case AV_CODEC_ID_MPEG4: return QStringLiteral("MPEG-4 Video");
    case AV_CODEC_ID_MPEG1VIDEO: return QStringLiteral("MPEG-1 Video");
    case AV_CODEC_ID_MPEG2VIDEO: return QStringLiteral("MPEG-2 Video");
    case AV_CODEC_ID_MJPEG: return QStringLiteral("Photo - JPEG");
    case AV_CODEC_ID_PRORES: return QStringLiteral("Apple ProRes");
    case AV_CODEC_ID_FLV1: return QStringLiteral("Sorenson H.263");
    case AV_CODEC_ID_H263: return QStringLiteral("H.263");
    case AV_CODEC_ID_DVVIDEO: return QStringLiteral("DV");
    case AV_CODEC_ID_AAC: return QStringLiteral("AAC");
    case AV_CODEC_ID_MP3: return QStringLiteral("MPEG Layer 3");
    case AV_CODEC_ID_MP2: return QStringLiteral("MPEG Layer 2");
    case AV_CODEC_ID_ALAC: return QStringLiteral("Apple Lossless");
    case AV_CODEC_ID_AC3: return QStringLiteral("AC-3");
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_U8: return QStringLiteral("Linear PCM");
    default: break;
  }
  const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
  return descriptor ? QString::fromUtf8(descriptor->name).toUpper() : QStringLiteral("Unknown");
}

QString channelText(const AVChannelLayout& layout) {
  if (layout.nb_channels == 1) return QStringLiteral("Mono");
  if (layout.nb_channels == 2) return QStringLiteral("Stereo");
  char description[64] = {};
  if (layout.order != AV_CHANNEL_ORDER_UNSPEC &&
      av_channel_layout_describe(&layout, description, sizeof description) > 0)
    return QString::fromUtf8(description);
  return QStringLiteral("%1 channels").arg(layout.nb_channels);
}

// " (French)" for a track the file says is in French; empty when it names
// no language Qt knows.
QString languageText(const AVStream* stream) {
  const AVDictionaryEntry* code = av_dict_get(stream->metadata, "language", nullptr, 0);
  if (!code || !code->value) return {};
  const QLocale::Language language =
      QLocale::codeToLanguage(QString::fromLatin1(code->value), QLocale::ISO639Part2 | QLocale::ISO639Part1);
  if (language == QLocale::AnyLanguage || language == QLocale::C) return {};
  return QStringLiteral(" (%1)").arg(QLocale::languageToString(language));
}

// As the export sees the picture: interlaced or telecined also when only its
// frames say so, and the size it keeps once its black bars are cut.
QString pictureText(const AVStream* stream, const PictureSample& sample) {
  const AVCodecParameters* par = stream->codecpar;
  const PictureFacts facts = pictureFactsOf(stream, sample);
  QString text = QStringLiteral("%1, %2 × %3").arg(codecName(par->codec_id)).arg(par->width).arg(par->height);
  if (facts.interlaced) text += QStringLiteral(", interlaced");
  if (facts.telecined) text += QStringLiteral(", telecined film");
  if (facts.transfer != Transfer::Sdr) text += QStringLiteral(", HDR");
  if (facts.bars.any()) {
    const Crop& bars = facts.bars;
    text += QStringLiteral(", black bars (cropped to %1 × %2)")
                .arg(par->width - bars.left - bars.right)
                .arg(par->height - bars.top - bars.bottom);
  }
  return text;
}

std::optional<QString> formatSummary(const AVStream* stream, const std::function<PictureSample()>& sample) {
  const AVCodecParameters* par = stream->codecpar;
  switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return std::nullopt;
      return pictureText(stream, sample());
    case AVMEDIA_TYPE_AUDIO:
      return QStringLiteral("%1, %2, %3 kHz%4")
          .arg(codecName(par->codec_id), channelText(par->ch_layout),
               QString::number(par->sample_rate / 1000.0, 'f', 3), languageText(stream));
    case AVMEDIA_TYPE_SUBTITLE:
      return QStringLiteral("Subtitles, %1%2").arg(codecName(par->codec_id), languageText(stream));
    default:
      return std::nullopt;
  }
}

int64_t durationMicroseconds(const AVFormatContext* input) {
  if (input->duration > 0) return input->duration;
  int64_t longest = 0;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    if (stream->duration > 0)
      longest = std::max(longest, av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q));
  }
  return longest;
}

}  // namespace

InputPtr openInput(const QString& path) {
  if (!QFileInfo(path).isFile()) return nullptr;  // never block on a FIFO or device
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, fileUrl(path).constData(), nullptr, nullptr) < 0) return nullptr;
  InputPtr input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;
  return input;
}

CodecContextPtr openDecoder(const AVStream* stream, int threads, std::initializer_list<DecoderOption> options) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0)
    return nullptr;
  context->pkt_timebase = stream->time_base;
  context->thread_count = threads;
  AVDictionary* dictionary = nullptr;
  for (const auto& [name, value] : options) av_dict_set(&dictionary, name, value, 0);
  const int opened = avcodec_open2(context.get(), codec, &dictionary);
  av_dict_free(&dictionary);
  return opened < 0 ? nullptr : std::move(context);
}

bool canOpen(const QString& path) {
  av_log_set_level(AV_LOG_ERROR);
  InputPtr input = openInput(path);
  if (!input) return false;
  bool hasMediaStream = false;
  for (unsigned i = 0; i < input->nb_streams; ++i) hasMediaStream |= isMediaStream(input->streams[i]);
  return hasMediaStream && decodesAFrame(input.get());
}

QString movieDisplayName(const QString& path) { return QFileInfo(path).fileName(); }

QString timeText(MediaTime time) {
  const int32_t scale = time.scale > 0 ? time.scale : 1;
  const int64_t value = std::max<int64_t>(time.value, 0);
  const int64_t seconds = value / scale;
  return QStringLiteral("%1:%2:%3:%4.%5/%6")
      .arg(seconds / 86400)
      .arg(seconds / 3600 % 24, 2, 10, QLatin1Char('0'))
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'))
      .arg(value % scale)
      .arg(scale);
}

struct Movie::Impl {
  QString path;
  InputPtr input;
  // Frames sampled from each picture stream, kept: the track formats and
  // the devices' plans both need them, and sampling takes a moment.
  std::map<int, PictureSample> samples;

  const PictureSample& sampleOf(const AVStream* stream) {
    const auto known = samples.find(stream->index);
    if (known != samples.end()) return known->second;
    return samples.emplace(stream->index, pictureSamplerOf(stream, path)()).first->second;
  }
};

Movie::Movie(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Movie::~Movie() = default;

std::unique_ptr<Movie> Movie::open(const QString& path) {
  av_log_set_level(AV_LOG_ERROR);
  InputPtr input = openInput(path);
  if (!input) return nullptr;
  return std::unique_ptr<Movie>(new Movie(std::make_unique<Impl>(Impl{path, std::move(input), {}})));
}

QString Movie::displayName() const { return movieDisplayName(impl_->path); }

std::optional<QString> Movie::copyright() const {
  const AVDictionaryEntry* entry = av_dict_get(impl_->input->metadata, "copyright", nullptr, 0);
  if (!entry || !entry->value) return std::nullopt;
  return QString::fromUtf8(entry->value);
}

std::optional<int64_t> Movie::dataSize() const {
  const QFileInfo file(impl_->path);
  if (!file.exists()) return std::nullopt;
  return file.size();
}

std::vector<std::optional<QString>> Movie::trackFormatSummaries() const {
  std::vector<std::optional<QString>> summaries;
  for (unsigned i = 0; i < impl_->input->nb_streams; ++i)
    summaries.push_back(formatSummary(impl_->input->streams[i], [&] { return impl_->sampleOf(impl_->input->streams[i]); }));
  return summaries;
}

int Movie::chapterCount() const { return int(impl_->input->nb_chapters); }

std::vector<QString> Movie::devicePictureFates(bool copyWhatPlays) const {
  std::vector<QString> fates;
  MovieFacts facts = headerFactsOf(impl_->input.get(), impl_->path);
  if (facts.picture < 0) return fates;
  addSample(facts.pictureFacts, impl_->sampleOf(impl_->input->streams[facts.picture]));
  // Only the picture's fate is told: the sound's rate is not read through the file for it.
  for (TrackFacts& track : facts.tracks) track.measuredBitRate = nullptr;
  for (const auto& target : protocol::kTargets) {
    const auto preset = presetForTypeCode(target.typeCode);
    if (!preset || preset->boxWidth == 0) continue;  // the QuickTime copy keeps any picture
    const std::string fate = planExport(facts, *preset, {userLanguage(), copyWhatPlays}).pictureFate();
    fates.push_back(QStringLiteral("%1: %2").arg(QLatin1String(target.displayName), QString::fromStdString(fate)));
  }
  return fates;
}

MediaTime Movie::duration() const {
  return {av_rescale(durationMicroseconds(impl_->input.get()), 1000, AV_TIME_BASE), 1000};
}

}  // namespace tovix::media
