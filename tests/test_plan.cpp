// What an export is decided to be, without encoding anything: the picture's
// filters, crop, turn and scaling, and what each track of a movie becomes.
#include "media/ExportPlan.h"
#include "media/ExportPreset.h"
#include "media/PicturePath.h"
#include "media/PicturePlan.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
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

// What the encoder is given: the size in the target's box with the pixels'
// shape, the frame rate under its cap, and colours always named.
TEST(PicturePlan, DecidesTheOutputSizeRateAndColours) {
  using media::Transfer;
  const media::OutputBox iPhone{1280, 720, 30, true}, iPod{640, 480, 30, false}, none{};
  struct Row {
    const char* what;
    media::PictureFacts facts;
    media::OutputBox box;
    int width, height, sarNum, sarDen, rateNum, rateDen;
    media::ColourTags colours;
    bool fromRgb;
  };
  const auto picture = [](int width, int height, int sarNum, int sarDen, int rateNum, int rateDen) {
    media::PictureFacts facts;
    facts.width = width;
    facts.height = height;
    facts.sarNum = sarNum;
    facts.sarDen = sarDen;
    facts.frameRateNum = rateNum;
    facts.frameRateDen = rateDen;
    return facts;
  };
  const auto with = [](media::PictureFacts facts, auto change) { change(facts); return facts; };
  const media::ColourTags hd{1, 1, 1}, sd{6, 6, 6};
  const Row rows[] = {
      {"HD shrinks into the box", picture(1920, 1080, 1, 1, 30, 1), iPhone, 1280, 720, 1, 1, 30, 1, hd, false},
      {"PAL 4:3 widens to square pixels", picture(720, 576, 16, 15, 25, 1), iPhone, 768, 576, 1, 1, 25, 1, sd, false},
      {"NTSC 16:9 into the iPod's box", picture(720, 480, 32, 27, 30000, 1001), iPod, 640, 360, 1, 1, 30000, 1001, sd, false},
      {"an upright picture turns the box", picture(1080, 1920, 1, 1, 30, 1), iPhone, 720, 1280, 1, 1, 30, 1, hd, false},
      {"turned with its pixels' shape", with(picture(1920, 1080, 4, 3, 30, 1), [](auto& f) { f.rotation = 90; }), iPhone,
       540, 1280, 1, 1, 30, 1, hd, false},
      {"no box keeps size and shape, made even", picture(1441, 1081, 4, 3, 30, 1), none, 1440, 1080, 4, 3, 30, 1, hd, false},
      {"60 frames capped at 30", picture(1280, 720, 1, 1, 60000, 1001), iPhone, 1280, 720, 1, 1, 30, 1, hd, false},
      {"no cap keeps 60", picture(1280, 720, 1, 1, 60000, 1001), none, 1280, 720, 1, 1, 60000, 1001, hd, false},
      {"pulldown removed: film rate", with(picture(720, 480, 1, 1, 30000, 1001), [](auto& f) { f.telecined = true; }), iPod,
       640, 426, 1, 1, 24000, 1001, sd, false},
      {"an unknown rate", picture(640, 480, 1, 1, 0, 0), iPod, 640, 480, 1, 1, 30, 1, sd, false},
      {"named colours are kept", with(picture(1920, 1080, 1, 1, 30, 1), [](auto& f) { f.colours = {9, 9, 14}; }), none,
       1920, 1080, 1, 1, 30, 1, {9, 9, 14}, false},
      {"a named matrix with implied rest", with(picture(1280, 720, 1, 1, 30, 1), [](auto& f) { f.colours = {6, 2, 2}; }),
       iPhone, 1280, 720, 1, 1, 30, 1, {6, 1, 1}, false},
      {"HDR tone-mapped to BT.709",
       with(picture(1920, 1080, 1, 1, 30, 1), [](auto& f) { f.colours = {9, 9, 16}; f.transfer = Transfer::Pq; }), iPhone,
       1280, 720, 1, 1, 30, 1, hd, false},
      {"RGB becomes YUV of its size's matrix", with(picture(640, 480, 1, 1, 30, 1), [](auto& f) { f.rgb = true; f.colours = {0, 2, 2}; }),
       iPod, 640, 480, 1, 1, 30, 1, sd, true},
  };
  for (const Row& row : rows) {
    const media::PicturePlan plan = media::planPicture(row.facts, row.box.width != 0);
    const media::PictureOutput out = media::planOutput(row.facts, plan, row.box);
    EXPECT_EQ(std::vector<int>({out.width, out.height, out.sarNum, out.sarDen, out.frameRateNum, out.frameRateDen}),
              std::vector<int>({row.width, row.height, row.sarNum, row.sarDen, row.rateNum, row.rateDen}))
        << row.what;
    EXPECT_EQ(out.colours, row.colours) << row.what;
    EXPECT_EQ(out.fromRgb, row.fromRgb) << row.what;
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
    const media::ExportPlan plan = media::planExport(row.movie, *media::presetForTypeCode(row.target), {row.userLanguage});
    std::string got;
    for (size_t i = 0; i < row.movie.tracks.size(); ++i) {
      if (i) got += ' ';
      std::string entry = "-";
      for (const media::PlannedTrack& track : plan.tracks) {
        if (track.source != int(i) || track.action == TrackAction::LeaveOut) continue;
        if (track.surround()) entry += std::string("S") + "KC"[int(track.action)];
        else entry = std::string(1, "KCB"[int(track.action)]) + (track.enabled ? "*" : "") + entry.substr(1);
      }
      got += entry;
    }
    EXPECT_EQ(got, row.expected) << row.what;
    const std::string picture = row.expected[0] == 'K' ? "track 0 picture: copied (the file holds the picture as it is)"
                                                       : "track 0 picture: converted (";
    EXPECT_NE(plan.describe().find(picture), std::string::npos) << plan.describe() << ": the log says what became of each track";
    EXPECT_EQ(plan.leftOut, row.leftOut) << row.what;
  }
  // HDR is tone-mapped for the devices; a QuickTime movie that converts its
  // picture keeps it HDR.
  auto hdr = movie({{TrackKind::Picture, true, false, false, false, 0, false, 0, ""}});
  hdr.pictureFacts.transfer = media::Transfer::Pq;
  EXPECT_TRUE(media::planExport(hdr, *media::presetForTypeCode(media::kTypeCodeiPhone), {}).picture.toneMapped);
  EXPECT_FALSE(media::planExport(hdr, *media::presetForTypeCode(media::kTypeCodeMovie), {}).picture.toneMapped);
}

