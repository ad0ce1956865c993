#pragma once
// What an export makes of each track of the source: copied, converted,
// burnt into the picture or left out, and why; the filters the picture needs;
// the sound track players start with; and what to tell the user was left
// out. A plain value decided from the movie's facts and the target's preset
// without FFmpeg, so every decision is tested without encoding anything.
#include "media/ExportPreset.h"
#include "media/PicturePlan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tovix::media {

// The surround track Apple TV plays beside the stereo one is AC3 5.1 at the
// format's highest rate; an AC3 source at or below it is copied.
inline constexpr int64_t kSurroundBitRate = 640000;

enum class TrackKind { Picture, Sound, TextSubtitle, PictureSubtitle, Cover, Data, Other };
enum class TrackAction { Copy, Convert, Burn, LeaveOut };

// What the plan needs to know of one track of the source.
struct TrackFacts {
  TrackKind kind = TrackKind::Other;
  bool decodable = false;      // FFmpeg has a decoder for it
  bool movCompatible = false;  // an MP4 or MOV file holds the stream as it is
  bool markedDefault = false;
  bool forced = false;
  int channels = 0;
  bool ac3 = false;
  int64_t bitRate = 0;   // bits per second; 0 when unknown
  std::string language;  // ISO 639-2; empty when the source names none
  bool forcedLines = false;  // picture subtitles whose packets mark single lines forced (DVD, Blu-ray)
  bool aacLc = false;        // AAC in its low-complexity form, which every device plays
  bool hevc = false;
  int sampleRate = 0;        // sound samples per second; 0 when unknown
  // Sound whose file states no rate (Matroska never does): the bits per
  // second of its packets, 0 when unknown. Reads the whole file, so it is
  // asked for last, only when all else about the sound fits.
  std::function<int64_t()> measuredBitRate = nullptr;
};

enum class H264Profile { Unknown, ConstrainedBaseline, Baseline, Main, Extended, High, Higher };

// What the coded picture is, read from its stream's headers and packets
// without decoding: whether a device could play it as it is.
struct CodedPicture {
  bool h264 = false;
  H264Profile profile = H264Profile::Unknown;
  int level = 0;             // times ten; 0 when unknown
  bool eightBit420 = false;  // 8-bit samples, chroma at half width and height
  bool bFrames = true;       // unknown counts as having them
  double frameRate = 0;      // frames a second; 0 when unknown
  bool squarePixels = false;
  // The file and the picture's own headers do not state two pixel shapes:
  // a device may follow either.
  bool oneShape = true;
  // Bits in the busiest second of the picture's packets; 0 when unknown.
  // Reads the whole stream, so it is asked for last, only when all else fits.
  std::function<int64_t()> peakBitRate;
};

struct MovieFacts {
  std::vector<TrackFacts> tracks;  // in the source's order: a track's place is its stream's index
  int picture = -1;                // the movie's picture track; -1 for none
  PictureFacts pictureFacts;
  CodedPicture coded;
  bool timestampsTrusted = true;  // false: a copied picture would play its frames out of order
};

// What the encoder is given for a converted sound track.
struct SoundOutput {
  bool ac3 = false;  // else AAC-LC
  int sampleRate = 0;
  int channels = 0;
  int64_t bitRate = 0;
};

struct PlannedTrack {
  int source = -1;
  TrackKind kind = TrackKind::Other;
  TrackAction action = TrackAction::LeaveOut;
  // An AC3 5.1 companion of a multichannel sound track: the place in the
  // plan's tracks of the stereo track made from the same source, which it
  // stands beside and players fall back to; -1 for any other track.
  int companionOf = -1;
  bool enabled = false;   // the sound track players start with
  bool forcedLinesOnly = false;  // burnt subtitles: only the lines their packets mark forced
  std::string why;
  SoundOutput sound{};   // a converted sound track's settings
  bool hvc1Tag = false;  // a copied HEVC picture, tagged as Apple's players want it

  bool surround() const { return companionOf >= 0; }
};

struct ExportPlan {
  // What the export writes, in the output's order, then what it leaves out.
  std::vector<PlannedTrack> tracks;
  PicturePlan picture;    // for a converted picture
  PictureOutput output;  // what its encoder is given
  // What the source holds that the export does not, in a few words
  // ("2 picture subtitle tracks, 1 sound track"); empty when nothing.
  std::string leftOut;

  // True when the export has a picture or a sound track to write.
  bool writesAMovie() const;
  // Each track's fate and why, for the system log: "track 0 picture:
  // converted (H.264 for the device); track 2 picture subtitles: left out
  // (picture subtitles cannot become text)".
  std::string describe() const;
  // The picture's fate in a few words for the user: "copied as it is", or
  // "converted (1920 × 1080 is larger than 1280 × 720)"; empty without one.
  std::string pictureFate() const;
  bool pictureCopied() const;
};

struct PlanOptions {
  std::string userLanguage;  // ISO 639-2, for the sound to start with when the source marks none
  bool copyWhatPlays = true;  // device targets copy a picture they already play
};

ExportPlan planExport(const MovieFacts& movie, const ExportPreset& preset, const PlanOptions& options);

}  // namespace tovix::media
