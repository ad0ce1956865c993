// Start-up: stale flags, first-run defaults, the fade-in and the system check.
#include "AppTestSupport.h"
#include "app/update/SystemCheck.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using namespace tovix;
namespace p = tovix::protocol;

TEST(Startup, RemovesStaleFlagsAndStoresFirstRunDefaults) {
  test::TemporaryHome home;
  QDir().mkpath(home.dataFolder());
  test::writeFile(p::stopFlagPath(), "");
  test::writeFile(p::quitFlagPath(), "");
  test::FakeCenter center;
  Controller controller(center, std::make_unique<test::FakeHelper>());
  controller.init();
  EXPECT_FALSE(QFile::exists(p::stopFlagPath()));
  EXPECT_FALSE(QFile::exists(p::quitFlagPath()));
  EXPECT_EQ(center.handlers.size(), 3u);
  controller.prefs().setBool(Preferences::iPhoneExportSwitch, false);
  ASSERT_TRUE(controller.awakeFromNib());
  EXPECT_FALSE(controller.prefs().boolForKey(Preferences::iPhoneExportSwitch));
  EXPECT_TRUE(controller.prefs().boolForKey(Preferences::AppleTVExportSwitch));
  EXPECT_TRUE(controller.prefs().hasValue(Preferences::QTExportSwitch));
}

TEST(Startup, FadeInStopsOnTheTwentySecondTickAndOnlyThenActivates) {
  test::ControllerHarness h;
  for (int tick = 1; tick <= 21; ++tick) {
    h.controller->fadeinMainWindow();
    EXPECT_FALSE(h.controller->fadeFinished()) << tick;
  }
  h.controller->fadeinMainWindow();
  EXPECT_TRUE(h.controller->fadeFinished());
}

TEST(Startup, MinimumSystemCheckEdges) {
  EXPECT_EQ(minimumSystemRefusal(577.9), "Running on Mac OS X 10.0");
  EXPECT_EQ(minimumSystemRefusal(578), "Running on Mac OS X 10.1");
  EXPECT_EQ(minimumSystemRefusal(743.5), "Running on Mac OS X 10.3");
  EXPECT_EQ(minimumSystemRefusal(824.99), "Running on Mac OS X 10.4");
  EXPECT_EQ(minimumSystemRefusal(825), std::nullopt);
  EXPECT_EQ(minimumSystemRefusal(interfaceFrameworkVersion()), std::nullopt);
}
