#include "media/ExportPlan.h"

#include <algorithm>

namespace tovix::media {
namespace {

constexpr int kStereo = 2;

// The AAC rates a device plays: the source's when it is one, else 48 kHz.
int aacSampleRate(int sourceRate) {
  for (int rate : {48000, 44100, 32000, 24000, 22050, 16000}) {
    if (rate == sourceRate) return rate;
  }
  return 48000;
}

// Stereo AAC at the preset's rate; mono stays mono at half the rate: the
// same sound for half the bytes, and a fraction of the encoder's time spent
// on two equal channels. The surround companion is AC3 5.1 at 48 kHz.
SoundOutput soundOutput(const TrackFacts& track, const ExportPreset& preset, bool surround) {
  if (surround) return {true, 48000, 6, kSurroundBitRate};
  const int channels = track.channels == 1 ? 1 : kStereo;
  return {false, aacSampleRate(track.sampleRate), channels, int64_t(preset.audioKbps) * 1000 * channels / kStereo};
}

// Every sound track a player can play, and the one it starts with: the track
// the source marks default, else the first in the user's language, else the
// first.
struct SoundChoice {
  std::vector<int> playable;
  int chosen = -1;
};

SoundChoice chooseSound(const MovieFacts& movie, const std::string& userLanguage) {
  SoundChoice choice;
  for (int i = 0; i < int(movie.tracks.size()); ++i)
    if (movie.tracks[i].kind == TrackKind::Sound && movie.tracks[i].decodable) choice.playable.push_back(i);
  if (choice.playable.empty()) return choice;
  const auto& all = choice.playable;
  auto chosen = std::find_if(all.begin(), all.end(), [&](int i) { return movie.tracks[i].markedDefault; });
  if (chosen == all.end() && !userLanguage.empty())
    chosen = std::find_if(all.begin(), all.end(), [&](int i) { return movie.tracks[i].language == userLanguage; });
  choice.chosen = chosen == all.end() ? all.front() : *chosen;
  return choice;
}

// The picture subtitles to burn in: a track marked forced, in the language
// of the sound track players start with, else the first; else the forced
// lines of a track whose packets mark them (a DVD's), in that language, or
// the first such track when the sound names no language. track is -1 for none.
struct Burnt {
  int track = -1;
  bool forcedLinesOnly = false;
};

Burnt chooseBurnt(const MovieFacts& movie, int chosenSound) {
  std::string language = chosenSound >= 0 ? movie.tracks[chosenSound].language : std::string();
  if (language == "und") language.clear();
  Burnt forced, lines;
  for (int i = 0; i < int(movie.tracks.size()); ++i) {
    const TrackFacts& track = movie.tracks[i];
    if (track.kind != TrackKind::PictureSubtitle || !track.decodable) continue;
    const bool sameLanguage = !language.empty() && track.language == language;
    if (track.forced && (forced.track < 0 || sameLanguage)) forced = {i, false};
    if (track.forced && sameLanguage) return forced;
    if (track.forcedLines && lines.track < 0 && (sameLanguage || language.empty())) lines = {i, true};
  }
  return forced.track >= 0 ? forced : lines;
}

// Words for sizes and rates in the reasons the user reads.
std::string sizeText(int width, int height) { return std::to_string(width) + " × " + std::to_string(height); }
std::string mbpsText(int64_t bitsPerSecond) {
  const int64_t tenths = (bitsPerSecond + 50000) / 100000;
  return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " Mb/s";
}

bool profileWithin(H264Profile profile, const ExportPreset& preset) {
  if (std::string(preset.profile) == "baseline")
    return profile == H264Profile::Baseline || profile == H264Profile::ConstrainedBaseline;
  return profile == H264Profile::ConstrainedBaseline || profile == H264Profile::Baseline ||
         profile == H264Profile::Main || profile == H264Profile::High;
}

std::string levelText(int level) { return std::to_string(level / 10) + '.' + std::to_string(level % 10); }

// Whether the device decodes the stream: codec, profile, level, samples.
std::string whyNotDecoded(const CodedPicture& coded, const ExportPreset& preset) {
  if (!coded.h264) return "the device plays H.264 only";
  if (!profileWithin(coded.profile, preset))
    return std::string(preset.profile) == "baseline" ? "the device plays Baseline H.264 only"
                                                     : "the device plays H.264 up to High only";
  if (coded.level <= 0) return "its H.264 level is unknown";
  if (coded.level > preset.level)
    return "level " + levelText(coded.level) + " is above the device's " + levelText(preset.level);
  if (!coded.eightBit420) return "it is not 8-bit 4:2:0";
  if (coded.bFrames && !preset.playsBFrames) return "the device plays no B-frames";
  return {};
}

// Whether the device shows the picture as the export would: size, rate,
// progressive SDR frames at trusted times, upright and of the right shape.
std::string whyNotShown(const MovieFacts& movie, const ExportPreset& preset) {
  const PictureFacts& picture = movie.pictureFacts;
  int boxWidth = preset.boxWidth, boxHeight = preset.boxHeight;
  if (preset.turnBoxForPortrait && picture.height > picture.width) std::swap(boxWidth, boxHeight);
  if (picture.width <= 0 || picture.height <= 0) return "its size is unknown";
  if (picture.width > boxWidth || picture.height > boxHeight)
    return sizeText(picture.width, picture.height) + " is larger than " + sizeText(boxWidth, boxHeight);
  const double rate = movie.coded.frameRate;
  if (rate <= 0) return "its frame rate is unknown";
  if (rate > preset.maxFrameRate + 0.01)
    return std::to_string(int(rate + 0.5)) + " frames a second is above " + std::to_string(preset.maxFrameRate);
  if (picture.interlaced) return "it is interlaced";
  if (picture.telecined) return "it is telecined film";
  if (picture.transfer != Transfer::Sdr) return "it is HDR";
  if (!movie.timestampsTrusted) return "the file's times cannot be trusted";
  if (!movie.coded.squarePixels && !preset.playsPixelAspect) return "its pixels are not square";
  if (!movie.coded.oneShape) return "its file and its picture state different pixel shapes";
  if (picture.rotation != 0 && !preset.playsDisplayMatrix) return "it must be turned upright";
  return {};
}

// Why a device target cannot play the source's picture as it is; empty when
// it can. Each fact must be known and fit: anything unknown means convert.
// The bit-rate peak, which reads the whole stream, is looked at last.
std::string whyNotCopied(const MovieFacts& movie, const ExportPreset& preset) {
  if (std::string why = whyNotDecoded(movie.coded, preset); !why.empty()) return why;
  if (std::string why = whyNotShown(movie, preset); !why.empty()) return why;
  const int64_t cap = int64_t(preset.maxRateKbps) * 1000;
  const int64_t peak = movie.coded.peakBitRate ? movie.coded.peakBitRate() : 0;
  if (peak <= 0) return "its bit rate is unknown";
  if (peak > cap) return "it peaks at " + mbpsText(peak) + ", above the device's " + mbpsText(cap);
  return {};
}

// The sound's rate as its file states it, else as its packets measure.
int64_t soundBitRate(const TrackFacts& track) {
  if (track.bitRate > 0) return track.bitRate;
  return track.measuredBitRate ? track.measuredBitRate() : 0;
}

// Sound a device plays as it is: AAC-LC, mono or stereo, at 44.1 or 48 kHz
// and a rate the device takes, which is looked at last.
bool soundPlaysAsItIs(const TrackFacts& track, const ExportPreset& preset) {
  if (preset.soundCopyKbps <= 0 || !track.aacLc || track.channels < 1 || track.channels > kStereo ||
      (track.sampleRate != 44100 && track.sampleRate != 48000))
    return false;
  const int64_t rate = soundBitRate(track);
  return rate > 0 && rate <= int64_t(preset.soundCopyKbps) * 1000;
}

bool surroundCopied(const TrackFacts& track) {
  return track.ac3 && track.bitRate > 0 && track.bitRate <= kSurroundBitRate;
}

class Planner {
 public:
  Planner(const MovieFacts& movie, const ExportPreset& preset) : movie_(movie), preset_(preset) {}

