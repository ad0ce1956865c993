#include "media/SubtitleBurner.h"

#include "media/SubtitleTrack.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace tovix::media {
namespace {

struct Yuva {
  uint8_t y, u, v, a;
};

// A palette entry (ARGB) in limited-range YUV of the output's matrix.
Yuva yuvaOf(uint32_t argb, bool bt709) {
  const double r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
  const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
  const double y = kr * r + (1 - kr - kb) * g + kb * b;
  const double u = (b - y) / (2 * (1 - kb)), v = (r - y) / (2 * (1 - kr));
  const auto byte = [](double value) { return uint8_t(std::clamp(std::lround(value), 0L, 255L)); };
  return {byte(16 + y * 219 / 255), byte(128 + u * 224 / 255), byte(128 + v * 224 / 255), uint8_t(argb >> 24)};
}

// dst = src + dst × (1 − alpha), src already multiplied by alpha.
uint8_t over(uint8_t dst, unsigned src, unsigned alpha) { return uint8_t(src + (dst * (255 - alpha) + 127) / 255); }

}  // namespace

std::unique_ptr<SubtitleBurner> SubtitleBurner::create(const AVStream* in, int pictureWidth, int pictureHeight,
                                                       int outputWidth, int outputHeight, bool bt709,
                                                       bool forcedLinesOnly, QString& error) {
  std::unique_ptr<SubtitleBurner> burner(new SubtitleBurner);
  burner->in_ = in;
  burner->decoder_ = openDecoder(in);
  if (!burner->decoder_) {
    error = QStringLiteral("cannot decode picture subtitle track %1").arg(in->index);
    return nullptr;
  }
  burner->pictureWidth_ = pictureWidth;
  burner->pictureHeight_ = pictureHeight;
  burner->outputWidth_ = outputWidth;
  burner->outputHeight_ = outputHeight;
  burner->bt709_ = bt709;
  burner->forcedLinesOnly_ = forcedLinesOnly;
  return burner;
}

void SubtitleBurner::take(const AVPacket* packet, int64_t startUs) {
  const auto timed = decodeSubtitle(decoder_.get(), in_, packet, startUs);
  if (!timed) return;
  // A subtitle ends the one before it (an empty one only does that).
  if (!shown_.empty()) shown_.back().endUs = std::min(shown_.back().endUs, timed->shownUs);
  Shown next{timed->shownUs, timed->durationMs > 0 ? timed->shownUs + timed->durationMs * 1000 : INT64_MAX, {}};
  const AVSubtitle& subtitle = *timed->subtitle;
  for (unsigned i = 0; i < subtitle.num_rects; ++i) {
    const AVSubtitleRect& rect = *subtitle.rects[i];
    if (rect.type != SUBTITLE_BITMAP || rect.w <= 0 || rect.h <= 0 || !rect.data[0] || !rect.data[1]) continue;
    if (forcedLinesOnly_ && !(rect.flags & AV_SUBTITLE_FLAG_FORCED)) continue;
    Bitmap bitmap = shrink(rect);
    if (bitmap.width > 0 && bitmap.height > 0) next.bitmaps.push_back(std::move(bitmap));
  }
  if (!next.bitmaps.empty()) shown_.push_back(std::move(next));
}

