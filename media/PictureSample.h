#pragma once
// What frames sampled through a movie show of its picture that its headers
// do not say: fields woven into its frames, film put through 3:2 pulldown,
// and black bars around it. Windows of consecutive frames are decoded at
// points spread over the movie, so a black opening or one still scene does
// not decide. Only media/ includes this header.
#include "media/PicturePlan.h"

#include <QString>

namespace tovix::media {

struct PictureSample {
  bool interlaced = false;  // most frames hold two fields of different moments
  bool telecined = false;   // a field repeats every fifth frame: film at 23.976 made 29.97
  Crop bars;                // rows and columns black in every sampled frame, even counts
};

// Samples the picture in stream index of path. fields: look at the fields
// too (codecs that code no fields are only measured for bars). threads:
// decoding threads, 0 for as many as the machine has.
PictureSample samplePicture(const QString& path, int index, bool fields, int threads = 0);

}  // namespace tovix::media
