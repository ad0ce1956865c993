#include "media/Exporter.h"

#include "media/ExportPlan.h"
#include "media/ExportPreset.h"
#include "media/FFmpegPtr.h"
#include "media/MovieLayout.h"
#include "media/MovieTags.h"
#include "media/OutputCheck.h"
#include "media/KeptWork.h"
#include "media/PictureInPieces.h"
#include "media/SecondHalf.h"
#include "media/SoundEncoder.h"
#include "media/SourceFacts.h"
#include "platform/Paths.h"
#include "media/SubtitleTrack.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <optional>
#include <thread>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace tovix::media {
namespace {

using protocol::ExportResult;

using Clock = std::chrono::steady_clock;
using Error = std::optional<QString>;

constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// Above this, a stated frame rate is not taken for a grid to put frames on.
constexpr double kMaxGridRate = 240;
// The share of a converted picture's export its pieces take; joining them
// with the sound, subtitles and chapters takes the rest.
constexpr double kPictureShare = 0.95;
// A sound track this long is converted in two halves at once.
constexpr int64_t kSecondHalfUs = 30 * int64_t(AV_TIME_BASE);

// Why an export failed, in the words the user reads in the log.
namespace reason {
constexpr const char* kMissing = "the movie file is missing.";
constexpr const char* kUnreadable = "the movie file cannot be read as a movie.";
constexpr const char* kNothingToConvert = "the movie has no picture or sound to convert.";
constexpr const char* kOutputFolder = "the export folder is missing or cannot be written to.";
constexpr const char* kFolderGone = "the export folder disappeared.";
constexpr const char* kNameRefused = "the export folder does not take the movie's name.";
constexpr const char* kDiskFull = "the disk is full.";
constexpr const char* kChanged = "the movie file changed while it was being converted.";
constexpr const char* kGeneric = "the movie could not be converted.";
constexpr const char* kIncomplete = "the converted movie came out incomplete.";
constexpr const char* kPathTooLong = "the movie's path is longer than the system allows.";
constexpr const char* kPicture = "the picture could not be converted.";
constexpr const char* kSound = "a sound track could not be converted.";
constexpr const char* kReadFailed = "the movie file could not be read to its end.";
constexpr const char* kWriteFailed = "the export file could not be written.";
}  // namespace reason

// What tells that a source file was replaced, cut or rewritten.
struct FileStamp {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  bool operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

std::optional<FileStamp> stampOf(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
  return FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

// A copied picture keeps its display matrix; a converted one is turned
// upright in its pixels instead, as every player shows it.
void copyDisplayMatrix(const AVStream* from, AVStream* to) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(from, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!matrix) return;
  if (uint8_t* copy = av_stream_new_side_data(to, AV_PKT_DATA_DISPLAYMATRIX, size))
    std::memcpy(copy, matrix, size);
}

class Transcoder {
 public:
  Transcoder(const ExportJob& job, const ExportPreset& preset, std::optional<PictureSample> sample = std::nullopt)
      : job_(job), preset_(preset), temporary_(temporaryOutputPath(job.output)), sample_(sample) {}

  ExportOutcome run();
  // The sampled picture that overturned a copy begun before it was known:
  // the export starts over with it. Empty when the plan stood.
  std::optional<PictureSample> overturningSample() const { return planOverturned_ ? sample_ : std::nullopt; }

 private:
  struct Stream {
    AVStream* in = nullptr;
    AVStream* out = nullptr;
    bool copy = false;
    int64_t startOffset = 0;  // the movie's start, in this stream's time base
    int64_t lastDts = AV_NOPTS_VALUE;  // of the last copied packet, in the output's time base
    int64_t lastDuration = 0;
    int64_t nextSample = AV_NOPTS_VALUE;  // where a copied sound's last frame ended, in samples
    AVRational frameRate{0, 1};  // a copied picture's, when its file's clock cannot time its frames exactly
    int64_t firstTime = AV_NOPTS_VALUE;  // of a copied picture's first packet: where its frame grid starts
    std::vector<PacketPtr> undated;  // a copied picture's first packets, waiting for a decode time
    int damaged = 0;  // copied packets the muxer refused as damaged, left out
  };
  // A converted picture comes from its kept pieces, joined as they are.
  struct VideoStream : Stream {
    std::unique_ptr<PieceReader> pieces;
    int nextPiece = 0;
    PacketPtr waiting;  // the next piece packet, read but not yet written
  };
  struct AudioStream : Stream {
    const AudioStream* stereo = nullptr;  // a surround companion's stereo track, which players fall back to
    std::unique_ptr<SoundEncoder> encoder;  // a converted track's
    std::unique_ptr<SecondHalf> secondHalf;  // a long converted track's, encoded meanwhile
    std::vector<PacketPtr> held;  // the first half's packets from the seam on, until the halves join
    int joinsTried = 0;
    bool joined = false;  // the second half's packets go on from here
    PacketPtr waiting;    // the second half's next packet, taken but not yet written
  };

  Error openSource();
  void makePlan();
  ExportPlan planOf(const MovieFacts& facts) const;
  bool sampleCanOverturnCopy() const;
  bool copyStands(bool wait);
  Error openOutput();
  Error addStream(Stream& stream, int index, bool copy);
  CodecContextPtr newPictureEncoder(QString& error) const;
  int pictureSource() const;
  bool pictureConverted() const { return pictureSource() >= 0; }
  // The plan for the log, and what became of work kept earlier.
  QString planText() const;
  // The share of the movie's picture that kept pieces hold.
  double keptFraction() const;
  int64_t pieceUs() const { return job_.pieceUs > 0 ? job_.pieceUs : kPieceUs; }
  Error convertPicture();
  QByteArray workIdentity() const;
  Error addConvertedPicture();
  Error joinPiecesUntil(int64_t us);
  Error openAudioEncoder(AudioStream& audio, const SoundOutput& settings);
  // Writes a converted sound track's packets.
  SoundEncoder::Sink soundSink(AudioStream& audio);
  Error writeSoundPacket(AudioStream& audio, AVPacket* packet);
  void startSecondHalf(AudioStream& audio, const SoundOutput& settings);
  Error joinHalves(AudioStream& audio);
  Error writeHeld(AudioStream& audio, int64_t until);
  Error writeSecondHalf(AudioStream& audio, int64_t until);
  Error writeHeader();
  Error convertPackets();
  Error handlePacket(AVPacket* packet);
  Error feedSound(AudioStream& sound, const AVPacket* packet);
  Error copyPacket(Stream& stream, AVPacket* packet);
  static void rescaleCopiedTimes(Stream& stream, AVPacket* packet);
  static void snapToFrames(Stream& stream, AVPacket* packet);
  Error copyInOrder(Stream& stream, AVPacket* packet);
  Error copyUndated(Stream& stream, int64_t nextDts);
  Error addTracks();
  Error addPicture(const PlannedTrack& track);
  void timeCopiedFrames();
  Error addSound(AudioStream& sound, const PlannedTrack& track);
  Error addSubtitles(int index);
  // The source's cover picture, kept as the file's cover; written once the
  // header is.
  Error addCover(int index);
  Error writeCover();
  Error writePacket(AVPacket* packet, int* damaged = nullptr);
  // Writes a packet of the picture or a sound track, whose ends make the movie's.
  Error writeMoviePacket(const AVStream* out, AVPacket* packet, int* damaged = nullptr);
  Error flush();
  Error finish();
  bool reportProgress(double fraction, bool force);
  double positionOf(const Stream& stream, const AVPacket* packet) const;
  bool interrupted() const { return job_.interrupt && job_.interrupt->load(); }
  // Records the plain reason of the first failure and answers its detail.
  Error fail(const char* plain, const QString& detail);
  bool sourceChanged() const { return stampOf(job_.source) != sourceStamp_; }
  ExportOutcome abandon(ExportResult status, const QString& detail);
  // Each surround track falls back to its stereo track (the muxer numbers
  // tracks from 1 in the output's order).
  MovieTouches touches() const;
  // What the written file must hold: the planned tracks, as long as the movie.
  PlannedOutput plannedOutput() const;
  // What the plan left out, and the subtitle lines dropped on the way.
  QString leftOut() const;

