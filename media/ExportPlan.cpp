#include "media/ExportPlan.h"

#include <algorithm>

namespace tovix::media {
namespace {

constexpr int kStereo = 2;

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

bool surroundCopied(const TrackFacts& track) {
  return track.ac3 && track.bitRate > 0 && track.bitRate <= kSurroundBitRate;
}

class Planner {
 public:
  Planner(const MovieFacts& movie, const ExportPreset& preset) : movie_(movie), preset_(preset) {}

  ExportPlan plan(const std::string& userLanguage);

 private:
  void keep(int source, TrackAction action, const char* why, bool surround = false, bool enabled = false) {
    kept_.push_back({source, movie_.tracks[source].kind, action, surround, enabled, false, why});
  }
  void leaveOut(int source, const char* why) {
    left_.push_back({source, movie_.tracks[source].kind, TrackAction::LeaveOut, false, false, false, why});
  }
  void planPicture();
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

void Planner::planPicture() {
  if (movie_.picture < 0) return;
  const TrackFacts& picture = movie_.tracks[movie_.picture];
  if (preset_.streamCopyWhenPossible && picture.movCompatible && movie_.timestampsTrusted) {
    keep(movie_.picture, TrackAction::Copy, "the file holds the picture as it is");
  } else if (picture.decodable) {
    keep(movie_.picture, TrackAction::Convert, "H.264 for the device");
    pictureConverted_ = true;
  } else {
    leaveOut(movie_.picture, "no decoder for the picture");
  }
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
    const bool copy = preset_.streamCopyWhenPossible && track.movCompatible;
    keep(i, copy ? TrackAction::Copy : TrackAction::Convert, copy ? "the file holds the sound as it is" : "AAC stereo",
         false, i == sound.chosen);
    if (preset_.surroundCompanion && track.channels > kStereo)
      keep(i, surroundCopied(track) ? TrackAction::Copy : TrackAction::Convert, "AC3 5.1 beside the stereo track", true);
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

ExportPlan Planner::plan(const std::string& userLanguage) {
  const SoundChoice sound = chooseSound(movie_, userLanguage);
  planPicture();
  planSound(sound);
  planSubtitles(pictureConverted_ ? chooseBurnt(movie_, sound.chosen) : Burnt{});
  planTheRest();
  ExportPlan result;
  // Device targets show SDR only; the QuickTime copy keeps HDR as it is.
  if (pictureConverted_) result.picture = media::planPicture(movie_.pictureFacts, preset_.boxWidth != 0);
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
    text += "track " + std::to_string(track.source) + ' ' + kKinds[int(track.kind)] + (track.surround ? " (surround)" : "") +
            ": " + kActions[int(track.action)] + " (" + track.why + ')';
  }
  return text;
}

ExportPlan planExport(const MovieFacts& movie, const ExportPreset& preset, const std::string& userLanguage) {
  return Planner(movie, preset).plan(userLanguage);
}

}  // namespace tovix::media