  ExportPlan plan(const PlanOptions& options);

 private:
  void keep(int source, TrackAction action, std::string why, bool enabled = false, int companionOf = -1) {
    kept_.push_back({source, movie_.tracks[source].kind, action, companionOf, enabled, false, std::move(why)});
  }
  void leaveOut(int source, std::string why) {
    left_.push_back({source, movie_.tracks[source].kind, TrackAction::LeaveOut, -1, false, false, std::move(why)});
  }
  void planPicture(bool copyWhatPlays, const Burnt& burnt);
  void planSound(const SoundChoice& sound);
  void planSubtitles(const Burnt& burnt);
  void planTheRest();
  std::string leftOutSummary() const;

  const MovieFacts& movie_;
  const ExportPreset& preset_;
  std::vector<PlannedTrack> kept_;
  std::vector<PlannedTrack> left_;
  bool pictureConverted_ = false;
  int cover_ = -1;
};

// The QuickTime copy keeps any picture the file holds; a device target
// copies a picture it plays as it is, unless subtitles are to be burnt in.
void Planner::planPicture(bool copyWhatPlays, const Burnt& burnt) {
  if (movie_.picture < 0) return;
  const TrackFacts& picture = movie_.tracks[movie_.picture];
  if (preset_.streamCopyWhenPossible && picture.movCompatible && movie_.timestampsTrusted) {
    keep(movie_.picture, TrackAction::Copy, "the file holds the picture as it is");
    kept_.back().hvc1Tag = picture.hevc;
    return;
  }
  if (!picture.decodable) {
    leaveOut(movie_.picture, "no decoder for the picture");
    return;
  }
  std::string why = "H.264 for the device";
  if (copyWhatPlays && preset_.boxWidth > 0) {
    why = burnt.track >= 0 ? "forced subtitles are burnt into it" : whyNotCopied(movie_, preset_);
    if (why.empty()) {
      keep(movie_.picture, TrackAction::Copy, "the device plays it as it is");
      return;
    }
  }
  keep(movie_.picture, TrackAction::Convert, why);
  pictureConverted_ = true;
}

// Each kept sound track, and after each multichannel one its surround
// companion, disabled in the same alternate group as the stereo track.
void Planner::planSound(const SoundChoice& sound) {
  for (const int i : sound.playable) {
    if (!preset_.everySoundTrack && i != sound.chosen) {
      leaveOut(i, "the device plays one sound track");
      continue;
    }
    const TrackFacts& track = movie_.tracks[i];
    if (preset_.streamCopyWhenPossible && track.movCompatible)
      keep(i, TrackAction::Copy, "the file holds the sound as it is", i == sound.chosen);
    else if (soundPlaysAsItIs(track, preset_))
      keep(i, TrackAction::Copy, "the device plays it as it is", i == sound.chosen);
    else
      keep(i, TrackAction::Convert, "AAC stereo", i == sound.chosen);
    kept_.back().sound = soundOutput(track, preset_, false);
    if (preset_.surroundCompanion && track.channels > kStereo) {
      const int stereo = int(kept_.size()) - 1;
      keep(i, surroundCopied(track) ? TrackAction::Copy : TrackAction::Convert, "AC3 5.1 beside the stereo track", false, stereo);
      kept_.back().sound = soundOutput(track, preset_, true);
    }
  }
}

void Planner::planSubtitles(const Burnt& burnt) {
  for (int i = 0; i < int(movie_.tracks.size()); ++i) {
    const TrackKind kind = movie_.tracks[i].kind;
    if (kind == TrackKind::TextSubtitle) {
      if (preset_.textSubtitles) keep(i, TrackAction::Convert, "mov_text, off until asked for");
      else leaveOut(i, "the device shows no subtitles");
    } else if (kind == TrackKind::PictureSubtitle) {
      if (i != burnt.track) {
        leaveOut(i, "picture subtitles cannot become text");
      } else if (!burnt.forcedLinesOnly) {
        keep(i, TrackAction::Burn, "forced picture subtitles are burnt into the picture");
      } else {
        // Its other lines are left out, and said to be.
        keep(i, TrackAction::Burn, "the forced lines are burnt into the picture");
        kept_.back().forcedLinesOnly = true;
        leaveOut(i, "picture subtitles cannot become text");
      }
    }
  }
}

void Planner::planTheRest() {
  for (int i = 0; i < int(movie_.tracks.size()); ++i) {
    const TrackFacts& track = movie_.tracks[i];
    if (track.kind == TrackKind::Cover) {
      const bool first = track.movCompatible && cover_ < 0;
      if (first) cover_ = i;
      if (first) keep(i, TrackAction::Copy, "the file's cover");
      else leaveOut(i, "the file holds one JPEG or PNG cover");
    } else if (track.kind == TrackKind::Sound && !track.decodable) {
      leaveOut(i, "no decoder for the sound");
    } else if (track.kind == TrackKind::Data || track.kind == TrackKind::Other ||
               (track.kind == TrackKind::Picture && i != movie_.picture)) {
      leaveOut(i, "the file holds one picture, sound and subtitles only");
    }
  }
}

std::string Planner::leftOutSummary() const {
  std::string summary;
  const auto count = [&](TrackKind kind, const char* what) {
    const auto n = std::count_if(left_.begin(), left_.end(), [kind](const PlannedTrack& t) { return t.kind == kind; });
    if (n == 0) return;
    if (!summary.empty()) summary += ", ";
    summary += std::to_string(n) + ' ' + what + (n == 1 ? "" : "s");
  };
  count(TrackKind::PictureSubtitle, "picture subtitle track");
  count(TrackKind::TextSubtitle, "subtitle track");
  count(TrackKind::Sound, "sound track");
  count(TrackKind::Picture, "picture track");
  count(TrackKind::Data, "data track");
  count(TrackKind::Cover, "cover picture");
  return summary;
}

ExportPlan Planner::plan(const PlanOptions& options) {
  const SoundChoice sound = chooseSound(movie_, options.userLanguage);
  const Burnt burnt = chooseBurnt(movie_, sound.chosen);
  planPicture(options.copyWhatPlays, burnt);
  planSound(sound);
  planSubtitles(pictureConverted_ ? burnt : Burnt{});
  planTheRest();
  ExportPlan result;
  // Device targets show SDR only; the QuickTime copy keeps HDR as it is.
  if (pictureConverted_) {
    result.picture = media::planPicture(movie_.pictureFacts, preset_.boxWidth != 0);
    result.output = planOutput(movie_.pictureFacts, result.picture,
                               {preset_.boxWidth, preset_.boxHeight, preset_.maxFrameRate, preset_.turnBoxForPortrait});
  }
  result.leftOut = leftOutSummary();
  result.tracks = kept_;
  result.tracks.insert(result.tracks.end(), left_.begin(), left_.end());
  return result;
}

}  // namespace

bool ExportPlan::writesAMovie() const {
  return std::any_of(tracks.begin(), tracks.end(), [](const PlannedTrack& t) {
    return t.action != TrackAction::LeaveOut && (t.kind == TrackKind::Picture || t.kind == TrackKind::Sound);
  });
}

std::string ExportPlan::describe() const {
  static const char* const kKinds[] = {"picture", "sound", "subtitles", "picture subtitles", "cover", "data", "other"};
  static const char* const kActions[] = {"copied", "converted", "burnt in", "left out"};
  std::string text;
  for (const PlannedTrack& track : tracks) {
    if (!text.empty()) text += "; ";
    text += "track " + std::to_string(track.source) + ' ' + kKinds[int(track.kind)] + (track.surround() ? " (surround)" : "") +
            ": " + kActions[int(track.action)] + " (" + track.why + ')';
  }
  return text;
}

bool ExportPlan::pictureCopied() const {
  return std::any_of(tracks.begin(), tracks.end(),
                     [](const PlannedTrack& t) { return t.kind == TrackKind::Picture && t.action == TrackAction::Copy; });
}

std::string ExportPlan::pictureFate() const {
  for (const PlannedTrack& track : tracks) {
    if (track.kind != TrackKind::Picture) continue;
    if (track.action == TrackAction::Copy) return "copied as it is";
    if (track.action == TrackAction::Convert) return "converted (" + track.why + ')';
    return "left out (" + track.why + ')';
  }
  return {};
}

ExportPlan planExport(const MovieFacts& movie, const ExportPreset& preset, const PlanOptions& options) {
  return Planner(movie, preset).plan(options);
}

}  // namespace tovix::media
