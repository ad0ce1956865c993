#include "media/PicturePlan.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace tovix::media {
namespace {

void append(std::string& chain, const char* filter) {
  if (!chain.empty()) chain += ',';
  chain += filter;
}

}  // namespace

PicturePlan planPicture(const PictureFacts& facts, bool toneMap) {
  PicturePlan plan{{}, facts.width, facts.height, false, false, false};
  if (facts.telecined) {
    // The film's own frames: each frame's fields matched with its
    // neighbours', what stays combed deinterlaced, then the one repeated
    // frame in five dropped.
    append(plan.filters, "fieldmatch=order=auto:combmatch=full,yadif=deint=interlaced,decimate");
    plan.filmRate = true;
  } else if (facts.interlaced) {
    // Motion-adaptive, one output frame per input frame: the frame rate stays.
    append(plan.filters, "bwdif=mode=send_frame:parity=auto:deint=all");
  }
  if (facts.bars.any()) {
    const Crop& bars = facts.bars;
    plan.width = facts.width - bars.left - bars.right;
    plan.height = facts.height - bars.top - bars.bottom;
    append(plan.filters, ("crop=" + std::to_string(plan.width) + ':' + std::to_string(plan.height) + ':' +
                          std::to_string(bars.left) + ':' + std::to_string(bars.top)).c_str());
  }
  if (toneMap && facts.transfer != Transfer::Sdr) {
    // To linear light with SDR's white at 100 nits, then BT.709 primaries;
    // Mobius keeps everything below 80 % of white as it is and rolls the
    // highlights off into range. Measured on an SDR clip made HLG and PQ:
    // mean luma within 2 % and saturation within 16 % of the original.
    append(plan.filters, "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
                         "tonemap=tonemap=mobius:param=0.8:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv420p");
    plan.toneMapped = true;
  }
  switch (facts.rotation) {
    case 90:
      append(plan.filters, "transpose=clock");
      plan.turned = true;
      break;
    case 180:
      append(plan.filters, "hflip,vflip");
      break;
    case 270:
      append(plan.filters, "transpose=cclock");
      plan.turned = true;
      break;
    default:
      break;
  }
  if (plan.turned) std::swap(plan.width, plan.height);
  return plan;
}

namespace {

int evenAtLeastTwo(double value) { return std::max(2, static_cast<int>(std::lround(value / 2)) * 2); }

void fitSize(PictureOutput& output, const PicturePlan& plan, const PictureFacts& facts, const OutputBox& box) {
  int sarNum = facts.sarNum > 0 && facts.sarDen > 0 ? facts.sarNum : 1;
  int sarDen = facts.sarNum > 0 && facts.sarDen > 0 ? facts.sarDen : 1;
  if (plan.turned) std::swap(sarNum, sarDen);
  if (box.width == 0) {
    output.width = std::max(2, plan.width & ~1);
    output.height = std::max(2, plan.height & ~1);
    output.sarNum = sarNum;
    output.sarDen = sarDen;
    return;
  }
  int boxWidth = box.width, boxHeight = box.height;
  if (box.turnForPortrait && plan.height > plan.width) std::swap(boxWidth, boxHeight);
  const double displayWidth = plan.width * double(sarNum) / sarDen;
  const double scale = std::min({1.0, boxWidth / displayWidth, boxHeight / double(plan.height)});
  output.width = std::min(evenAtLeastTwo(displayWidth * scale), boxWidth);
  output.height = std::min(evenAtLeastTwo(plan.height * scale), boxHeight);
}

ColourTags coloursOf(const PictureFacts& facts, const PicturePlan& plan) {
  if (plan.toneMapped) return {cicp::kBt709, cicp::kBt709, cicp::kBt709};
  const bool hd = facts.width >= 1280 || facts.height >= 720;
  const int implied = hd ? cicp::kBt709 : cicp::kSmpte170m;
  ColourTags tags{implied, implied, implied};
  const ColourTags& named = facts.colours;
  if (!facts.rgb && named.matrix != cicp::kUnspecified && named.matrix != cicp::kRgb) tags.matrix = named.matrix;
  if (named.primaries != cicp::kUnspecified) tags.primaries = named.primaries;
  if (named.transfer != cicp::kUnspecified) tags.transfer = named.transfer;
  return tags;
}

}  // namespace

PictureOutput planOutput(const PictureFacts& facts, const PicturePlan& plan, const OutputBox& box) {
  PictureOutput output;
  fitSize(output, plan, facts, box);
  if (facts.frameRateNum > 0 && facts.frameRateDen > 0) {
    output.frameRateNum = facts.frameRateNum;
    output.frameRateDen = facts.frameRateDen;
  }
  if (plan.filmRate) {
    // Four frames for every five: 30000/1001 becomes 24000/1001.
    const int divisor = std::gcd(output.frameRateNum * 4, output.frameRateDen * 5);
    output.frameRateNum = output.frameRateNum * 4 / divisor;
    output.frameRateDen = output.frameRateDen * 5 / divisor;
  }
  if (box.maxFrameRate && double(output.frameRateNum) / output.frameRateDen > box.maxFrameRate) {
    output.frameRateNum = box.maxFrameRate;
    output.frameRateDen = 1;
  }
  output.maxFrameRate = box.maxFrameRate;
  output.colours = coloursOf(facts, plan);
  output.fromRgb = facts.rgb && !plan.toneMapped;
  return output;
}

}  // namespace tovix::media
