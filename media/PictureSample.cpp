#include "media/PictureSample.h"

#include "media/FFmpegPtr.h"
#include "media/PictureFilter.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tovix::media {
namespace {

// Windows spread over the movie, each of this many consecutive frames: enough
// for two or three turns of the pulldown cycle, read at most this far.
constexpr int kWindows = 6;
constexpr int kWindowFrames = 15;
constexpr int kMaxWindowPackets = 300;
// Frames of each window measured for bars.
constexpr int kBarEvery = 7;
// A pulldown cycle repeats one field in every five frames.
constexpr int kPulldownCycle = 5;

// What idet said of one frame: combed with the top ('t') or bottom ('b')
// field first, or progressive ('p'), and the field the previous frame
// showed too.
struct FieldVerdict {
  char combed = 0;
  char repeated = 0;  // 't' or 'b': the field the previous frame showed too
};

FieldVerdict verdictOf(const AVFrame* frame) {
  FieldVerdict verdict;
  if (const AVDictionaryEntry* single = av_dict_get(frame->metadata, "lavfi.idet.single.current_frame", nullptr, 0)) {
    verdict.combed = !std::strcmp(single->value, "tff")           ? 't'
                     : !std::strcmp(single->value, "bff")         ? 'b'
                     : !std::strcmp(single->value, "progressive") ? 'p'
                                                                  : 0;
  }
  if (const AVDictionaryEntry* repeated = av_dict_get(frame->metadata, "lavfi.idet.repeated.current_frame", nullptr, 0))
    verdict.repeated = !std::strcmp(repeated->value, "top") ? 't' : !std::strcmp(repeated->value, "bottom") ? 'b' : 0;
  return verdict;
}

// Film through 3:2 pulldown repeats a top field and a bottom field once in
// every five frames each, with combed frames between; interlaced video
// repeats none in that rhythm.
bool showsPulldown(const std::vector<FieldVerdict>& window) {
  bool combed = false;
  int rhythmic = 0;
  for (const char field : {'t', 'b'}) {
    std::vector<int> repeats;
    for (int i = 0; i < int(window.size()); ++i) {
      if (window[size_t(i)].repeated == field) repeats.push_back(i);
      combed |= window[size_t(i)].combed == 't' || window[size_t(i)].combed == 'b';
    }
    const bool inRhythm = std::all_of(repeats.begin(), repeats.end(),
                                      [&](int at) { return (at - repeats.front()) % kPulldownCycle == 0; });
    if (!inRhythm) return false;
    rhythmic += int(repeats.size());
  }
  return combed && rhythmic >= 3;
}

// Woven fields come in one order throughout.
bool mostlyWoven(int topFirst, int bottomFirst, int progressive) {
  const int woven = std::max(topFirst, bottomFirst);
  return woven >= 3 && woven > progressive + std::min(topFirst, bottomFirst);
}

// The picture's content (what is not black) in one frame, as the rows and
// columns it spans; empty when the frame is black.
struct Extent {
  int top = 0, bottom = -1, left = 0, right = -1;  // inclusive
  bool empty() const { return bottom < top; }
  void unite(const Extent& other) {
    if (other.empty()) return;
    if (empty()) {
      *this = other;
      return;
    }
    top = std::min(top, other.top);
    bottom = std::max(bottom, other.bottom);
    left = std::min(left, other.left);
    right = std::max(right, other.right);
  }
};

// A frame's luma as 8-bit values.
struct Luma {
  int width = 0, height = 0;
  std::vector<uint8_t> values;
  uint8_t at(int x, int y) const { return values[size_t(y) * size_t(width) + size_t(x)]; }
};

// The mean difference between line y of a and line y + 1 of b, over the
// lines y of one parity (0: a's top field against b's bottom field).
double lineDifference(const Luma& a, const Luma& b, int parity) {
  int64_t sum = 0, count = 0;
  for (int y = parity; y + 1 < a.height; y += 2) {
    for (int x = 0; x < a.width; x += 2, ++count) sum += std::abs(int(a.at(x, y)) - int(b.at(x, y + 1)));
  }
  return count ? double(sum) / double(count) : 0;
}

// When the two fields of a frame were taken, judged against the next frame.
// Every comparison is of neighbouring lines, so fine detail weighs the same
// in each and only time tells them apart. A progressive frame's fields are
// of one moment: they differ less than either does from the next frame's.
// Woven fields with the top first: the bottom field lies halfway to the next
// frame's top field, and the top field is furthest from the next bottom one.
char fieldOrderOf(const Luma& frame, const Luma& next) {
  if (frame.width != next.width || frame.height != next.height || frame.height < 4) return 0;
  constexpr double kMargin = 1.3;
  const double within = lineDifference(frame, frame, 0);
  const double topToNext = lineDifference(frame, next, 0);     // this top field, the next bottom field
  const double bottomToNext = lineDifference(frame, next, 1);  // this bottom field, the next top field
  if (topToNext > kMargin * bottomToNext && topToNext > kMargin * within) return 't';
  if (bottomToNext > kMargin * topToNext && bottomToNext > kMargin * within) return 'b';
  if (std::max(topToNext, bottomToNext) < kMargin * std::min(topToNext, bottomToNext) &&
      kMargin * within < std::min(topToNext, bottomToNext))
    return 'p';
  return 0;  // a still picture, or a cut
}

// The luma of a YUV frame as 8-bit values, whatever its depth; false for
// RGB and paletted pictures, which are neither cropped nor judged.
bool lumaOf(const AVFrame* frame, Luma& luma) {
  const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
  if (!format || (format->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
      format->nb_components < 1 || format->comp[0].plane != 0 || format->comp[0].depth > 16)
    return false;
  const int depth = format->comp[0].depth, step = format->comp[0].step, offset = format->comp[0].offset;
  luma.width = frame->width;
  luma.height = frame->height;
  luma.values.resize(size_t(frame->width) * size_t(frame->height));
  for (int y = 0; y < frame->height; ++y) {
    const uint8_t* row = frame->data[0] + size_t(y) * size_t(frame->linesize[0]) + offset;
    if (depth == 8 && step == 1) {  // the usual 8-bit planar picture: a row at a time
      std::memcpy(luma.values.data() + size_t(y) * size_t(frame->width), row, size_t(frame->width));
      continue;
    }
    for (int x = 0; x < frame->width; ++x) {
      const uint8_t* at = row + size_t(x) * size_t(step);
      const unsigned value = depth > 8 ? unsigned(at[0] | (at[1] << 8)) >> (depth - 8) : at[0];
      luma.values[size_t(y) * size_t(frame->width) + size_t(x)] = uint8_t(std::min(255u, value));
    }
  }
  return true;
}

// A row or column is picture when more than a hundredth of its pixels are
// clearly above black: a bar's compression noise is not, a subtitle or a
// logo in the bar is.
Extent contentOf(const Luma& luma, bool fullRange) {
  Extent extent;
  const unsigned threshold = (fullRange ? 0 : 16) + 32;
  const int width = luma.width, height = luma.height;
  std::vector<int> rowCount(size_t(height), 0), columnCount(size_t(width), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (luma.at(x, y) <= threshold) continue;
      ++rowCount[size_t(y)];
      ++columnCount[size_t(x)];
    }
  }
  const auto firstAndLast = [](const std::vector<int>& counts, int limit, int& first, int& last) {
    first = 0;
    last = -1;
    for (int i = 0; i < int(counts.size()); ++i) {
      if (counts[size_t(i)] <= limit) continue;
      if (last < 0) first = i;
      last = i;
    }
  };
  firstAndLast(rowCount, std::max(1, width / 100), extent.top, extent.bottom);
  firstAndLast(columnCount, std::max(1, height / 100), extent.left, extent.right);
  if (extent.right < 0) extent.bottom = -1;
  return extent;
}

// Bars of even size that are black in every sample, in pairs: a film is
// letterboxed or pillarboxed about its middle, so bars that differ by more
// than half are a dark part of the picture, and stay. None either on an axis
// where cutting them would leave less than 40 % of the picture (a dark movie
// sampled only in dark scenes).
Crop barsAround(const Extent& content, int width, int height) {
  if (content.empty() || width <= 0 || height <= 0) return {};
  const auto even = [](int value) { return value & ~1; };
  Crop bars{even(content.top), even(height - 1 - content.bottom), even(content.left), even(width - 1 - content.right)};
  const auto keep = [](int& first, int& second, int size) {
    if (2 * std::min(first, second) < std::max(first, second) || (size - first - second) * 10 < size * 4) first = second = 0;
  };
  keep(bars.top, bars.bottom, height);
  keep(bars.left, bars.right, width);
  return bars;
}

class Sampler {
 public:
  Sampler(InputPtr input, int index, bool fields, int threads)
      : input_(std::move(input)), stream_(input_->streams[index]), fields_(fields),
        // Fields and black bars show as well without the deblocking filter,
        // a good part of what decoding costs.
        decoder_(openDecoder(stream_, threads, {{"skip_loop_filter", "all"}})) {}

