#include "media/PictureInPieces.h"

#include <algorithm>

namespace tovix::media {

PictureInPieces::Error PictureInPieces::run(KeptWork& work) {
  const int first = work.piecesDone();
  current_ = first - 1;
  Error error = open(first);
  while (!error && !stopped_) {
    const int rc = av_read_frame(input_.get(), packet_.get());
    if (rc == AVERROR_EOF) break;
    if (rc < 0) {
      error = QStringLiteral("cannot read %1").arg(setup_.source);
      break;
    }
    error = onPacket(packet_.get(), work, first);
    av_packet_unref(packet_.get());
  }
  if (!error && !stopped_) error = onPacket(nullptr, work, first);  // the decoder's last frames
  if (!error && !stopped_ && current_ >= first) error = finishPiece(work);
  if (error || stopped_) work.dropUnfinished();
  return error;
}

PictureInPieces::Error PictureInPieces::open(int firstPiece) {
  input_ = openInput(setup_.source);
  if (!input_ || setup_.stream < 0 || setup_.stream >= int(input_->nb_streams))
    return QStringLiteral("cannot open %1 as a movie").arg(setup_.source);
  in_ = input_->streams[setup_.stream];
  // Only the picture and the subtitles burnt into it are read.
  for (unsigned i = 0; i < input_->nb_streams; ++i)
    if (int(i) != setup_.stream && int(i) != setup_.burntStream) input_->streams[i]->discard = AVDISCARD_ALL;
  startOffset_ = movieStartIn(input_.get(), in_);
  decoder_ = openDecoder(in_);
  if (!decoder_ || !frame_ || !packet_ || !encoded_) return QStringLiteral("no decoder for the picture");
  if (setup_.burntStream >= 0) {
    QString ignored;  // a track that does not decode is left out, and said to be by the plan's caller
    burner_ = SubtitleBurner::create(input_->streams[setup_.burntStream], decoder_->width, decoder_->height,
                                     setup_.output.width, setup_.output.height, setup_.output.bt709(),
                                     setup_.forcedLinesOnly, ignored);
  }
  if (firstPiece > 0) {
    // From the key frame before the first piece still to do; earlier frames are decoded and dropped.
    const int64_t at = av_rescale_q(firstPiece * setup_.pieceUs, AV_TIME_BASE_Q, in_->time_base) + startOffset_;
    av_seek_frame(input_.get(), setup_.stream, at, AVSEEK_FLAG_BACKWARD);
    linesFromUs_ = firstPiece * setup_.pieceUs;
    if (burner_) leadInLines();
  }
  return std::nullopt;
}

// A line burnt into the first piece still to do may have begun long before
// the key frame the picture is read from. The track is read from well
// before that piece on an input of its own, up to the piece, so the picture
// need not be decoded from there; the main input then skips those lines.
void PictureInPieces::leadInLines() {
  InputPtr lines = openInput(setup_.source);
  if (!lines || setup_.burntStream >= int(lines->nb_streams)) return;
  for (unsigned i = 0; i < lines->nb_streams; ++i)
    if (int(i) != setup_.burntStream) lines->streams[i]->discard = AVDISCARD_ALL;
  // A seek that fails leaves the input at its start, which only reads more.
  const int64_t from = std::max<int64_t>(0, linesFromUs_ - kLineLookbackUs);
  av_seek_frame(lines.get(), -1, movieStartUs() + from, AVSEEK_FLAG_BACKWARD);
  PacketPtr packet(av_packet_alloc());
  while (packet && av_read_frame(lines.get(), packet.get()) >= 0) {
    const int64_t us = packet->stream_index == setup_.burntStream ? lineUsOf(packet.get()) : AV_NOPTS_VALUE;
    if (us != AV_NOPTS_VALUE && us >= linesFromUs_) break;
    if (us != AV_NOPTS_VALUE) burner_->take(packet.get(), movieStartUs());
    av_packet_unref(packet.get());
  }
}

// A burnt line's time from the movie's start; AV_NOPTS_VALUE when it has none.
int64_t PictureInPieces::lineUsOf(const AVPacket* packet) const {
  const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (pts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  return av_rescale_q(pts, input_->streams[setup_.burntStream]->time_base, AV_TIME_BASE_Q) - movieStartUs();
}

int64_t PictureInPieces::movieStartUs() const { return av_rescale_q(startOffset_, in_->time_base, AV_TIME_BASE_Q); }

PictureInPieces::Error PictureInPieces::onPacket(AVPacket* packet, KeptWork& work, int firstPiece) {
  if (packet && packet->stream_index == setup_.burntStream) {
    const int64_t us = lineUsOf(packet);
    const bool takenAhead = linesFromUs_ > 0 && us != AV_NOPTS_VALUE && us < linesFromUs_;
    if (burner_ && !takenAhead) burner_->take(packet, movieStartUs());
    return std::nullopt;
  }
  if (packet && packet->stream_index != setup_.stream) return std::nullopt;
  // Damaged packets are skipped rather than failing the whole export.
  if (avcodec_send_packet(decoder_.get(), packet) < 0 && packet) return std::nullopt;
  for (;;) {
    if (avcodec_receive_frame(decoder_.get(), frame_.get()) < 0) return std::nullopt;
    Error error = onFrame(frame_.get(), work, firstPiece);
    av_frame_unref(frame_.get());
    if (error || stopped_) return error;
  }
}

PictureInPieces::Error PictureInPieces::onFrame(AVFrame* frame, KeptWork& work, int firstPiece) {
  const int64_t us = frame->best_effort_timestamp == AV_NOPTS_VALUE ? -1 : usOf(frame->best_effort_timestamp);
  const int piece = us < 0 ? std::max(current_, firstPiece) : pieceOf(us);
  // Frames before the first piece still to do, and late frames of a piece
  // already finished, are not this run's.
  if (piece < std::max(current_, firstPiece)) return std::nullopt;
  while (current_ < piece) {
    if (current_ >= firstPiece) {
      if (Error error = finishPiece(work)) return error;
    }
    ++current_;
    if (Error error = startPiece(work)) return error;
  }
  if (Error error = path_->take(frame, [this](AVFrame* picture) { return encode(picture); })) return error;
  const double fraction = fractionDone(us);
  if (setup_.progress && fraction >= 0 && !setup_.progress(fraction)) stopped_ = true;
  return std::nullopt;
}

// The frame's time over the movie's duration; for a source that states no
// duration, the bytes read over the file's size. Negative when unknown.
double PictureInPieces::fractionDone(int64_t us) const {
  if (setup_.durationUs > 0) return us < 0 ? -1 : std::clamp(double(us) / double(setup_.durationUs), 0.0, 1.0);
  const int64_t size = input_->pb ? avio_size(input_->pb) : -1;
  return size > 0 ? std::clamp(double(avio_tell(input_->pb)) / double(size), 0.0, 1.0) : -1;
}

PictureInPieces::Error PictureInPieces::startPiece(KeptWork& work) {
  QString error;
  encoder_ = setup_.newEncoder(error);
  if (!encoder_) return error;
  path_ = std::make_unique<PicturePath>(decoder_.get(), in_, startOffset_, setup_.plan, setup_.output);
  if (burner_) path_->burnIn(burner_.get());
  writer_ = std::make_unique<PieceWriter>(work.piecePath(current_));
  if (writer_->ok()) return std::nullopt;
  writeFailed_ = true;
  return QStringLiteral("cannot write %1").arg(work.piecePath(current_));
}

// Drains the filters and the encoder into the piece, then keeps it.
PictureInPieces::Error PictureInPieces::finishPiece(KeptWork& work) {
  if (Error error = path_->take(nullptr, [this](AVFrame* picture) { return encode(picture); })) return error;
  if (Error error = encode(nullptr)) return error;
  const bool kept = writer_->close() && work.commit(writer_->bytes(), writer_->sha256());
  path_.reset();
  encoder_.reset();
  writer_.reset();
  if (kept) return std::nullopt;
  writeFailed_ = true;
  return QStringLiteral("cannot keep %1").arg(work.piecePath(current_));
}

PictureInPieces::Error PictureInPieces::encode(const AVFrame* frame) {
  if (frame) ++framesEncoded_;
  int rc = avcodec_send_frame(encoder_.get(), frame);
  if (rc < 0 && rc != AVERROR_EOF) return QStringLiteral("cannot encode the picture: %1").arg(errorText(rc));
  for (;;) {
    rc = avcodec_receive_packet(encoder_.get(), encoded_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return std::nullopt;
    if (rc < 0) return QStringLiteral("cannot encode the picture: %1").arg(errorText(rc));
    if (encoded_->duration == 0 && encoder_->framerate.num > 0)
      encoded_->duration = av_rescale_q(1, av_inv_q(encoder_->framerate), encoder_->time_base);
    writer_->write(encoded_.get());
    av_packet_unref(encoded_.get());
    if (!writer_->ok()) {
      writeFailed_ = true;
      return QStringLiteral("cannot write %1: the disk may be full").arg(setup_.source);
    }
  }
}

int PictureInPieces::pieceOf(int64_t us) const {
  if (setup_.durationUs <= 0 || setup_.pieceUs <= 0) return 0;
  return int(std::max<int64_t>(0, us) / setup_.pieceUs);
}

int64_t PictureInPieces::usOf(int64_t pts) const {
  return av_rescale_q(pts - startOffset_, in_->time_base, AV_TIME_BASE_Q);
}

}  // namespace tovix::media