// Each output pixel averages the bitmap's pixels it covers, weighted by
// their alpha, so shrunk text keeps its smooth edges.
SubtitleBurner::Bitmap SubtitleBurner::shrink(const AVSubtitleRect& rect) const {
  const int canvasWidth = decoder_->width > 0 ? decoder_->width : pictureWidth_;
  const int canvasHeight = decoder_->height > 0 ? decoder_->height : pictureHeight_;
  const double sx = double(outputWidth_) / canvasWidth, sy = double(outputHeight_) / canvasHeight;
  Bitmap bitmap;
  bitmap.x = std::clamp(int(std::floor(rect.x * sx)), 0, outputWidth_);
  bitmap.y = std::clamp(int(std::floor(rect.y * sy)), 0, outputHeight_);
  bitmap.width = std::clamp(int(std::ceil((rect.x + rect.w) * sx)), 0, outputWidth_) - bitmap.x;
  bitmap.height = std::clamp(int(std::ceil((rect.y + rect.h) * sy)), 0, outputHeight_) - bitmap.y;
  if (bitmap.width <= 0 || bitmap.height <= 0) return {};
  std::array<Yuva, 256> palette{};
  const auto* colours = reinterpret_cast<const uint32_t*>(rect.data[1]);
  for (int i = 0; i < std::clamp(rect.nb_colors, 0, 256); ++i) palette[size_t(i)] = yuvaOf(colours[i], bt709_);
  const size_t pixels = size_t(bitmap.width) * size_t(bitmap.height);
  for (auto* plane : {&bitmap.luma, &bitmap.blue, &bitmap.red, &bitmap.alpha}) plane->assign(pixels, 0);
  // The source pixels [from, to) that output pixel position covers on one axis.
  const auto span = [](int position, double scale, int offset, int size) {
    const int from = std::clamp(int(std::floor(position / scale)) - offset, 0, size - 1);
    return std::pair{from, std::clamp(int(std::ceil((position + 1) / scale)) - offset, from + 1, size)};
  };
  for (int oy = 0; oy < bitmap.height; ++oy) {
    const auto [fromY, toY] = span(bitmap.y + oy, sy, rect.y, rect.h);
    for (int ox = 0; ox < bitmap.width; ++ox) {
      const auto [fromX, toX] = span(bitmap.x + ox, sx, rect.x, rect.w);
      unsigned a = 0, y = 0, u = 0, v = 0;
      for (int py = fromY; py < toY; ++py) {
        for (int px = fromX; px < toX; ++px) {
          const Yuva& c = palette[rect.data[0][size_t(py) * size_t(rect.linesize[0]) + size_t(px)]];
          a += c.a;
          y += c.y * c.a;
          u += c.u * c.a;
          v += c.v * c.a;
        }
      }
      const unsigned n = unsigned((toY - fromY) * (toX - fromX));
      const size_t at = size_t(oy) * size_t(bitmap.width) + size_t(ox);
      bitmap.alpha[at] = uint8_t(a / n);
      bitmap.luma[at] = uint8_t(y / (n * 255));
      bitmap.blue[at] = uint8_t(u / (n * 255));
      bitmap.red[at] = uint8_t(v / (n * 255));
    }
  }
  return bitmap;
}

void SubtitleBurner::burn(AVFrame* frame, int64_t us) {
  while (!shown_.empty() && shown_.front().endUs <= us) shown_.pop_front();
  if (shown_.empty() || shown_.front().startUs > us) return;
  for (const Bitmap& bitmap : shown_.front().bitmaps) {
    for (int y = 0; y < bitmap.height; ++y) {
      uint8_t* row = frame->data[0] + size_t(bitmap.y + y) * size_t(frame->linesize[0]) + size_t(bitmap.x);
      for (int x = 0; x < bitmap.width; ++x) {
        const size_t at = size_t(y) * size_t(bitmap.width) + size_t(x);
        if (bitmap.alpha[at]) row[x] = over(row[x], bitmap.luma[at], bitmap.alpha[at]);
      }
    }
    // Each chroma sample takes the average of the four luma pixels it covers,
    // those outside the bitmap counting as transparent.
    for (int cy = bitmap.y / 2; cy <= (bitmap.y + bitmap.height - 1) / 2; ++cy) {
      for (int cx = bitmap.x / 2; cx <= (bitmap.x + bitmap.width - 1) / 2; ++cx) {
        unsigned a = 0, u = 0, v = 0;
        for (int py = 2 * cy; py < 2 * cy + 2; ++py) {
          for (int px = 2 * cx; px < 2 * cx + 2; ++px) {
            if (py < bitmap.y || py >= bitmap.y + bitmap.height || px < bitmap.x || px >= bitmap.x + bitmap.width) continue;
            const size_t at = size_t(py - bitmap.y) * size_t(bitmap.width) + size_t(px - bitmap.x);
            a += bitmap.alpha[at];
            u += bitmap.blue[at];
            v += bitmap.red[at];
          }
        }
        if (a == 0) continue;
        uint8_t& blue = frame->data[1][size_t(cy) * size_t(frame->linesize[1]) + size_t(cx)];
        uint8_t& red = frame->data[2][size_t(cy) * size_t(frame->linesize[2]) + size_t(cx)];
        blue = over(blue, u / 4, a / 4);
        red = over(red, v / 4, a / 4);
      }
    }
  }
}

}  // namespace tovix::media