  PictureSample run();

 private:
  bool seekTo(int64_t us);
  void sampleWindow();
  void take(AVFrame* frame, int taken);
  void drainDetector();

  InputPtr input_;
  const AVStream* stream_;
  const bool fields_;
  CodecContextPtr decoder_;
  PacketPtr packet_{av_packet_alloc()};
  FramePtr frame_{av_frame_alloc()};
  std::unique_ptr<PictureFilter> detector_;
  std::vector<FieldVerdict> window_;
  std::vector<char> orders_;  // fieldOrderOf each frame of the window and the next
  Luma luma_, previous_;  // this frame's and the one before it in the window
  Extent content_;
  int width_ = stream_->codecpar->width, height_ = stream_->codecpar->height;  // 0: sizes differ, no crop
  int top_ = 0, bottom_ = 0, progressive_ = 0, pulldownWindows_ = 0;
};

bool Sampler::seekTo(int64_t us) {
  if (av_seek_frame(input_.get(), -1, movieStartUs(input_.get()) + us, AVSEEK_FLAG_BACKWARD) < 0) return false;
  avcodec_flush_buffers(decoder_.get());
  return true;
}

void Sampler::drainDetector() {
  while (detector_ && detector_->pull(frame_.get()) >= 0) {
    window_.push_back(verdictOf(frame_.get()));
    av_frame_unref(frame_.get());
  }
}

void Sampler::take(AVFrame* frame, int taken) {
  // The crop applies to the decoded size, which the stream's header states.
  const AVCodecParameters* par = stream_->codecpar;
  if (frame->width != par->width || frame->height != par->height) width_ = height_ = 0;
  if (!fields_ && taken % kBarEvery != 0) return;
  if (!lumaOf(frame, luma_)) {
    width_ = height_ = 0;  // RGB: no bars are cut
    return;
  }
  if (taken % kBarEvery == 0) content_.unite(contentOf(luma_, frame->color_range == AVCOL_RANGE_JPEG));
  if (!fields_) return;
  if (taken > 0) orders_.push_back(fieldOrderOf(previous_, luma_));
  std::swap(previous_, luma_);
  QString error;
  if (!detector_) detector_ = PictureFilter::create(frame, stream_->time_base, stream_->sample_aspect_ratio, {0, 1}, "idet", error);
  if (detector_) detector_->push(frame);
}

// Decodes one window of consecutive frames from where the input stands.
void Sampler::sampleWindow() {
  detector_.reset();  // each window's fields are compared among themselves
  window_.clear();
  orders_.clear();
  int taken = 0;
  for (int read = 0; read < kMaxWindowPackets && taken < kWindowFrames; ++read) {
    if (av_read_frame(input_.get(), packet_.get()) < 0) break;
    if (packet_->stream_index == stream_->index && avcodec_send_packet(decoder_.get(), packet_.get()) >= 0) {
      while (taken < kWindowFrames && avcodec_receive_frame(decoder_.get(), frame_.get()) >= 0) {
        take(frame_.get(), taken++);
        av_frame_unref(frame_.get());
        drainDetector();
      }
    }
    av_packet_unref(packet_.get());
  }
  if (detector_) detector_->push(nullptr);
  drainDetector();
  if (showsPulldown(window_)) ++pulldownWindows_;
  // A frame counts as woven when both judges find the same field first:
  // idet, which sees combing within the frame (and takes sharp detail for
  // it), and the fields' times against the next frame.
  for (size_t i = 0; i < std::min(window_.size(), orders_.size()); ++i) {
    const char idet = window_[i].combed, times = orders_[i];
    top_ += idet == 't' && times == 't';
    bottom_ += idet == 'b' && times == 'b';
    progressive_ += idet == 'p' || times == 'p';
  }
}

PictureSample Sampler::run() {
  if (!decoder_ || !packet_ || !frame_) return {};
  // Points inside the movie, away from its first and last moments; a file
  // that cannot seek is sampled from its start only.
  const int64_t duration = input_->duration;
  int windows = 0;
  for (int i = 1; i <= kWindows; ++i, ++windows) {
    const bool placed = duration > 0 && seekTo(duration * i / (kWindows + 1));
    if (!placed && i > 1) break;
    sampleWindow();
  }
  PictureSample sample;
  // One window in three at least, so a field repeated by chance in a still
  // scene of interlaced video does not count as film.
  sample.telecined = pulldownWindows_ * 3 >= windows && pulldownWindows_ > 0;
  sample.interlaced = !sample.telecined && mostlyWoven(top_, bottom_, progressive_);
  sample.bars = barsAround(content_, width_, height_);
  return sample;
}

}  // namespace

PictureSample samplePicture(const QString& path, int index, bool fields, int threads) {
  InputPtr input = openInput(path);
  if (!input || index < 0 || index >= int(input->nb_streams)) return {};
  return Sampler(std::move(input), index, fields, threads).run();
}

}  // namespace tovix::media
