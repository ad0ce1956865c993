#pragma once
// Converts a movie's picture in pieces of at most a minute of the movie,
// each begun by a fresh encoder (so with an IDR frame) at the first frame at
// or after a time fixed in advance, and keeps each finished piece. An
// interrupted export cuts at the same frames as one that is not, so its
// kept pieces are joined as they are. Only media/ includes this header.
extern "C" {
#include <libavformat/avformat.h>
}

#include "media/FFmpegPtr.h"
#include "media/KeptWork.h"
#include "media/PicturePath.h"
#include "media/PicturePlan.h"
#include "media/SubtitleBurner.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace tovix::media {

// A minute of the movie, unless a caller (a test) asks for shorter pieces.
inline constexpr int64_t kPieceUs = 60 * int64_t(AV_TIME_BASE);
// How long before a resumed piece a line burnt into it may have begun: no
// subtitle stays on screen that long.
inline constexpr int64_t kLineLookbackUs = 10 * 60 * int64_t(AV_TIME_BASE);

struct PieceSetup {
  QString source;
  int stream = -1;         // the picture's
  int burntStream = -1;    // subtitles burnt into it; -1 for none
  bool forcedLinesOnly = false;
  int64_t pieceUs = kPieceUs;
  int64_t durationUs = 0;  // the movie's; 0 when unknown (then it is one piece)
  PicturePlan plan;
  PictureOutput output;
  // A new encoder for the picture, set up and opened.
  std::function<CodecContextPtr(QString& error)> newEncoder;
  // The fraction of the movie's picture done; false stops the work.
  std::function<bool(double fraction)> progress;
};

class PictureInPieces {
 public:
  using Error = std::optional<QString>;
  explicit PictureInPieces(PieceSetup setup) : setup_(std::move(setup)) {}

  // Converts from the first piece work does not hold to the end. Stopped
  // (progress answered false), the piece under way is dropped.
  Error run(KeptWork& work);
  bool stopped() const { return stopped_; }
  // Frames handed to the encoders in this run.
  int64_t framesEncoded() const { return framesEncoded_; }
  // A write that failed: the disk is full or the folder gone.
  bool writeFailed() const { return writeFailed_; }
  // Subtitles planned to be burnt in whose track does not decode.
  bool burnLeftOut() const { return setup_.burntStream >= 0 && !burner_; }

 private:
  Error open(int firstPiece);
  void leadInLines();
  int64_t lineUsOf(const AVPacket* packet) const;
  int64_t movieStartUs() const;
  Error onPacket(AVPacket* packet, KeptWork& work, int firstPiece);
  Error onFrame(AVFrame* frame, KeptWork& work, int firstPiece);
  Error startPiece(KeptWork& work);
  Error finishPiece(KeptWork& work);
  Error encode(const AVFrame* frame);
  int pieceOf(int64_t us) const;
  double fractionDone(int64_t us) const;
  int64_t usOf(int64_t pts) const;

  PieceSetup setup_;
  InputPtr input_;
  const AVStream* in_ = nullptr;
  int64_t startOffset_ = 0;
  int64_t linesFromUs_ = 0;  // resumed: burnt lines before this were taken ahead of the picture
  CodecContextPtr decoder_;
  CodecContextPtr encoder_;
  std::unique_ptr<SubtitleBurner> burner_;
  std::unique_ptr<PicturePath> path_;
  std::unique_ptr<PieceWriter> writer_;
  FramePtr frame_{av_frame_alloc()};
  PacketPtr packet_{av_packet_alloc()};
  PacketPtr encoded_{av_packet_alloc()};
  int current_ = -1;  // the piece under way
  int64_t framesEncoded_ = 0;
  bool stopped_ = false;
  bool writeFailed_ = false;
};

}  // namespace tovix::media
