#pragma once
// The way of a converted picture from decoder to encoder: at most one frame
// per slot of the target's frame-rate cap, then one libavfilter graph
// (deinterlace, tone map and turn as the plan says, Lanczos scaling to the
// output's size, 8-bit 4:2:0), then forced subtitles burnt in.
// Only media/ includes this header.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include "media/FFmpegPtr.h"
#include "media/PictureFilter.h"
#include "media/PicturePlan.h"
#include "media/SubtitleBurner.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tovix::media {

// The libavfilter chain a picture goes through: the plan's filters, then
// scaling to the output's size and 8-bit 4:2:0.
std::string pictureChain(const PicturePlan& plan, const PictureOutput& output);

class PicturePath {
 public:
  using Error = std::optional<QString>;
  // Receives each finished frame, its time in the source stream's time base
  // counted from the movie's start.
  using Deliver = std::function<Error(AVFrame*)>;

  // in: the source's picture stream, startOffset: the movie's start in its
  // time base. The graph is built for the first frame taken.
  PicturePath(const AVCodecContext* decoder, const AVStream* in, int64_t startOffset, const PicturePlan& plan,
              const PictureOutput& output);

  // Subtitles burnt into every frame; the burner outlives the path (one
  // serves every piece of a movie).
  void burnIn(SubtitleBurner* burner) { burner_ = burner; }

  // Takes a decoded frame (nullptr: no more come) and delivers what is ready.
  Error take(AVFrame* frame, const Deliver& deliver);

 private:
  bool keep(AVFrame* frame);

  const AVStream* in_ = nullptr;
  int64_t startOffset_ = 0;
  int maxFrameRate_ = 0;
  std::string chain_;
  AVRational sampleAspect_{1, 1};
  std::unique_ptr<PictureFilter> graph_;
  SubtitleBurner* burner_ = nullptr;
  FramePtr filtered_;
  int64_t lastPts_ = AV_NOPTS_VALUE;
  int64_t lastSlot_ = INT64_MIN;
};

}  // namespace tovix::media
