#pragma once
// What a picture needs before it is scaled for a target: deinterlacing or
// removing pulldown, cropping black bars, tone mapping from HDR to SDR, and
// turning upright. A plain value, decided
// from the picture's facts without FFmpeg, so the choices are tested alone.
#include <string>

namespace tovix::media {

enum class Transfer { Sdr, Pq, Hlg };

// Colour code points of ITU-T H.273, as streams and files carry them.
namespace cicp {
inline constexpr int kRgb = 0;  // matrix of an RGB picture
inline constexpr int kBt709 = 1;
inline constexpr int kUnspecified = 2;
inline constexpr int kSmpte170m = 6;  // BT.601 for 525 and 625 lines
}  // namespace cicp

// The colours a picture names: matrix, primaries and transfer.
struct ColourTags {
  int matrix = cicp::kUnspecified;
  int primaries = cicp::kUnspecified;
  int transfer = cicp::kUnspecified;
  bool operator==(const ColourTags&) const = default;
};

// Black bars around a picture, in rows and columns of its stored size.
struct Crop {
  int top = 0;
  int bottom = 0;
  int left = 0;
  int right = 0;
  bool any() const { return top || bottom || left || right; }
  bool operator==(const Crop&) const = default;
};

struct PictureFacts {
  int width = 0;
  int height = 0;
  bool interlaced = false;
  Transfer transfer = Transfer::Sdr;
  int rotation = 0;  // degrees clockwise that turn the stored picture upright: 0, 90, 180 or 270
  bool telecined = false;  // film at 23.976 frames a second put through 3:2 pulldown to 29.97
  Crop bars{};             // cut away before anything else is done to the picture
  int sarNum = 0, sarDen = 0;              // the pixels' shape; 0 when the file says none (square)
  int frameRateNum = 0, frameRateDen = 0;  // 0 when unknown
  ColourTags colours{};
  bool rgb = false;  // stored as RGB, which the scaler turns into YUV
};

struct PicturePlan {
  // A libavfilter chain, empty when the picture only needs scaling.
  std::string filters;
  // The picture's size once turned upright.
  int width = 0;
  int height = 0;
  bool toneMapped = false;  // the output is SDR in BT.709
  bool turned = false;      // width and height swapped by the turn
  bool filmRate = false;    // pulldown removed: four frames for every five of the source
};

// toneMap: the target is a device that shows SDR only (the QuickTime copy
// keeps HDR as it is).
PicturePlan planPicture(const PictureFacts& facts, bool toneMap);

// What the encoder is given for a converted picture.
struct PictureOutput {
  int width = 0;
  int height = 0;
  int sarNum = 1, sarDen = 1;
  int frameRateNum = 30, frameRateDen = 1;
  int maxFrameRate = 0;   // 0: every frame
  ColourTags colours{};   // named in the output, never left unspecified
  bool fromRgb = false;   // the source is RGB, turned into YUV of the matrix above
  bool bt709() const { return colours.matrix == cicp::kBt709; }
};

// The box a preset fits pictures into, the frame-rate cap, whether an
// upright picture turns the box (0 for none of each).
struct OutputBox {
  int width = 0;
  int height = 0;
  int maxFrameRate = 0;
  bool turnForPortrait = false;
};

// Fits the displayed picture into the box with square pixels, never
// enlarging it (without a box the stored size is kept, made even); caps the
// frame rate; names the source's colours, or where it names none (or is
// RGB) what its size implies: BT.709 for HD, BT.601 below. Left unnamed, a
// player guesses from the output's size, and a shrunk HD picture shows SD
// colours.
PictureOutput planOutput(const PictureFacts& facts, const PicturePlan& plan, const OutputBox& box);

}  // namespace tovix::media
