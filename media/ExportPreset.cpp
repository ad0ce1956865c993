#include "media/ExportPreset.h"

namespace tovix::media {

std::optional<ExportPreset> presetForTypeCode(uint32_t typeCode) {
  switch (typeCode) {
    case kTypeCodeiPhone:
      return ExportPreset{"ipod", 1280, 720, 30, false, "high", 31, 20, 5000, 0, 128, true, true, true, false};
    case kTypeCodeiPod:
      return ExportPreset{"ipod", 640, 480, 30, false, "baseline", 30, 22, 1500, 1, 128, false, false, false, false};
    case kTypeCodeAppleTV:
      return ExportPreset{"ipod", 1920, 1080, 30, false, "high", 40, 22, 10000, 0, 160, true, true, true, true};
    case kTypeCodeMovie:
      return ExportPreset{"mov", 0, 0, 0, true, "high", 0, 18, 0, 0, 192, true, false, true, false};
    default:
      return std::nullopt;
  }
}

}  // namespace tovix::media