  const ExportJob& job_;
  const ExportPreset preset_;
  const QString temporary_;
  MovieFacts facts_;
  std::optional<PictureSample> sample_;
  std::future<PictureSample> sampling_;  // while a copy goes on before the sample is known
  bool planOverturned_ = false;
  ExportPlan plan_;
  InputPtr input_;
  OutputPtr output_;
  PacketPtr packet_{av_packet_alloc()};
  VideoStream video_;
  std::vector<AudioStream> sounds_;  // sized once, before any stream is set up
  std::vector<std::unique_ptr<SubtitleTrack>> subtitles_;
  const AVStream* coverIn_ = nullptr;
  AVStream* coverOut_ = nullptr;
  const AVStream* timeline_ = nullptr;  // the stream whose position is the progress
  int64_t duration_ = 0;                // AV_TIME_BASE units
  double lastFraction_ = 0;
  Clock::time_point lastProgress_{};
  int64_t packetsWritten_ = 0;
  int64_t movieEndUs_ = 0;     // where the picture and sound written so far end
  int64_t expectedEndUs_ = 0;  // where the source's picture and sound end; 0 when unknown
  int subtitleTracksLeftOut_ = 0;  // planned, but found not to convert
  int burntTracksLeftOut_ = 0;
  bool cancelled_ = false;
  std::optional<FileStamp> sourceStamp_;
  const char* plainReason_ = nullptr;
  QString writtenPath_;
  std::optional<KeptWork> work_;  // a converted picture's pieces
  QString workNote_;               // why kept work was not used
  double resumedFrom_ = 0;
  int64_t framesEncoded_ = 0;
  double phaseBase_ = 0, phaseShare_ = 1;  // the joining's part of the progress
};

Error Transcoder::fail(const char* plain, const QString& detail) {
  if (!plainReason_) plainReason_ = plain;
  return detail;
}

Error Transcoder::openSource() {
  sourceStamp_ = stampOf(job_.source);
  if (!sourceStamp_) return fail(reason::kMissing, QStringLiteral("%1 is missing").arg(job_.source));
  input_ = openInput(job_.source);
  if (!input_) return fail(reason::kUnreadable, QStringLiteral("cannot open %1 as a movie").arg(job_.source));
  duration_ = input_->duration > 0 ? input_->duration : 0;
  return std::nullopt;
}

// A conversion's filters follow what frames sampled through the movie show,
// so it waits for them. A device's copy needs only to know that they show no
// woven fields or pulldown, which a camera may store behind a progressive
// header and which would play combed: the frames are sampled beside the copy,
// which stands once they allow it.
void Transcoder::makePlan() {
  facts_ = headerFactsOf(input_.get(), job_.source);
  if (facts_.picture >= 0 && !sample_) {
    const AVStream* picture = input_->streams[facts_.picture];
    plan_ = planOf(facts_);
    if (plan_.pictureCopied()) {
      // One decoding thread leaves the other cores to the copy.
      if (sampleCanOverturnCopy()) sampling_ = std::async(std::launch::async, pictureSamplerOf(picture, job_.source, 1));
      return;
    }
    sample_ = pictureSamplerOf(picture, job_.source)();
  }
  if (sample_) addSample(facts_.pictureFacts, *sample_);
  plan_ = planOf(facts_);
}

ExportPlan Transcoder::planOf(const MovieFacts& facts) const {
  return planExport(facts, preset_, {userLanguage(), job_.copyWhatPlays});
}

// The QuickTime copy keeps a woven picture as it is.
bool Transcoder::sampleCanOverturnCopy() const {
  MovieFacts woven = facts_;
  woven.pictureFacts.interlaced = true;
  return !planOf(woven).pictureCopied();
}

// Whether the copy begun before the picture was sampled stands, once the
// sample is in (wait: until it is).
bool Transcoder::copyStands(bool wait) {
  if (!sampling_.valid()) return !planOverturned_;
  if (!wait && sampling_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return true;
  sample_ = sampling_.get();
  addSample(facts_.pictureFacts, *sample_);
  planOverturned_ = planOf(facts_).describe() != plan_.describe();
  return !planOverturned_;
}

Error Transcoder::openOutput() {
  AVFormatContext* raw = nullptr;
  const int rc = avformat_alloc_output_context2(&raw, nullptr, preset_.muxer,
                                                fileUrl(temporary_).constData());
  if (rc < 0) return failure(QStringLiteral("cannot set up the output"), rc);
  output_.reset(raw);
  copyMovieTags(input_.get(), output_.get());
  if (!copyChapters(input_.get(), output_.get(), movieStartUs(input_.get()))) return QStringLiteral("out of memory");
  // The muxer lays out the chapter track with the header: chapters (and
  // subtitles) are fitted to where the movie really ends, whatever the
  // source's header says.
  expectedEndUs_ = movieEndOf(job_.source);
  if (output_->nb_chapters > 0) fitChapters(output_.get(), expectedEndUs_);
  return std::nullopt;
}

Error Transcoder::addStream(Stream& stream, int index, bool copy) {
  stream.in = input_->streams[index];
  stream.copy = copy;
  stream.startOffset = movieStartIn(input_.get(), stream.in);
  stream.out = avformat_new_stream(output_.get(), nullptr);
  if (!stream.out) return QStringLiteral("cannot add an output stream");
  copyTrackTags(stream.in, stream.out);
  if (stream.copy) {
    copyDisplayMatrix(stream.in, stream.out);
    const int rc = avcodec_parameters_copy(stream.out->codecpar, stream.in->codecpar);
    if (rc < 0) return failure(QStringLiteral("cannot copy stream parameters"), rc);
    stream.out->codecpar->codec_tag = 0;
    stream.out->time_base = stream.in->time_base;
    // The file's pixel shape, where it states one, over the picture's own
    // headers (as the plan reads it): the muxer refuses the two differing.
    if (stream.in->sample_aspect_ratio.num) {
      stream.out->sample_aspect_ratio = stream.in->sample_aspect_ratio;
      stream.out->codecpar->sample_aspect_ratio = stream.in->sample_aspect_ratio;
    }
  }
  return std::nullopt;
}

// An H.264 encoder for the converted picture, as the plan and the preset
// set it up; every piece gets one of its own.
CodecContextPtr Transcoder::newPictureEncoder(QString& error) const {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  CodecContextPtr encoder(codec ? avcodec_alloc_context3(codec) : nullptr);
  if (!encoder) {
    error = codec ? QStringLiteral("out of memory") : QStringLiteral("the H.264 encoder is missing");
    return nullptr;
  }
  const PictureOutput& output = plan_.output;
  encoder->width = output.width;
  encoder->height = output.height;
  encoder->sample_aspect_ratio = {output.sarNum, output.sarDen};
  encoder->pix_fmt = AV_PIX_FMT_YUV420P;
  // H.273 code points, which FFmpeg's colour enums are.
  encoder->colorspace = AVColorSpace(output.colours.matrix);
  encoder->color_primaries = AVColorPrimaries(output.colours.primaries);
  encoder->color_trc = AVColorTransferCharacteristic(output.colours.transfer);
  encoder->color_range = AVCOL_RANGE_MPEG;
  encoder->time_base = input_->streams[pictureSource()]->time_base;
  encoder->framerate = {output.frameRateNum, output.frameRateDen};
  encoder->thread_count = 0;
  if (preset_.level) encoder->level = preset_.level;
  if (preset_.referenceFrames) encoder->refs = preset_.referenceFrames;
  if (preset_.maxRateKbps) {
    encoder->rc_max_rate = int64_t(preset_.maxRateKbps) * 1000;
    encoder->rc_buffer_size = preset_.maxRateKbps * 2000;
  }
  // The MP4 and MOV muxers keep the parameter sets in the sample description.
  encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  const QByteArray speed =
      job_.speedPreset.isEmpty() ? QByteArray(kDefaultSpeedPreset) : job_.speedPreset.toUtf8();
  av_dict_set(&options, "preset", speed.constData(), 0);
  av_dict_set(&options, "profile", preset_.profile, 0);
  av_dict_set_int(&options, "crf", job_.crf > 0 ? job_.crf : preset_.crf, 0);
  const QByteArray tuning = job_.x264Options.isEmpty() ? QByteArray(preset_.x264Options) : job_.x264Options.toUtf8();
  if (!tuning.isEmpty()) av_dict_set(&options, "x264-params", tuning.constData(), 0);
  const int rc = avcodec_open2(encoder.get(), codec, &options);
  av_dict_free(&options);
  if (rc < 0) {
    error = *failure(QStringLiteral("cannot open the H.264 encoder"), rc);
    return nullptr;
  }
  return encoder;
}

// The source's picture when the plan converts it; -1 otherwise.
int Transcoder::pictureSource() const {
  for (const PlannedTrack& track : plan_.tracks)
    if (track.kind == TrackKind::Picture && track.action == TrackAction::Convert) return track.source;
  return -1;
}

QString Transcoder::planText() const {
  QString text = QString::fromStdString(plan_.describe());
  if (!workNote_.isEmpty()) text += QStringLiteral("; ") + workNote_;
  if (resumedFrom_ > 0) text += QStringLiteral("; resumed at %1 %").arg(int(resumedFrom_ * 100));
  return text;
}

// As a share of the whole export, as its progress counts it.
double Transcoder::keptFraction() const {
  if (!work_ || duration_ <= 0) return 0;
  return kPictureShare * std::min(1.0, double(work_->piecesDone() * pieceUs()) / double(duration_));
}

// Everything the kept pieces depend on: the source as it is on disk, the
// target and its output, what the plan makes of the picture, the encoder's
// settings, the piece length and this version of Tovix.
QByteArray Transcoder::workIdentity() const {
  QCryptographicHash digest(QCryptographicHash::Sha256);
  const PictureOutput& o = plan_.output;
  const QString facts =
      QStringLiteral("%1|%2|%3|%4.%5|%6|%7|%8|%9").arg(sourceStamp_->device).arg(sourceStamp_->inode).arg(sourceStamp_->size)
          .arg(sourceStamp_->modified.tv_sec).arg(sourceStamp_->modified.tv_nsec).arg(job_.typeCode).arg(job_.output)
          .arg(QString::fromStdString(plan_.describe() + plan_.picture.filters))
          .arg(pieceUs());
  const QString settings = QStringLiteral("%1x%2 %3:%4 %5/%6 %7 %8 %9 ")
                               .arg(o.width).arg(o.height).arg(o.sarNum).arg(o.sarDen).arg(o.frameRateNum).arg(o.frameRateDen)
                               .arg(o.colours.matrix).arg(o.colours.primaries).arg(o.colours.transfer) +
                           QStringLiteral("%1 %2 %3 %4 %5").arg(job_.speedPreset, job_.x264Options).arg(job_.crf)
                               .arg(QLatin1String(preset_.x264Options), QLatin1String(TOVIX_VERSION));
  digest.addData(facts.toUtf8());
  digest.addData(settings.toUtf8());
  return digest.result().toHex();
}

// Converts the picture into kept pieces, from the first one not kept yet.
Error Transcoder::convertPicture() {
  QString why;
  const QString folder = paths::keptWorkFolder(job_.source, QString::number(job_.typeCode), job_.output);
  work_.emplace(folder, workIdentity(), why);
  if (!why.isEmpty()) workNote_ = QStringLiteral("the work kept earlier was not used: %1").arg(why);
  const int64_t pieceLength = pieceUs();
  resumedFrom_ = keptFraction();
  PieceSetup setup;
  setup.source = job_.source;
  setup.stream = pictureSource();
  for (const PlannedTrack& track : plan_.tracks) {
    if (track.action != TrackAction::Burn) continue;
    setup.burntStream = track.source;
    setup.forcedLinesOnly = track.forcedLinesOnly;
  }
  setup.pieceUs = pieceLength;
  setup.durationUs = duration_;
  setup.plan = plan_.picture;
  setup.output = plan_.output;
  setup.newEncoder = [this](QString& error) { return newPictureEncoder(error); };
  setup.progress = [this](double fraction) { return !interrupted() && reportProgress(fraction * kPictureShare, false); };
  PictureInPieces pieces(std::move(setup));
  Error error = pieces.run(*work_);
  framesEncoded_ = pieces.framesEncoded();
  if (pieces.burnLeftOut()) ++burntTracksLeftOut_;
  if (pieces.stopped()) cancelled_ = true;
  if (error) return fail(pieces.writeFailed() ? reason::kWriteFailed : reason::kPicture, *error);
  return std::nullopt;
}

Error Transcoder::openAudioEncoder(AudioStream& audio, const SoundOutput& settings) {
  QString error;
  audio.encoder = SoundEncoder::create(audio.in, audio.startOffset, settings,
                                       output_->oformat->flags & AVFMT_GLOBALHEADER, error);
  if (!audio.encoder) return error;
  audio.out->time_base = audio.encoder->encoder()->time_base;
  const int rc = avcodec_parameters_from_context(audio.out->codecpar, audio.encoder->encoder());
  if (rc < 0) return failure(QStringLiteral("cannot describe the audio stream"), rc);
  return std::nullopt;
}

// Until the halves of a track are joined, the first half's packets from the
// seam on wait: where the second half takes over decides which are kept.
SoundEncoder::Sink Transcoder::soundSink(AudioStream& audio) {
  return [this, &audio](AVPacket* packet) -> Error {
    if (!audio.secondHalf || audio.joined || packet->pts < audio.secondHalf->seam() - audio.encoder->encoder()->frame_size)
      return writeSoundPacket(audio, packet);
    PacketPtr copy(av_packet_clone(packet));
    if (!copy) return QStringLiteral("out of memory");
    audio.held.push_back(std::move(copy));
    return std::nullopt;
  };
}

Error Transcoder::writeSoundPacket(AudioStream& audio, AVPacket* packet) {
  av_packet_rescale_ts(packet, audio.encoder->encoder()->time_base, audio.out->time_base);
  packet->stream_index = audio.out->index;
  return writeMoviePacket(audio.out, packet);
}

// A long AAC track is encoded in two halves at once, each taking about the
// same time: the second half, which settles before its seam, begins a little
// before the middle.
void Transcoder::startSecondHalf(AudioStream& audio, const SoundOutput& settings) {
  const AVCodecContext* encoder = audio.encoder->encoder();
  const int64_t frame = encoder->frame_size, rate = encoder->sample_rate;
  if (settings.ac3 || frame <= 0 || duration_ < kSecondHalfUs || std::thread::hardware_concurrency() < 2) return;
  const int64_t length = av_rescale_q(duration_, AV_TIME_BASE_Q, encoder->time_base);
  const int64_t seam = (length + SecondHalf::kSettleSeconds * rate) / 2 / frame * frame;
  audio.secondHalf = std::make_unique<SecondHalf>(job_.source, audio.in->index, settings,
                                                  output_->oformat->flags & AVFMT_GLOBALHEADER, seam, int(frame));
  audio.encoder->keepSamples(audio.secondHalf->keepFrom(), audio.secondHalf->keepTo());
}

// Hands the track over to its second half at the first frame where the join
// cannot be heard; without one, the first half goes on to the end.
Error Transcoder::joinHalves(AudioStream& audio) {
  if (!audio.secondHalf || audio.joined) return std::nullopt;
  const int64_t frame = audio.encoder->encoder()->frame_size;
  for (; audio.joinsTried < SecondHalf::kJoins; ++audio.joinsTried) {
    const int64_t at = audio.secondHalf->seam() + audio.joinsTried * frame;
    const auto before = std::find_if(audio.held.begin(), audio.held.end(),
                                     [&](const PacketPtr& packet) { return packet->pts == at - frame; });
    if (audio.encoder->fedUntil() < at + 2 * frame || before == audio.held.end()) return std::nullopt;
    if (audio.secondHalf->joinsAt(at, before->get(), audio.encoder->samplesKept())) {
      audio.joined = true;
      audio.waiting.reset(av_packet_alloc());
      if (!audio.waiting) return QStringLiteral("out of memory");
      return writeHeld(audio, at);
    }
  }
  audio.secondHalf.reset();
  return writeHeld(audio, INT64_MAX);
}

Error Transcoder::writeHeld(AudioStream& audio, int64_t until) {
  for (const PacketPtr& packet : audio.held) {
    if (packet->pts >= until) break;
    if (Error error = writeSoundPacket(audio, packet.get())) return error;
  }
  audio.held.clear();
  return std::nullopt;
}

// Writes the second half's packets that begin by until (in its encoder's
// time base), beside the source's other tracks in time.
Error Transcoder::writeSecondHalf(AudioStream& audio, int64_t until) {
  for (;;) {
    if (!audio.waiting->data && !audio.secondHalf->next(audio.waiting.get())) {
      const auto failure = audio.secondHalf->failure();
      return failure ? fail(reason::kSound, *failure) : std::nullopt;
    }
    if (audio.waiting->pts > until) return std::nullopt;
    Error error = writeSoundPacket(audio, audio.waiting.get());
    av_packet_unref(audio.waiting.get());
    if (error) return error;
  }
}

Error Transcoder::writeHeader() {
  int rc = avio_open(&output_->pb, fileUrl(temporary_).constData(), AVIO_FLAG_WRITE);
  if (rc < 0) return fail(reason::kOutputFolder, *failure(QStringLiteral("cannot write %1").arg(temporary_), rc));
  // The movie box goes first when the file is finished (finishMovieFile).
  rc = avformat_write_header(output_.get(), nullptr);
  if (rc < 0) return fail(reason::kWriteFailed, *failure(QStringLiteral("cannot write the movie header"), rc));
  return std::nullopt;
}

bool Transcoder::reportProgress(double fraction, bool force) {
  const auto now = Clock::now();
  if (!force && now - lastProgress_ < kProgressInterval) return true;
  lastProgress_ = now;
  // A copy that the picture's sample may still overturn has not begun for the user.
  const double shown = sampling_.valid() ? 0 : fraction;
  if (job_.progress && !job_.progress(phaseBase_ + phaseShare_ * shown)) cancelled_ = true;
  return !cancelled_;
}

// damaged: where a copied packet that the muxer refuses as damaged is
// counted and left out (a broadcast's sound frame whose header a dropout
// broke), so that the rest of its track goes on; null: such a packet fails.
Error Transcoder::writePacket(AVPacket* packet, int* damaged) {
  const int rc = av_interleaved_write_frame(output_.get(), packet);
  if (rc == AVERROR_INVALIDDATA && damaged) {
    ++*damaged;
    return std::nullopt;
  }
  if (rc == AVERROR(ENOSPC)) return fail(reason::kDiskFull, *failure(QStringLiteral("cannot write to %1").arg(temporary_), rc));
  if (rc < 0) return fail(reason::kWriteFailed, *failure(QStringLiteral("cannot write to %1").arg(temporary_), rc));
  ++packetsWritten_;
  return std::nullopt;
}

// Copied packets keep their times, made to rise strictly: a source may
// repeat or leave out a time (a DVD's sound often does), which the MP4
// muxer refuses. Such a packet follows the one before it.
Error Transcoder::copyPacket(Stream& stream, AVPacket* packet) {
  if (packet->pts != AV_NOPTS_VALUE) packet->pts -= stream.startOffset;
  if (packet->dts != AV_NOPTS_VALUE) packet->dts -= stream.startOffset;
  rescaleCopiedTimes(stream, packet);
  if (packet->dts == AV_NOPTS_VALUE) packet->dts = packet->pts;
  if (stream.lastDts != AV_NOPTS_VALUE && (packet->dts == AV_NOPTS_VALUE || packet->dts <= stream.lastDts)) {
    packet->dts = stream.lastDts + std::max<int64_t>(1, stream.lastDuration);
    if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::max(packet->pts, packet->dts);
  }
  if (packet->pts == AV_NOPTS_VALUE) packet->pts = packet->dts;
  stream.lastDts = packet->dts;
  stream.lastDuration = stream.in->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? packet->duration : 0;
  packet->stream_index = stream.out->index;
  packet->pos = -1;
  return writeMoviePacket(stream.out, packet, &stream.damaged);
}

// Sound frames hold a fixed number of samples, which a file that times in
// milliseconds (Matroska) rounds: an AAC frame at 48 kHz would last 1008 or
// 1056 samples in turn. A frame within one tick of the file's clock of where
// the last one ended follows on sample-exact; a real gap keeps its time.
void Transcoder::rescaleCopiedTimes(Stream& stream, AVPacket* packet) {
  if (stream.frameRate.num > 0) return snapToFrames(stream, packet);
  const AVCodecParameters* par = stream.in->codecpar;
  const int samples = par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0
                          ? av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(par), packet->size)
                          : 0;
  if (samples <= 0 || packet->dts == AV_NOPTS_VALUE || packet->pts != packet->dts) {
    av_packet_rescale_ts(packet, stream.in->time_base, stream.out->time_base);
    return;
  }
  const AVRational sampleTime{1, par->sample_rate};
  const int64_t at = av_rescale_q(packet->dts, stream.in->time_base, sampleTime);
  const int64_t tick = av_rescale_q_rnd(1, stream.in->time_base, sampleTime, AV_ROUND_UP);
  const int64_t gap = stream.nextSample == AV_NOPTS_VALUE ? INT64_MAX : av_sat_sub64(at, stream.nextSample);
  const bool followsOn = gap >= -tick && gap <= tick;
  const int64_t start = followsOn ? stream.nextSample : at;
  stream.nextSample = av_sat_add64(start, samples);
  packet->dts = packet->pts = av_rescale_q(start, sampleTime, stream.out->time_base);
  packet->duration = av_rescale_q(samples, sampleTime, stream.out->time_base);
}

// Likewise a picture at a constant rate: at 30 frames a second, Matroska's
// milliseconds make frames of 33 and 34 ms in turn. A time within one tick
// of the file's clock of the frame grid goes on it; any other keeps its own.
void Transcoder::snapToFrames(Stream& stream, AVPacket* packet) {
  const AVRational in = stream.in->time_base, out = stream.out->time_base, frame = av_inv_q(stream.frameRate);
  if (stream.firstTime == AV_NOPTS_VALUE) stream.firstTime = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  const int64_t tick = av_rescale_q_rnd(1, in, out, AV_ROUND_UP);
  const auto snapped = [&](int64_t span) {  // a span of time, from in to out
    const int64_t raw = av_rescale_q(span, in, out);
    const int64_t onGrid = av_rescale_q(av_rescale_q_rnd(span, in, frame, AV_ROUND_NEAR_INF), frame, out);
    const int64_t off = av_sat_sub64(raw, onGrid);
    return off >= -tick && off <= tick ? onGrid : raw;
  };
  const int64_t origin = av_rescale_q(stream.firstTime, in, out);
  for (int64_t* time : {&packet->pts, &packet->dts}) {
    if (*time != AV_NOPTS_VALUE) *time = av_sat_add64(origin, snapped(av_sat_sub64(*time, stream.firstTime)));
  }
  packet->duration = snapped(packet->duration);
}

// A reordered picture's first packets may come without a decode time
// (Matroska stores none): they wait for the first packet that has one and
// take the times just before it, a frame apart, as its encoder gave them.
Error Transcoder::copyInOrder(Stream& stream, AVPacket* packet) {
  constexpr size_t kMaxUndated = 16;
  if (stream.lastDts == AV_NOPTS_VALUE && packet->dts == AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
      stream.undated.size() < kMaxUndated) {
    stream.undated.emplace_back(av_packet_clone(packet));
    if (!stream.undated.back()) return QStringLiteral("out of memory");
    return std::nullopt;
  }
  if (Error error = copyUndated(stream, packet->dts)) return error;
  return copyPacket(stream, packet);
}

// Copies the packets that waited, dated back from nextDts (their own
// presentation times when none came).
Error Transcoder::copyUndated(Stream& stream, int64_t nextDts) {
  std::vector<PacketPtr> waiting = std::move(stream.undated);
  stream.undated.clear();
  const int64_t count = int64_t(waiting.size());
  for (int64_t i = 0; i < count; ++i) {
    AVPacket* held = waiting[size_t(i)].get();
    const int64_t step = std::max<int64_t>(1, held->duration);
    held->dts = nextDts == AV_NOPTS_VALUE ? held->pts : nextDts - (count - i) * step;
    if (Error error = copyPacket(stream, held)) return error;
  }
  return std::nullopt;
}

Error Transcoder::writeMoviePacket(const AVStream* out, AVPacket* packet, int* damaged) {
  if (packet->pts != AV_NOPTS_VALUE)
    movieEndUs_ = std::max(movieEndUs_, av_rescale_q(packet->pts + packet->duration, out->time_base, AV_TIME_BASE_Q));
  return writePacket(packet, damaged);
}

// The fraction done: the position in time over the duration, or, for
// sources that state no duration (raw streams, live recordings), the bytes
// read over the file's size. Negative when neither is known.
double Transcoder::positionOf(const Stream& stream, const AVPacket* packet) const {
  if (duration_ > 0) {
    if (stream.in != timeline_ || packet->pts == AV_NOPTS_VALUE) return -1;
    const int64_t position =
        av_rescale_q(packet->pts - stream.startOffset, stream.in->time_base, AV_TIME_BASE_Q);
    return double(position) / double(duration_);
  }
  const int64_t size = input_->pb ? avio_size(input_->pb) : -1;
  if (size <= 0) return -1;
  return double(avio_tell(input_->pb)) / double(size);
}

Error Transcoder::handlePacket(AVPacket* packet) {
  const int64_t startUs = movieStartUs(input_.get());
  // The converted picture's pieces go in beside the source's other tracks, in time.
  if (video_.pieces && packet->dts != AV_NOPTS_VALUE) {
    const AVStream* in = input_->streams[packet->stream_index];
    if (Error error = joinPiecesUntil(av_rescale_q(packet->dts, in->time_base, AV_TIME_BASE_Q) - startUs)) return error;
  }
  if (video_.in && packet->stream_index == video_.in->index) {
    const double position = positionOf(video_, packet);
    if (position >= 0) lastFraction_ = std::clamp(position, lastFraction_, 1.0);
    return video_.pieces ? std::nullopt : copyInOrder(video_, packet);
  }
  // Every sound track made from this stream takes the packet (a stereo
  // track and its surround companion).
  const AudioStream* sound = nullptr;
  for (AudioStream& track : sounds_) {
    if (packet->stream_index != track.in->index) continue;
    if (Error error = feedSound(track, packet)) return error;
    sound = &track;
  }
  for (const auto& subtitle : subtitles_) {
    if (packet->stream_index != subtitle->in()->index) continue;
    const int rc = subtitle->convert(packet, startUs, [this](AVPacket* converted) {
      return writePacket(converted) ? -1 : 0;
    });
    return rc < 0 ? Error(QStringLiteral("cannot write the subtitles to %1").arg(temporary_)) : std::nullopt;
  }
  if (!sound) return std::nullopt;  // picture subtitles, data and unchosen streams are left out
  const double position = positionOf(*sound, packet);
  if (position >= 0) lastFraction_ = std::clamp(position, lastFraction_, 1.0);
  return std::nullopt;
}

// A converted track encodes the packet; once its second half has taken over,
// that half's packets are written up to the packet's time instead. A copy
// hands its own reference to the muxer, so the packet stays whole for the
// other tracks made from the same stream.
Error Transcoder::feedSound(AudioStream& sound, const AVPacket* packet) {
  if (sound.joined) {
    if (packet->pts == AV_NOPTS_VALUE) return std::nullopt;
    return writeSecondHalf(sound, av_rescale_q(packet->pts - sound.startOffset, sound.in->time_base,
                                               sound.encoder->encoder()->time_base));
  }
  if (!sound.copy) {
    Error error = sound.encoder->push(packet, soundSink(sound));
    if (!error) error = joinHalves(sound);
    return error ? fail(reason::kSound, *error) : error;
  }
  PacketPtr copy(av_packet_clone(packet));
  if (!copy) return QStringLiteral("out of memory");
  return copyInOrder(sound, copy.get());
}

// Writes the pieces' packets that start by us (from the movie's start),
// piece after piece.
Error Transcoder::joinPiecesUntil(int64_t us) {
  for (;;) {
    if (!video_.waiting->data) {
      while (!video_.pieces->next(video_.waiting.get())) {
        if (video_.nextPiece >= work_->piecesDone()) return std::nullopt;
        video_.pieces = std::make_unique<PieceReader>(work_->piecePath(video_.nextPiece++));
      }
    }
    const int64_t at = av_rescale_q(video_.waiting->dts, video_.in->time_base, AV_TIME_BASE_Q);
    if (at > us) return std::nullopt;
    Error error = copyPacket(video_, video_.waiting.get());
    av_packet_unref(video_.waiting.get());
    if (error) return error;
  }
}

Error Transcoder::convertPackets() {
  for (;;) {
    if (interrupted()) {
      cancelled_ = true;
      return std::nullopt;
    }
    const int rc = av_read_frame(input_.get(), packet_.get());
    if (rc == AVERROR_EOF) return std::nullopt;
    if (rc < 0) return fail(reason::kReadFailed, *failure(QStringLiteral("cannot read %1").arg(job_.source), rc));
    Error error = handlePacket(packet_.get());
    av_packet_unref(packet_.get());
    if (error) return error;
    if (!copyStands(false)) return std::nullopt;
    if (!reportProgress(lastFraction_, false)) return std::nullopt;
  }
}

Error Transcoder::flush() {
  if (video_.pieces) {
    if (Error error = joinPiecesUntil(INT64_MAX)) return error;
  }
  for (AudioStream& sound : sounds_) {
    if (!sound.encoder) continue;
    if (sound.joined) {
      if (Error error = writeSecondHalf(sound, INT64_MAX)) return error;
      continue;
    }
    if (Error error = sound.encoder->finish(soundSink(sound))) return fail(reason::kSound, *error);
    // The first half went on to the end.
    sound.secondHalf.reset();
    if (Error error = writeHeld(sound, INT64_MAX)) return error;
  }
  if (Error error = copyUndated(video_, AV_NOPTS_VALUE)) return error;
  // Subtitles and chapters end with the picture and sound.
  for (const auto& subtitle : subtitles_) {
    if (subtitle->finish(movieEndUs_, [this](AVPacket* converted) { return writePacket(converted) ? -1 : 0; }) < 0)
      return QStringLiteral("cannot write the subtitles to %1").arg(temporary_);
  }
  fitChapters(output_.get(), movieEndUs_);
  return std::nullopt;
}

Error Transcoder::finish() {
  if (packetsWritten_ == 0)
    return fail(reason::kUnreadable, QStringLiteral("nothing in %1 could be decoded").arg(job_.source));
  int rc = av_write_trailer(output_.get());
  if (rc < 0) return fail(reason::kWriteFailed, *failure(QStringLiteral("cannot finish the movie"), rc));
  rc = avio_closep(&output_->pb);
  if (rc == AVERROR(ENOSPC)) return fail(reason::kDiskFull, *failure(QStringLiteral("cannot write %1").arg(temporary_), rc));
  if (rc < 0) return fail(reason::kWriteFailed, *failure(QStringLiteral("cannot write %1").arg(temporary_), rc));
  const MovieTouches finishing = touches();  // read from the output's streams before they go
  const PlannedOutput planned = plannedOutput();
  output_.reset();
  if (!finishMovieFile(temporary_, finishing))
    return fail(reason::kWriteFailed, QStringLiteral("cannot lay out %1 for fast start").arg(temporary_));
  if (const auto wrong = checkWrittenMovie(temporary_, planned))
    return fail(reason::kIncomplete, QStringLiteral("%1: %2").arg(temporary_, *wrong));
  // A source cut short or rewritten meanwhile gave a movie that is not the
  // user's whole movie.
  if (sourceChanged()) return fail(reason::kChanged, QStringLiteral("%1 changed during the export").arg(job_.source));
  const qsizetype keptTail = job_.output.endsWith(job_.outputSuffix) ? job_.outputSuffix.size() : 0;
  const auto written = moveToFreeName(temporary_, job_.output, keptTail);
  if (!written) {
    const int error = errno;
    const QString detail = QStringLiteral("cannot rename the finished movie to %1: %2")
                               .arg(job_.output, QString::fromLocal8Bit(std::strerror(error)));
    if (!QFileInfo(QFileInfo(job_.output).path()).isDir()) return fail(reason::kFolderGone, detail);
    if (error == EINVAL || error == EPERM || error == ENAMETOOLONG) return fail(reason::kNameRefused, detail);
    return detail;
  }
  writtenPath_ = *written;
  return std::nullopt;
}

MovieTouches Transcoder::touches() const {
  MovieTouches touches;
  for (const AudioStream& sound : sounds_)
    if (sound.stereo) touches.fallbacks.push_back({sound.out->index + 1, sound.stereo->out->index + 1});
  return touches;
}

PlannedOutput Transcoder::plannedOutput() const {
  PlannedOutput planned;
  for (const PlannedTrack& track : plan_.tracks) {
    if (track.action == TrackAction::LeaveOut || track.action == TrackAction::Burn) continue;
    ++(track.kind == TrackKind::Picture ? planned.pictures
       : track.kind == TrackKind::Sound ? planned.sounds
       : track.kind == TrackKind::Cover ? planned.covers
                                        : planned.subtitles);
  }
  planned.subtitles -= subtitleTracksLeftOut_;
  planned.endUs = expectedEndUs_;
  // A frame of the picture, or of the sound where there is none.
  const AVRational rate = video_.pieces ? AVRational{plan_.output.frameRateNum, plan_.output.frameRateDen} : AVRational{0, 1};
  planned.frameUs = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q) : AV_TIME_BASE * 1024 / 44100;
  return planned;
}

QString Transcoder::leftOut() const {
  QString text = QString::fromStdString(plan_.leftOut);
  // "2 subtitle lines out of time": what, counted, and what is said of it.
  const auto add = [&text](int count, const char* what, const char* why) {
    if (count == 0) return;
    if (!text.isEmpty()) text += QStringLiteral(", ");
    text += QStringLiteral("%1 %2%3 %4").arg(count).arg(QLatin1String(what), count == 1 ? "" : "s", QLatin1String(why));
  };
  add(subtitleTracksLeftOut_, "subtitle track", "that could not be converted");
  add(burntTracksLeftOut_, "picture subtitle track", "that could not be burnt in");
  int dropped = 0;
  for (const auto& subtitle : subtitles_) dropped += subtitle->droppedCues();
  add(dropped, "subtitle line", "out of time");
  int damagedSound = 0;
  for (const AudioStream& sound : sounds_) damagedSound += sound.damaged;
  add(video_.damaged, "picture frame", "damaged in the source");
  add(damagedSound, "sound frame", "damaged in the source");
  return text;
}

ExportOutcome Transcoder::abandon(ExportResult status, const QString& detail) {
  // A copy that failed may not have been the export to make at all.
  if (status == ExportResult::Failed) copyStands(true);
  output_.reset();
  QFile::remove(temporary_);
  // A write that failed because the folder went away says so.
  if (status == ExportResult::Failed && (!plainReason_ || plainReason_ == reason::kWriteFailed) &&
      !QFileInfo(QFileInfo(job_.output).path()).isDir())
    plainReason_ = reason::kFolderGone;
  ExportOutcome outcome{status, {}, detail, {}, {}, planText()};
  outcome.resumedFrom = resumedFrom_;
  outcome.framesEncoded = framesEncoded_;
  if (work_) outcome.keptFraction = keptFraction();
  if (status != ExportResult::Failed) return outcome;
  // A read error or an early end is most often the source changing under us.
  const char* plain = sourceStamp_ && sourceChanged() ? reason::kChanged : plainReason_;
  outcome.reason = QLatin1String(plain ? plain : reason::kGeneric);
  return outcome;
}

// Sets up the output's tracks as the plan lists them. Each sound track keeps
// its language and title; the enabled one is the track players start with,
// the others wait in the same alternate group (the MP4 muxer groups tracks by
// kind) for a language menu, surround companions disabled among them.
Error Transcoder::addTracks() {
  const auto sounds = std::count_if(plan_.tracks.begin(), plan_.tracks.end(), [](const PlannedTrack& t) {
    return t.kind == TrackKind::Sound && t.action != TrackAction::LeaveOut;
  });
  sounds_ = std::vector<AudioStream>(size_t(sounds));  // sized once: streams are not moved after set-up
  auto sound = sounds_.begin();
  std::vector<const AudioStream*> soundOfTrack(plan_.tracks.size(), nullptr);  // by place in the plan
  for (size_t i = 0; i < plan_.tracks.size(); ++i) {
    const PlannedTrack& track = plan_.tracks[i];
    Error error;
    if (track.action == TrackAction::LeaveOut) continue;
    if (track.action == TrackAction::Burn) continue;  // burnt into the pieces
    if (track.kind == TrackKind::Picture) {
      error = addPicture(track);
    } else if (track.kind == TrackKind::Sound) {
      if (track.surround()) sound->stereo = soundOfTrack[size_t(track.companionOf)];
      soundOfTrack[i] = &*sound;
      error = addSound(*sound++, track);
    } else if (track.kind == TrackKind::TextSubtitle) {
      error = addSubtitles(track.source);
    } else if (track.kind == TrackKind::Cover) {
      error = addCover(track.source);
    }
    if (error) return error;
  }
  timeline_ = video_.in ? video_.in : sounds_.empty() ? nullptr : sounds_.front().in;
  return std::nullopt;
}

Error Transcoder::addPicture(const PlannedTrack& track) {
  if (track.action == TrackAction::Convert) return addConvertedPicture();
  if (Error error = addStream(video_, track.source, true)) return fail(reason::kPicture, *error);
  // Apple's players want HEVC tagged "hvc1" (parameter sets in the sample description).
  if (track.hvc1Tag) video_.out->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
  timeCopiedFrames();
  return std::nullopt;
}

// A frame rate the source's clock cannot time exactly gets a clock that can:
// 1/30 s is no whole number of milliseconds, but 1001/30000 s is of 1/30000 s.
void Transcoder::timeCopiedFrames() {
  const AVRational rate = av_guess_frame_rate(input_.get(), video_.in, nullptr), clock = video_.in->time_base;
  if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > kMaxGridRate || clock.num <= 0 || clock.den <= 0) return;
  if ((int64_t(rate.den) * clock.den) % (int64_t(rate.num) * clock.num) == 0) return;  // whole ticks already
  video_.frameRate = rate;
  video_.out->time_base = {1, rate.num};
}

