#include "media/PictureFilter.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

namespace tovix::media {
namespace {

struct InOutFree {
  void operator()(AVFilterInOut* inOut) const { avfilter_inout_free(&inOut); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFree>;

}  // namespace

std::unique_ptr<PictureFilter> PictureFilter::create(const AVFrame* first, AVRational timeBase, AVRational sampleAspect,
                                                     AVRational frameRate, const std::string& chain, QString& error) {
  std::unique_ptr<PictureFilter> filter(new PictureFilter);
  filter->timeBase_ = timeBase;
  filter->graph_ = avfilter_graph_alloc();
  if (!filter->graph_) {
    error = QStringLiteral("out of memory");
    return nullptr;
  }
  if (sampleAspect.num <= 0 || sampleAspect.den <= 0) sampleAspect = {1, 1};
  if (frameRate.num <= 0 || frameRate.den <= 0) frameRate = {0, 1};
  const QByteArray source = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=%6/%7:frame_rate=%8/%9")
                                .arg(first->width)
                                .arg(first->height)
                                .arg(first->format)
                                .arg(timeBase.num)
                                .arg(timeBase.den)
                                .arg(sampleAspect.num)
                                .arg(sampleAspect.den)
                                .arg(frameRate.num)
                                .arg(frameRate.den)
                                .toLatin1();
  int rc = avfilter_graph_create_filter(&filter->source_, avfilter_get_by_name("buffer"), "in", source.constData(),
                                        nullptr, filter->graph_);
  if (rc >= 0)
    rc = avfilter_graph_create_filter(&filter->sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                      filter->graph_);
  InOutPtr outputs(avfilter_inout_alloc());
  InOutPtr inputs(avfilter_inout_alloc());
  if (rc >= 0 && outputs && inputs) {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = filter->source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = filter->sink_;
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    rc = avfilter_graph_parse_ptr(filter->graph_, chain.c_str(), &in, &out, nullptr);
    avfilter_inout_free(&in);
    avfilter_inout_free(&out);
    if (rc >= 0) rc = avfilter_graph_config(filter->graph_, nullptr);
  } else if (rc >= 0) {
    rc = AVERROR(ENOMEM);
  }
  if (rc < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    error = QStringLiteral("cannot set up the picture filters %1: %2").arg(QString::fromStdString(chain), QString::fromUtf8(text));
    return nullptr;
  }
  return filter;
}

PictureFilter::~PictureFilter() { avfilter_graph_free(&graph_); }

int PictureFilter::push(AVFrame* frame) {
  return av_buffersrc_add_frame_flags(source_, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
}

int PictureFilter::pull(AVFrame* frame) {
  const int rc = av_buffersink_get_frame(sink_, frame);
  // Deinterlacers count in half the input's time base.
  if (rc >= 0 && frame->pts != AV_NOPTS_VALUE)
    frame->pts = av_rescale_q(frame->pts, av_buffersink_get_time_base(sink_), timeBase_);
  return rc;
}

}  // namespace tovix::media
