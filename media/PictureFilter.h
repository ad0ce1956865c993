#pragma once
// Runs a picture through a libavfilter chain (see PicturePlan): frames go in
// as the decoder gives them and come out deinterlaced, tone-mapped or turned,
// with their timestamps. Only media/ includes this header.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
}

#include <QString>
#include <memory>
#include <optional>
#include <string>

namespace tovix::media {

class PictureFilter {
 public:
  // The chain set up for pictures like first (its size and pixel format:
  // what the decoder gives, which its stream's header may not say) at
  // frameRate ({0, 1} when unknown: filters that drop frames need it);
  // nullptr with error set when it cannot be.
  static std::unique_ptr<PictureFilter> create(const AVFrame* first, AVRational timeBase, AVRational sampleAspect,
                                               AVRational frameRate, const std::string& chain, QString& error);
  ~PictureFilter();

  // Hands a frame in (nullptr: no more come); negative on failure.
  int push(AVFrame* frame);
  // Takes the next frame out, its time in the time base frames came in with:
  // 0, AVERROR(EAGAIN) when it needs more input, AVERROR_EOF after the last.
  int pull(AVFrame* frame);

 private:
  PictureFilter() = default;
  AVRational timeBase_{1, 1};
  AVFilterGraph* graph_ = nullptr;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

}  // namespace tovix::media