// The converted picture's track, described by an encoder set up as the
// pieces' were; its packets come from the pieces, timed from the movie's start.
Error Transcoder::addConvertedPicture() {
  video_.in = input_->streams[pictureSource()];
  video_.out = avformat_new_stream(output_.get(), nullptr);
  if (!video_.out) return QStringLiteral("cannot add an output stream");
  copyTrackTags(video_.in, video_.out);
  QString error;
  const CodecContextPtr encoder = newPictureEncoder(error);
  if (!encoder) return fail(reason::kPicture, error);
  const int rc = avcodec_parameters_from_context(video_.out->codecpar, encoder.get());
  if (rc < 0) return failure(QStringLiteral("cannot describe the video stream"), rc);
  video_.out->time_base = encoder->time_base;
  video_.out->sample_aspect_ratio = encoder->sample_aspect_ratio;
  video_.pieces = std::make_unique<PieceReader>(work_->piecePath(0));
  video_.nextPiece = 1;
  video_.waiting.reset(av_packet_alloc());
  if (!video_.waiting) return QStringLiteral("out of memory");
  return std::nullopt;
}

Error Transcoder::addSound(AudioStream& sound, const PlannedTrack& track) {
  if (Error error = addStream(sound, track.source, track.action == TrackAction::Copy)) return error;
  sound.out->disposition = track.enabled ? AV_DISPOSITION_DEFAULT : 0;
  Error error = sound.copy ? std::nullopt : openAudioEncoder(sound, track.sound);
  if (error) return fail(reason::kSound, *error);
  if (!sound.copy) startSecondHalf(sound, track.sound);
  return std::nullopt;
}

