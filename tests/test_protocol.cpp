// The output file naming rule, the target table and dictionary descriptions.
#include "protocol/Protocol.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tovix::protocol;

TEST(OutputPath, FollowsTheNamingRuleForEveryTarget) {
  EXPECT_EQ(outputPath("/Movies/Trip.mov", Target::iPhone, std::nullopt), "/Movies/Trip_iPhone.m4v");
  EXPECT_EQ(outputPath("/Movies/Trip.mov", Target::iPod, std::nullopt), "/Movies/Trip_iPod.m4v");
  EXPECT_EQ(outputPath("/Movies/Trip.mov", Target::AppleTV, QString("/Exports")), "/Exports/Trip_ATV.m4v");
  EXPECT_EQ(outputPath("/Movies/Trip.mov", Target::QuickTime, std::nullopt), "/Movies/Trip_QT.mov");
}

TEST(OutputPath, RemovesOnlyTheLastExtensionAndKeepsTheDirectoryString) {
  EXPECT_EQ(outputPath("/Movies/a.b.mov", Target::QuickTime, std::nullopt), "/Movies/a.b_QT.mov");
  EXPECT_EQ(outputPath("/Movies/clip", Target::iPod, std::nullopt), "/Movies/clip_iPod.m4v");
  EXPECT_EQ(outputPath("/Movies/Trip.mov", Target::AppleTV, QString("/Exports/")), "/Exports//Trip_ATV.m4v");
  EXPECT_EQ(outputPath("/Mo.vies/clip", Target::iPhone, std::nullopt), "/Mo.vies/clip_iPhone.m4v");
  EXPECT_EQ(outputPath("/Movies/.hidden", Target::iPhone, std::nullopt), "/Movies/.hidden_iPhone.m4v");
}

TEST(OutputPath, KeepsSpacesQuotesNewlinesAndPercentSigns) {
  const QString odd = QString::fromUtf8("/tmp/it's \"my\" 100% fïlm\nnew.mov");
  EXPECT_EQ(outputPath(odd, Target::iPhone, std::nullopt),
            QString::fromUtf8("/tmp/it's \"my\" 100% fïlm\nnew_iPhone.m4v"));
  EXPECT_EQ(outputPath(odd, Target::QuickTime, QString("/out %1")),
            QString::fromUtf8("/out %1/it's \"my\" 100% fïlm\nnew_QT.mov"));
}

TEST(Targets, AreNamedByTheirKeysExactly) {
  EXPECT_EQ(targetForTypeKey("QUEUE_ENTRY_IPHONE_KEY"), Target::iPhone);
  EXPECT_EQ(targetForTypeKey("QUEUE_ENTRY_QT_KEY"), Target::QuickTime);
  EXPECT_EQ(targetForTypeKey("queue_entry_qt_key"), std::nullopt);
  EXPECT_EQ(targetForTypeKey("QUEUE_ENTRY_QT_KEY "), std::nullopt);
  EXPECT_EQ(resultFromText("Failed"), ExportResult::Failed);
  EXPECT_EQ(resultFromText("Cancelled"), ExportResult::Cancelled);
  EXPECT_EQ(resultFromText(""), ExportResult::Finished);
}

TEST(FlagFiles, LieInTheApplicationDataFolder) {
  tovix::test::TemporaryHome home;
  EXPECT_EQ(stopFlagPath(), home.dataFolder() + "/TovixStop");
  EXPECT_EQ(quitFlagPath(), home.dataFolder() + "/TovixQuit");
}

TEST(Describe, EscapesWhatWouldBreakALogLine) {
  const QString text = describe({{"A", QString("x\"y\nz")}, {"B", 0.5}});
  EXPECT_EQ(text, "{A = \"x\\\"y\\nz\"; B = 0.5; }");
  EXPECT_FALSE(text.contains('\n'));
}
