#pragma once
// What a picture needs before it is scaled for a target: deinterlacing or
// removing pulldown, cropping black bars, tone mapping from HDR to SDR, and
// turning upright. A plain value, decided
// from the picture's facts without FFmpeg, so the choices are tested alone.
#include <string>

namespace tovix::media {

enum class Transfer { Sdr, Pq, Hlg };

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

}  // namespace tovix::media