// A device target copies a picture it plays as it is; every fact that
// forbids it, and every unknown one, makes it convert, and says why.
TEST(ExportPlan, CopiesWhatTheDevicePlays) {
  using media::H264Profile;
  using media::TrackKind;
  int peakReads = 0;
  const auto ready = [&](int64_t peak = 1'200'000) {
    media::MovieFacts movie;
    movie.tracks = {{TrackKind::Picture, true, true, false, false, 0, false, 0, ""}};
    movie.picture = 0;
    movie.pictureFacts.width = 640;
    movie.pictureFacts.height = 360;
    movie.coded = {true, H264Profile::Main, 30, true, true, 30, true, true, [&peakReads, peak] { ++peakReads; return peak; }};
    return movie;
  };
  struct Row {
    const char* what;
    std::function<void(media::MovieFacts&)> change;
    uint32_t target;
    std::string fate;
  };
  const std::string copied = "copied as it is";
  const Row rows[] = {
      {"a device-ready picture", {}, media::kTypeCodeiPhone, copied},
      {"on Apple TV too", {}, media::kTypeCodeAppleTV, copied},
      {"the iPod plays Baseline only", {}, media::kTypeCodeiPod, "converted (the device plays Baseline H.264 only)"},
      {"Baseline on the iPod", [](auto& m) { m.coded.profile = H264Profile::ConstrainedBaseline; m.coded.bFrames = false; },
       media::kTypeCodeiPod, copied},
      {"B-frames on the iPod", [](auto& m) { m.coded.profile = H264Profile::Baseline; }, media::kTypeCodeiPod,
       "converted (the device plays no B-frames)"},
      {"High 10", [](auto& m) { m.coded.profile = H264Profile::Higher; }, media::kTypeCodeAppleTV,
       "converted (the device plays H.264 up to High only)"},
      {"a level above the iPhone's", [](auto& m) { m.coded.level = 40; }, media::kTypeCodeiPhone,
       "converted (level 4.0 is above the device's 3.1)"},
      {"that level on Apple TV", [](auto& m) { m.coded.level = 40; }, media::kTypeCodeAppleTV, copied},
      {"an unknown level", [](auto& m) { m.coded.level = 0; }, media::kTypeCodeAppleTV, "converted (its H.264 level is unknown)"},
      {"10-bit", [](auto& m) { m.coded.eightBit420 = false; }, media::kTypeCodeAppleTV, "converted (it is not 8-bit 4:2:0)"},
      {"larger than the box", [](auto& m) { m.pictureFacts.width = 1920; m.pictureFacts.height = 1080; }, media::kTypeCodeiPhone,
       "converted (1920 × 1080 is larger than 1280 × 720)"},
      {"upright against the turned box", [](auto& m) { m.pictureFacts.width = 720; m.pictureFacts.height = 1280; },
       media::kTypeCodeiPhone, copied},
      {"60 frames a second", [](auto& m) { m.coded.frameRate = 60; }, media::kTypeCodeAppleTV,
       "converted (60 frames a second is above 30)"},
      {"interlaced", [](auto& m) { m.pictureFacts.interlaced = true; }, media::kTypeCodeAppleTV, "converted (it is interlaced)"},
      {"HDR", [](auto& m) { m.pictureFacts.transfer = media::Transfer::Hlg; }, media::kTypeCodeAppleTV, "converted (it is HDR)"},
      {"two pixel shapes", [](auto& m) { m.coded.oneShape = false; }, media::kTypeCodeAppleTV,
       "converted (its file and its picture state different pixel shapes)"},
      {"times not to be trusted", [](auto& m) { m.timestampsTrusted = false; }, media::kTypeCodeAppleTV,
       "converted (the file's times cannot be trusted)"},
      {"a matrix the iPod cannot turn",
       [](auto& m) { m.coded.profile = H264Profile::Baseline; m.coded.bFrames = false; m.pictureFacts.rotation = 90; },
       media::kTypeCodeiPod, "converted (it must be turned upright)"},
      {"a matrix the iPhone turns", [](auto& m) { m.pictureFacts.rotation = 90; }, media::kTypeCodeiPhone, copied},
      {"forced subtitles to burn in",
       [](auto& m) { m.tracks.push_back({TrackKind::PictureSubtitle, true, false, false, true, 0, false, 0, ""}); },
       media::kTypeCodeAppleTV, "converted (forced subtitles are burnt into it)"},
      {"a peak above the cap, the average below it", [&](auto& m) { m.coded.peakBitRate = [] { return int64_t(16'000'000); }; },
       media::kTypeCodeiPhone, "converted (it peaks at 16 Mb/s, above the device's 5 Mb/s)"},
      {"6 Mb/s on Apple TV", [&](auto& m) { m.coded.peakBitRate = [] { return int64_t(6'000'000); }; }, media::kTypeCodeAppleTV,
       copied},
      {"an unknown bit rate", [&](auto& m) { m.coded.peakBitRate = [] { return int64_t(0); }; }, media::kTypeCodeAppleTV,
       "converted (its bit rate is unknown)"},
      {"not H.264", [](auto& m) { m.coded.h264 = false; }, media::kTypeCodeAppleTV, "converted (the device plays H.264 only)"},
  };
  for (const Row& row : rows) {
    media::MovieFacts movie = ready();
    if (row.change) row.change(movie);
    EXPECT_EQ(media::planExport(movie, *media::presetForTypeCode(row.target), {}).pictureFate(), row.fate) << row.what;
  }
  // The preference turns it off; the bit rate, which reads the whole file,
  // is never asked for while another fact already forbids the copy.
  EXPECT_EQ(media::planExport(ready(), *media::presetForTypeCode(media::kTypeCodeiPhone), {"", false}).pictureFate(),
            "converted (H.264 for the device)");
  media::MovieFacts large = ready();
  large.pictureFacts.width = 4096;
  peakReads = 0;
  media::planExport(large, *media::presetForTypeCode(media::kTypeCodeAppleTV), {});
  EXPECT_EQ(peakReads, 0);

  // Sound: AAC-LC, mono or stereo, 44.1 or 48 kHz, at a rate the device takes.
  const auto aac = [](int channels, int rate, int64_t bitRate, bool lc = true) {
    media::TrackFacts track{TrackKind::Sound, true, true, false, false, channels, false, bitRate, "eng"};
    track.aacLc = lc;
    track.sampleRate = rate;
    return track;
  };
  // A rate the file does not state is measured from its packets, and only
  // once all else fits.
  int rateReads = 0;
  const auto measured = [&](int64_t bitRate, bool lc = true) {
    media::TrackFacts track = aac(2, 48000, 0, lc);
    track.measuredBitRate = [&rateReads, bitRate] { return ++rateReads, bitRate; };
    return track;
  };
  const std::tuple<media::TrackFacts, uint32_t, media::TrackAction> sounds[] = {
      {aac(2, 48000, 128000), media::kTypeCodeiPhone, media::TrackAction::Copy},
      {aac(1, 44100, 64000), media::kTypeCodeiPod, media::TrackAction::Copy},
      {aac(2, 48000, 256000), media::kTypeCodeiPod, media::TrackAction::Convert},
      {aac(2, 48000, 256000), media::kTypeCodeAppleTV, media::TrackAction::Copy},
      {aac(6, 48000, 384000), media::kTypeCodeAppleTV, media::TrackAction::Convert},
      {aac(2, 32000, 128000), media::kTypeCodeiPhone, media::TrackAction::Convert},
      {aac(2, 48000, 64000, false), media::kTypeCodeiPhone, media::TrackAction::Convert},  // HE-AAC
      {aac(2, 48000, 0), media::kTypeCodeiPhone, media::TrackAction::Convert},             // rate unknown
      {measured(128000), media::kTypeCodeiPod, media::TrackAction::Copy},
      {measured(256000), media::kTypeCodeiPod, media::TrackAction::Convert},
  };
  for (const auto& [track, target, action] : sounds) {
    media::MovieFacts movie = ready();
    movie.tracks.push_back(track);
    const auto plan = media::planExport(movie, *media::presetForTypeCode(target), {});
    EXPECT_EQ(plan.tracks.at(1).action, action) << track.channels << " channels at " << track.sampleRate << ", " << track.bitRate;
  }
  rateReads = 0;
  media::MovieFacts heAac = ready();
  heAac.tracks.push_back(measured(64000, false));
  EXPECT_EQ(media::planExport(heAac, *media::presetForTypeCode(media::kTypeCodeiPhone), {}).tracks.at(1).action,
            media::TrackAction::Convert);
  EXPECT_EQ(rateReads, 0);
}
