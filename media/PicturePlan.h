#pragma once
// What a picture needs before it is scaled for a target: deinterlacing,
// tone mapping from HDR to SDR, and turning upright. A plain value, decided
// from the picture's facts without FFmpeg, so the choices are tested alone.
#include <string>

namespace tovix::media {

enum class Transfer { Sdr, Pq, Hlg };

struct PictureFacts {
  int width = 0;
  int height = 0;
  bool interlaced = false;
  Transfer transfer = Transfer::Sdr;
  int rotation = 0;  // degrees clockwise that turn the stored picture upright: 0, 90, 180 or 270
};

struct PicturePlan {
  // A libavfilter chain, empty when the picture only needs scaling.
  std::string filters;
  // The picture's size once turned upright.
  int width = 0;
  int height = 0;
  bool toneMapped = false;  // the output is SDR in BT.709
  bool turned = false;      // width and height swapped by the turn
};

// toneMap: the target is a device that shows SDR only (the QuickTime copy
// keeps HDR as it is).
PicturePlan planPicture(const PictureFacts& facts, bool toneMap);

}  // namespace tovix::media
