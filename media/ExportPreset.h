#pragma once
// What each export type code produces; the codes are the targets' (protocol/Protocol.h).
#include "protocol/Protocol.h"

#include <cstdint>
#include <optional>

namespace tovix::media {

inline constexpr uint32_t kTypeCodeiPhone = protocol::info(protocol::Target::iPhone).typeCode;
inline constexpr uint32_t kTypeCodeiPod = protocol::info(protocol::Target::iPod).typeCode;
inline constexpr uint32_t kTypeCodeAppleTV = protocol::info(protocol::Target::AppleTV).typeCode;
inline constexpr uint32_t kTypeCodeMovie = protocol::info(protocol::Target::QuickTime).typeCode;

struct ExportPreset {
  const char* muxer;          // FFmpeg muxer name
  int boxWidth, boxHeight;    // picture fits within; 0 keeps the source size
  int maxFrameRate;           // 0 keeps the source rate
  bool streamCopyWhenPossible;
  const char* profile;        // x264 profile
  int level;                  // H.264 level times ten; 0 leaves it to x264
  int crf;
  int maxRateKbps;            // 0 for none
  int referenceFrames;        // 0 for x264's default
  const char* x264Options;    // beyond the speed preset ("subme=6:trellis=1"); empty for none
  int audioKbps;
  bool everySoundTrack;       // false: only the track a player would choose
  bool turnBoxForPortrait;    // an upright picture fits the box turned on its side
  bool textSubtitles;         // text subtitle tracks kept as mov_text
  bool surroundCompanion;     // an AC3 5.1 track beside the stereo one of a multichannel track
  // What a device plays as it is, so that the export copies it: H.264 up to
  // the profile and level above, within the box, rate and bit-rate cap.
  bool playsDisplayMatrix;    // turns a picture by its display matrix (else it must be turned in pixels)
  bool playsBFrames;
  bool playsPixelAspect;      // shows non-square pixels at their shape
  int soundCopyKbps;          // AAC-LC mono or stereo up to this rate is copied; 0 never
};

std::optional<ExportPreset> presetForTypeCode(uint32_t typeCode);

// The x264 speed preset every export uses unless a caller overrides it; the
// device targets add options of their own (ExportPreset.cpp), which buy more
// per second than a slower preset does on bench/rd-curve.sh's curves. The
// device CRFs are the points of bench/rd-curve.sh's curves at which Tovix's
// SSIM, averaged over its seven scenes, matches that of HandBrake's Apple
// presets at their default quality (within 0.002); the iPod's Baseline
// profile and 1.5 Mb/s cap cannot, so it keeps CRF 22.
inline constexpr const char* kDefaultSpeedPreset = "veryfast";

}  // namespace tovix::media