// A subtitle track that cannot be converted is left out, and said to be.
Error Transcoder::addSubtitles(int index) {
  QString error;
  auto track = SubtitleTrack::create(input_->streams[index], output_.get(), expectedEndUs_, error);
  if (track) subtitles_.push_back(std::move(track));
  else ++subtitleTracksLeftOut_;
  return std::nullopt;
}


Error Transcoder::addCover(int index) {
  coverIn_ = input_->streams[index];
  coverOut_ = avformat_new_stream(output_.get(), nullptr);
  if (!coverOut_) return QStringLiteral("cannot add the cover");
  const int rc = avcodec_parameters_copy(coverOut_->codecpar, coverIn_->codecpar);
  if (rc < 0) return failure(QStringLiteral("cannot copy the cover"), rc);
  coverOut_->codecpar->codec_tag = 0;
  coverOut_->disposition = AV_DISPOSITION_ATTACHED_PIC;
  coverOut_->time_base = {1, 90000};
  return std::nullopt;
}

Error Transcoder::writeCover() {
  if (!coverOut_) return std::nullopt;
  PacketPtr cover(av_packet_clone(&coverIn_->attached_pic));
  if (!cover) return QStringLiteral("out of memory");
  cover->stream_index = coverOut_->index;
  cover->pts = cover->dts = 0;
  const int rc = av_interleaved_write_frame(output_.get(), cover.get());
  if (rc < 0) return failure(QStringLiteral("cannot write the cover"), rc);
  return std::nullopt;
}

