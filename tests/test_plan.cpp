// What an export is decided to be, without encoding anything: the picture's
// filters, crop, turn and scaling, and what each track of a movie becomes.
#include "media/ExportPlan.h"
#include "media/ExportPreset.h"
#include "media/PicturePath.h"
#include "media/PicturePlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tovix;

TEST(PicturePlan, DecidesFiltersCropAndTheTurn) {
  using media::Transfer;
  struct Row {
    media::PictureFacts facts;
    bool toneMap;
    std::vector<const char*> filters;  // in order
    int width, height;
    bool toneMapped;
  };
  const Row rows[] = {
      {{1920, 1080, false, Transfer::Sdr, 0}, true, {}, 1920, 1080, false},
      {{1920, 1080, true, Transfer::Sdr, 0}, true, {"bwdif="}, 1920, 1080, false},
      {{1920, 1080, false, Transfer::Hlg, 0}, true, {"zscale=t=linear", "tonemap="}, 1920, 1080, true},
      {{1920, 1080, false, Transfer::Pq, 0}, false, {}, 1920, 1080, false},  // the QuickTime copy keeps HDR
      {{1280, 720, false, Transfer::Sdr, 90}, true, {"transpose=clock"}, 720, 1280, false},
      {{1280, 720, false, Transfer::Sdr, 270}, true, {"transpose=cclock"}, 720, 1280, false},
      {{1280, 720, false, Transfer::Sdr, 180}, true, {"hflip,vflip"}, 1280, 720, false},
      {{1920, 1080, true, Transfer::Pq, 90}, true, {"bwdif=", "tonemap=", "transpose=clock"}, 1080, 1920, true},
      {{720, 480, true, Transfer::Sdr, 0, true}, true, {"fieldmatch=", "decimate"}, 720, 480, false},
      // Bars are cut in the stored picture, before it is turned.
      {{1280, 720, false, Transfer::Sdr, 0, false, {92, 92, 0, 0}}, true, {"crop=1280:536:0:92"}, 1280, 536, false},
      {{720, 1280, false, Transfer::Sdr, 90, false, {0, 0, 100, 100}}, true, {"crop=520:1280:100:0", "transpose=clock"}, 1280, 520, false},
  };
  for (const Row& row : rows) {
    const media::PicturePlan plan = media::planPicture(row.facts, row.toneMap);
    size_t at = 0;
    for (const char* filter : row.filters) {
      at = plan.filters.find(filter, at);
      EXPECT_NE(at, std::string::npos) << filter << " in " << plan.filters;
    }
    if (row.filters.empty()) {
      EXPECT_EQ(plan.filters, "") << "a plain picture is only scaled";
    }
    EXPECT_EQ(plan.width, row.width) << plan.filters;
    EXPECT_EQ(plan.height, row.height) << plan.filters;
    EXPECT_EQ(plan.toneMapped, row.toneMapped) << plan.filters;
    EXPECT_EQ(plan.filmRate, row.facts.telecined) << plan.filters;
    // Then shrunk with Lanczos, which keeps the detail bicubic loses.
    const std::string chain = media::pictureChain(plan, {plan.width / 2, plan.height / 2, 0, false, true});
    EXPECT_NE(chain.find("scale=w=" + std::to_string(plan.width / 2) + ":h=" + std::to_string(plan.height / 2) + ":flags=lanczos"),
              std::string::npos) << chain;
    EXPECT_EQ(plan.filters.find("bwdif") != std::string::npos, row.facts.interlaced && !row.facts.telecined) << plan.filters;
  }
}

