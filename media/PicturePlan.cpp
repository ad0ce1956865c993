#include "media/PicturePlan.h"

#include <utility>

namespace tovix::media {
namespace {

void append(std::string& chain, const char* filter) {
  if (!chain.empty()) chain += ',';
  chain += filter;
}

}  // namespace

PicturePlan planPicture(const PictureFacts& facts, bool toneMap) {
  PicturePlan plan{{}, facts.width, facts.height, false, false};
  // Motion-adaptive, one output frame per input frame: the frame rate stays.
  if (facts.interlaced) append(plan.filters, "bwdif=mode=send_frame:parity=auto:deint=all");
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

}  // namespace tovix::media
