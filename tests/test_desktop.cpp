// What the desktop is told about a run, against stand-in session services
// on a private bus that record every call they get.
#include "BusTestSupport.h"
#include "platform/BusName.h"
#include "platform/Desktop.h"
#include "platform/DesktopSession.h"

#include <gtest/gtest.h>

#include <QProcess>

using namespace tovix;

namespace {

class DesktopTest : public testing::Test {
 protected:
  void startPeer(const QStringList& options = {}) {
    peer.start(qEnvironmentVariable("TOVIX_BIN_DIR") + "/desktop_peer", options);
    ASSERT_TRUE(peer.waitForStarted());
    ASSERT_TRUE(test::waitUntil([] { return isBusNameOwned("org.tovix.DesktopPeer"); }));
  }
  void TearDown() override {
    peer.kill();
    peer.waitForFinished();
    test::waitUntil([] { return !isBusNameOwned("org.tovix.DesktopPeer"); });
  }
  // Waits for the peer to have printed a line starting with prefix; answers it.
  QString lineStartingWith(const QString& prefix) {
    QString found;
    test::waitUntil([&] {
      calls += QString::fromUtf8(peer.readAllStandardOutput());
      for (const QString& line : calls.split('\n'))
        if (line.startsWith(prefix)) found = line;
      return !found.isEmpty();
    }, 5000);
    return found;
  }
  QProcess peer;
  QString calls;
};

}  // namespace

TEST_F(DesktopTest, NotifiesOnceAndShowsTheFolderWhenAsked) {
  startPeer({"--invoke-action"});
  DesktopSession desktop("org.tovix.Tovix");
  QString revealed;
  desktop.reveal = [&revealed](const QString& path) { revealed = path; };
  desktop.notify("Conversion done", "3 exports finished, 1 failed", QString("/m/Trip_iPhone.m4v"));
  EXPECT_EQ(lineStartingWith("Notify"),
            "Notify Tovix|org.tovix.Tovix|Conversion done|3 exports finished, 1 failed|show,Show in Folder|"
            "desktop-entry=org.tovix.Tovix");
  EXPECT_TRUE(test::waitUntil([&] { return !revealed.isEmpty(); }, 5000));
  EXPECT_EQ(revealed, "/m/Trip_iPhone.m4v");
}

TEST_F(DesktopTest, KeepsTheComputerAwakeThroughThePortalAndLetsGo) {
  startPeer();
  DesktopSession desktop("org.tovix.Tovix");
  desktop.inhibitSuspend("Converting movies");
  desktop.inhibitSuspend("Converting movies");
  EXPECT_EQ(lineStartingWith("Portal.Inhibit"), "Portal.Inhibit |12|reason=Converting movies");
  test::waitUntil([] { return false; }, 200);
  desktop.release();
  EXPECT_EQ(lineStartingWith("Request.Close"), "Request.Close");
  EXPECT_EQ(calls.count("Portal.Inhibit"), 1) << "one inhibition per run";
  EXPECT_FALSE(calls.contains("ScreenSaver"));
}

TEST_F(DesktopTest, FallsBackToTheScreenSaver) {
  startPeer({"--no-portal"});
  DesktopSession desktop("org.tovix.Tovix");
  desktop.inhibitSuspend("Converting movies");
  EXPECT_EQ(lineStartingWith("ScreenSaver.Inhibit"), "ScreenSaver.Inhibit Tovix|Converting movies");
  desktop.release();
  EXPECT_EQ(lineStartingWith("ScreenSaver.UnInhibit"), "ScreenSaver.UnInhibit 77");
}

TEST_F(DesktopTest, AReleaseBeforeTheAnswerLetsGoOnceItComes) {
  startPeer();
  DesktopSession desktop("org.tovix.Tovix");
  desktop.inhibitSuspend("Converting movies");
  desktop.release();
  EXPECT_FALSE(lineStartingWith("Portal.Inhibit").isEmpty());
  EXPECT_EQ(lineStartingWith("Request.Close"), "Request.Close");
}

TEST_F(DesktopTest, ShowsTheRunsProgressOnTheTaskBarAndClearsIt) {
  startPeer();
  DesktopSession desktop("org.tovix.Tovix");
  desktop.setProgress(0.25);
  EXPECT_EQ(lineStartingWith("LauncherEntry"),
            "LauncherEntry application://org.tovix.Tovix.desktop|progress=0.25,progress-visible=true");
  calls.clear();
  desktop.setProgress(std::nullopt);
  EXPECT_EQ(lineStartingWith("LauncherEntry"),
            "LauncherEntry application://org.tovix.Tovix.desktop|progress=0,progress-visible=false");
}

TEST_F(DesktopTest, WithoutServicesNothingHappensAndNothingBreaks) {
  startPeer({"--no-notifications", "--no-portal", "--no-screensaver"});
  DesktopSession desktop("org.tovix.Tovix");
  desktop.notify("Conversion done", "1 export finished", std::nullopt);
  desktop.inhibitSuspend("Converting movies");
  test::waitUntil([] { return false; }, 300);
  desktop.release();
  desktop.inhibitSuspend("Converting movies");
  test::waitUntil([] { return false; }, 300);
  calls += QString::fromUtf8(peer.readAllStandardOutput());
  EXPECT_FALSE(calls.contains("Notify"));
  EXPECT_FALSE(calls.contains("Inhibit"));
}

TEST_F(DesktopTest, FollowsTheDesktopsColourScheme) {
  for (const auto& [setting, light] : {std::pair{"2", true}, std::pair{"1", false}, std::pair{"0", false}}) {
    startPeer({QString("--color-scheme=") + setting});
    EXPECT_EQ(desktop::prefersLightColors(), light) << setting;
    TearDown();
  }
  startPeer({"--no-portal"});
  EXPECT_FALSE(desktop::prefersLightColors()) << "no portal: the dark look";
  TearDown();

  // A change while running is heard; other settings and odd values are not.
  desktop::ColorSchemeWatcher watcher;
  std::vector<bool> heard;
  QObject::connect(&watcher, &desktop::ColorSchemeWatcher::preferenceChanged, [&](bool light) { heard.push_back(light); });
  startPeer({"--color-scheme=1", "--announce-scheme=2"});
  EXPECT_TRUE(test::waitUntil([&] { return !heard.empty(); }, 5000));
  test::waitUntil([] { return false; }, 300);
  EXPECT_EQ(heard, std::vector<bool>{true});
}