TEST(ExportPlan, DecidesEveryTrack) {
  using media::TrackAction;
  using media::TrackKind;
  const auto sound = [](const char* language, bool markedDefault = false, int channels = 2) {
    media::TrackFacts track{TrackKind::Sound, true, false, markedDefault, false, channels, false, 0, language};
    return track;
  };
  const auto pictureSubtitles = [](const char* language, bool forced) {
    return media::TrackFacts{TrackKind::PictureSubtitle, true, false, false, forced, 0, false, 0, language};
  };
  const auto dvdSubtitles = [&](const char* language) {
    auto track = pictureSubtitles(language, false);
    track.forcedLines = true;
    return track;
  };
  const media::TrackFacts h264{TrackKind::Picture, true, true, false, false, 0, false, 0, ""};
  const auto movie = [](std::vector<media::TrackFacts> tracks) {
    media::MovieFacts facts;
    facts.tracks = std::move(tracks);
    facts.picture = 0;
    return facts;
  };
  // What each target makes of a track: its action, or '-' when the target
  // writes nothing of it, 'S' a surround companion beside it, '*' the track
  // players start with.
  struct Row {
    const char* what;
    media::MovieFacts movie;
    std::string userLanguage;
    uint32_t target;
    std::string expected;  // one entry per source track, ' ' between them
    std::string leftOut;
  };
  const auto compatibleSound = [&](const char* language) {
    auto track = sound(language);
    track.movCompatible = true;
    return track;
  };
  const auto ac3At = [&](int64_t bitRate) {
    auto track = sound("eng", false, 6);
    track.ac3 = true;
    track.bitRate = bitRate;
    return track;
  };
  const auto ac3 = ac3At(448000);
  const Row rows[] = {
      {"the default track starts", movie({h264, sound("eng"), sound("fra", true)}), "eng", media::kTypeCodeiPhone, "C C C*", ""},
      {"else the user's language", movie({h264, sound("eng"), sound("fra")}), "fra", media::kTypeCodeiPhone, "C C C*", ""},
      {"else the first", movie({h264, sound("eng"), sound("fra")}), "deu", media::kTypeCodeiPhone, "C C* C", ""},
      {"an iPod keeps the chosen one", movie({h264, sound("eng"), sound("fra")}), "fra", media::kTypeCodeiPod, "C - C*", "1 sound track"},
      {"surround beside stereo on Apple TV, an AC3 source copied", movie({h264, ac3}), "", media::kTypeCodeAppleTV, "C C*SK", ""},
      {"AC3 at the format's highest rate is copied", movie({h264, ac3At(640000)}), "", media::kTypeCodeAppleTV, "C C*SK", ""},
      {"AC3 above it is converted", movie({h264, ac3At(640001)}), "", media::kTypeCodeAppleTV, "C C*SC", ""},
      {"stereo has no surround track", movie({h264, sound("eng")}), "", media::kTypeCodeAppleTV, "C C*", ""},
      {"QuickTime copies what it holds", movie({h264, compatibleSound("eng"), sound("fra")}), "", media::kTypeCodeMovie, "K K* C", ""},
      {"forced subtitles in the chosen language are burnt",
       movie({h264, sound("fra"), pictureSubtitles("eng", true), pictureSubtitles("fra", true)}), "", media::kTypeCodeiPhone,
       "C C* - B", "1 picture subtitle track"},
      {"a copied picture takes none", movie({h264, pictureSubtitles("eng", true)}), "", media::kTypeCodeMovie, "K -",
       "1 picture subtitle track"},
      {"a DVD's forced lines in the sound's language are burnt, its other lines left out",
       movie({h264, sound("fra"), dvdSubtitles("eng"), dvdSubtitles("fra")}), "", media::kTypeCodeiPhone, "C C* - B",
       "2 picture subtitle tracks"},
      {"a track marked forced comes before a DVD's forced lines",
       movie({h264, sound("eng"), dvdSubtitles("eng"), pictureSubtitles("eng", true)}), "", media::kTypeCodeiPod, "C C* - B",
       "1 picture subtitle track"},
  };
  for (const Row& row : rows) {
    const media::ExportPlan plan = media::planExport(row.movie, *media::presetForTypeCode(row.target), row.userLanguage);
    std::string got;
    for (size_t i = 0; i < row.movie.tracks.size(); ++i) {
      if (i) got += ' ';
      std::string entry = "-";
      for (const media::PlannedTrack& track : plan.tracks) {
        if (track.source != int(i) || track.action == TrackAction::LeaveOut) continue;
        if (track.surround) entry += std::string("S") + "KC"[int(track.action)];
        else entry = std::string(1, "KCB"[int(track.action)]) + (track.enabled ? "*" : "") + entry.substr(1);
      }
      got += entry;
    }
    EXPECT_EQ(got, row.expected) << row.what;
    const std::string picture = row.expected[0] == 'K' ? "track 0 picture: copied (the file holds the picture as it is)"
                                                       : "track 0 picture: converted (H.264 for the device)";
    EXPECT_NE(plan.describe().find(picture), std::string::npos) << plan.describe() << ": the log says what became of each track";
    EXPECT_EQ(plan.leftOut, row.leftOut) << row.what;
  }
  // HDR is tone-mapped for the devices; a QuickTime movie that converts its
  // picture keeps it HDR.
  auto hdr = movie({{TrackKind::Picture, true, false, false, false, 0, false, 0, ""}});
  hdr.pictureFacts.transfer = media::Transfer::Pq;
  EXPECT_TRUE(media::planExport(hdr, *media::presetForTypeCode(media::kTypeCodeiPhone), "").picture.toneMapped);
  EXPECT_FALSE(media::planExport(hdr, *media::presetForTypeCode(media::kTypeCodeMovie), "").picture.toneMapped);
}