ExportOutcome Transcoder::run() {
  if (!packet_) return abandon(ExportResult::Failed, QStringLiteral("out of memory"));
  if (Error error = openSource()) return abandon(ExportResult::Failed, *error);
  makePlan();
  if (!plan_.writesAMovie())
    return abandon(ExportResult::Failed,
                   *fail(reason::kNothingToConvert, QStringLiteral("%1 has no sound or picture").arg(job_.source)));
  if (pictureConverted()) {
    if (Error error = convertPicture()) return abandon(ExportResult::Failed, *error);
    if (cancelled_ || interrupted()) return abandon(ExportResult::Cancelled, QStringLiteral("cancelled"));
    phaseBase_ = kPictureShare;
    phaseShare_ = 1 - kPictureShare;
  }
  Error error = openOutput();
  if (!error) error = addTracks();
  if (!error) error = writeHeader();
  if (!error) error = writeCover();
  if (error) return abandon(ExportResult::Failed, *error);
  if (reportProgress(0.0, true)) error = convertPackets();
  if (!error && !cancelled_ && copyStands(true)) error = flush();
  if (error) return abandon(ExportResult::Failed, *error);
  if (planOverturned_) return abandon(ExportResult::Cancelled, QStringLiteral("the picture's frames forbid the copy"));
  if (cancelled_ || interrupted() || !reportProgress(1.0, true))
    return abandon(ExportResult::Cancelled, QStringLiteral("cancelled"));
  if (Error finishing = finish()) return abandon(ExportResult::Failed, *finishing);
  if (work_) work_->discard();  // the movie is in place: its pieces are done with
  // The QuickTime copy keeps every picture it can: only a device's copy is news.
  ExportOutcome outcome{ExportResult::Finished, {}, {}, writtenPath_, leftOut(), planText(),
                        plan_.pictureCopied() && preset_.boxWidth > 0};
  outcome.resumedFrom = resumedFrom_;
  outcome.framesEncoded = framesEncoded_;
  return outcome;
}

}  // namespace

ExportOutcome exportMovie(const ExportJob& job) {
  const auto preset = presetForTypeCode(job.typeCode);
  if (!preset) return {ExportResult::Failed, QLatin1String(reason::kGeneric), QStringLiteral("unknown export type"), {}, {}};
  // A path the system refuses anyway is answered at once, whatever its size.
  for (const QString& path : {job.source, job.output}) {
    if (QFile::encodeName(path).size() >= PATH_MAX)
      return {ExportResult::Failed, QLatin1String(reason::kPathTooLong),
              QStringLiteral("a path of %1 bytes").arg(QFile::encodeName(path).size()), {}, {}};
  }
  av_log_set_level(AV_LOG_ERROR);
  Transcoder transcoder(job, *preset);
  ExportOutcome outcome = transcoder.run();
  // A copy the sampled frames forbid starts over as a conversion.
  if (const auto sample = transcoder.overturningSample()) return Transcoder(job, *preset, *sample).run();
  return outcome;
}

}  // namespace tovix::media
