// The update check against a loopback server, the disc image download, and
// the factory reset with its alert answered here.
#include "AppTestSupport.h"
#include "BusTestSupport.h"
#include "HttpTestServer.h"
#include "app/update/SoftwareUpdater.h"
#include "ui_SoftwareUpdate.h"
#include "ui_UpdatePrefs.h"

#include "platform/Paths.h"
#include "platform/SystemLog.h"

#include <gtest/gtest.h>

#include <QKeyEvent>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <unistd.h>

using namespace tovix;

namespace {

QByteArray versionList(const QString& major, const QString& minor, const QString& build, const char* type = "integer") {
  return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                        "<key>Major Version</key><%4>%1</%4><key>Minor Version</key><%4>%2</%4>"
                        "<key>Build Version</key><%4>%3</%4></dict></plist>")
      .arg(major, minor, build, QLatin1String(type))
      .toUtf8();
}

// Captures what the process writes to standard error while it lives.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()), saved_(dup(2)) { dup2(fileno(file_), 2); }
  ~StderrCapture() {
    dup2(saved_, 2);
    close(saved_);
    std::fclose(file_);
  }
  QByteArray text() {
    std::fflush(stderr);
    std::rewind(file_);
    QByteArray all;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, file_)) all.append(buffer, qsizetype(n));
    return all;
  }

 private:
  std::FILE* file_;
  int saved_;
};

class UpdateTest : public testing::Test {
 protected:
  std::unique_ptr<SoftwareUpdater> checkManually() {
    auto updater = std::make_unique<SoftwareUpdater>(prefs, &mainWindow, server.baseAddress());
    auto done = watch(*updater);
    updater->initManual();
    EXPECT_TRUE(test::waitUntil([&] { return *done; }));
    return updater;
  }
  // A flag that turns true when the updater's check has finished.
  static std::shared_ptr<bool> watch(SoftwareUpdater& updater) {
    auto done = std::make_shared<bool>(false);
    QObject::connect(&updater, &SoftwareUpdater::checkFinished, [done] { *done = true; });
    return done;
  }
  QString message(const SoftwareUpdater& updater) { return updater.ui().updateMsg->text(); }

  test::TemporaryHome home;
  Preferences prefs;
  QWidget mainWindow;
  test::HttpTestServer server;
};

}  // namespace

TEST(VersionList, ReadsIntegersAndLeadingDigitsOfStrings) {
  EXPECT_EQ(versionNumberValue(QVariant(qlonglong(95))), 95);
  EXPECT_EQ(versionNumberValue(QString("95")), 95);
  EXPECT_EQ(versionNumberValue(QString("  -7 beta")), -7);
  EXPECT_EQ(versionNumberValue(QString("+3x")), 3);
  EXPECT_EQ(versionNumberValue(QString("beta 2")), 0);
  EXPECT_EQ(versionNumberValue(QString("99999999999")), INT_MAX);
  EXPECT_EQ(versionNumberValue(QVariant(true)), 0);
  EXPECT_EQ(versionNumberValue(QVariant()), 0);
  EXPECT_EQ(parseVersionList(versionList("2", "0", "1", "string")), (VersionNumbers{2, 0, 1}));
  EXPECT_EQ(parseVersionList("<plist><array/></plist>"), VersionNumbers{});
  EXPECT_EQ(parseVersionList("garbage"), VersionNumbers{});
}

TEST_F(UpdateTest, ComparesVersionsInOrderOfSignificance) {
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {"1", "95", "32", false}, {"1", "95", "33", true}, {"1", "96", "0", true},
      {"2", "0", "0", true},    {"1", "94", "40", false}, {"0", "99", "99", false}};
  for (const auto& [major, minor, build, newer] : cases) {
    for (const char* type : {"integer", "string"}) {
      server.answers["/tovix/TovixVersion.xml"] = {200, versionList(major, minor, build, type)};
      auto updater = checkManually();
      const QString expected = newer ? "A new version of Tovix is available." : "You have the latest version of Tovix.";
      EXPECT_EQ(message(*updater), expected) << major << "." << minor << "." << build << " " << type;
      // Buttons that could not act are not shown.
      EXPECT_EQ(updater->ui().softwareUpdateDownloadButton->isVisible(), newer);
      EXPECT_EQ(updater->ui().softwareUpdateVisitOrvaneButton->isVisible(), newer);
      EXPECT_TRUE(updater->softwareUpdatePanel()->isVisible());
    }
  }
}

TEST_F(UpdateTest, ACheckThatCouldNotCheckSaysSoAndOffersToTryAgain) {
  const auto failed = [](const SoftwareUpdater& updater) { return updater.ui().tryAgainButton->isVisibleTo(updater.softwareUpdatePanel()); };
  server.answers["/tovix/TovixVersion.xml"] = {200, "<plist><dict><key>Major Version</key><integer>9"};
  auto updater = checkManually();
  EXPECT_EQ(message(*updater), "Tovix could not check for updates: the server's version list cannot be read.");
  EXPECT_TRUE(failed(*updater));
  server.answers["/tovix/TovixVersion.xml"] = {200, versionList("9", "0", "0") + QByteArray(100 * 1024, ' ')};
  updater = checkManually();
  EXPECT_EQ(updater->latestVersion(), VersionNumbers{}) << "an enormous answer is refused";
  EXPECT_EQ(message(*updater), "Tovix could not check for updates: the server's answer is far too large.");
  server.answers["/tovix/TovixVersion.xml"] = {500, versionList("9", "0", "0")};
  EXPECT_EQ(message(*checkManually()), "Tovix could not check for updates: the server answered with status 500.");
  server.answers["/tovix/TovixVersion.xml"] = {200, versionList("1", "95", "32")};
  auto done = watch(*updater);
  updater->ui().tryAgainButton->click();
  ASSERT_TRUE(test::waitUntil([&] { return *done; }));
  EXPECT_EQ(message(*updater), "You have the latest version of Tovix.");
  EXPECT_FALSE(failed(*updater));
  server.close();  // no network at all
  EXPECT_TRUE(message(*checkManually()).startsWith("Tovix could not check for updates: the server could not be reached"));
}

TEST_F(UpdateTest, OverlappingChecksKeepTheirNumbersApart) {
  server.answers["/tovix/TovixVersion.xml"] = {200, versionList("2", "0", "0"), -1, 300};
  auto slow = std::make_unique<SoftwareUpdater>(prefs, &mainWindow, server.baseAddress());
  auto slowDone = watch(*slow);
  slow->initManual();
  test::HttpTestServer other;
  other.answers["/tovix/TovixVersion.xml"] = {200, versionList("1", "95", "32")};
  auto fast = std::make_unique<SoftwareUpdater>(prefs, &mainWindow, other.baseAddress());
  auto fastDone = watch(*fast);
  fast->initManual();
  ASSERT_TRUE(test::waitUntil([&] { return *slowDone && *fastDone; }));
  EXPECT_EQ(slow->latestVersion(), (VersionNumbers{2, 0, 0}));
  EXPECT_EQ(fast->latestVersion(), (VersionNumbers{1, 95, 32}));
}

TEST_F(UpdateTest, AutomaticCheckIsSilentWhenOffOrUpToDate) {
  server.answers["/tovix/TovixVersion.xml"] = {200, versionList("1", "95", "32")};
  {
    StderrCapture log;
    setVerboseLog(true);  // routine lines reach standard error only when verbose
    SoftwareUpdater updater(prefs, &mainWindow, server.baseAddress());
    auto done = watch(updater);
    updater.init();
    ASSERT_TRUE(test::waitUntil([&] { return *done; }));
    setVerboseLog(false);
    EXPECT_FALSE(updater.softwareUpdatePanel()->isVisible());
    EXPECT_TRUE(log.text().contains("Starting software update check for Tovix."));
    EXPECT_TRUE(log.text().contains("Finished software update check for Tovix."));
  }
  prefs.setBool(Preferences::SoftwareUpdateCheck, false);
  StderrCapture log;
  SoftwareUpdater updater(prefs, &mainWindow, server.baseAddress());
  auto done = watch(updater);
  server.requestedPaths.clear();
  updater.init();
  test::waitUntil([] { return false; }, 500);
  EXPECT_FALSE(*done);
  EXPECT_TRUE(server.requestedPaths.isEmpty());
  EXPECT_TRUE(log.text().isEmpty()) << log.text().toStdString();
}

TEST_F(UpdateTest, DownloadsTheDiscImageWithoutBlockingAndNeverLeavesAPartialFile) {
  const QByteArray image(300 * 1024, 'd');
  server.answers["/tovix/TovixVersion.xml"] = {200, versionList("2", "0", "0")};
  server.answers["/Download/Tovix.dmg"] = {200, image, -1, 300};
  auto updater = checkManually();
  bool written = false, ended = false;
  QObject::connect(updater.get(), &SoftwareUpdater::downloadFinished, [&](bool ok) { written = ok; ended = true; });
  updater->ui().softwareUpdateDownloadButton->click();
  EXPECT_FALSE(ended) << "the download runs while the window keeps answering";
  EXPECT_FALSE(updater->ui().softwareUpdateDownloadButton->isEnabled());
  EXPECT_TRUE(updater->ui().updateProgress->isVisible());
  ASSERT_TRUE(test::waitUntil([&] { return ended; }));
  EXPECT_TRUE(written);
  EXPECT_FALSE(updater->ui().updateProgress->isVisible());
  EXPECT_EQ(message(*updater), "A disc image containing the new version of Tovix has been downloaded to your desktop.");
  QFile dmg(home.path() + "/Desktop/Tovix.dmg");
  ASSERT_TRUE(dmg.open(QIODevice::ReadOnly));
  EXPECT_EQ(dmg.readAll(), image);

  // A download cut off half way leaves the desktop as it was.
  dmg.close();
  QFile::remove(dmg.fileName());
  server.answers["/Download/Tovix.dmg"] = {200, QByteArray(1000, 'x'), 500000};
  auto second = checkManually();
  ended = false;
  QObject::connect(second.get(), &SoftwareUpdater::downloadFinished, [&](bool ok) { written = ok; ended = true; });
  second->ui().softwareUpdateDownloadButton->click();
  ASSERT_TRUE(test::waitUntil([&] { return ended; }));
  EXPECT_FALSE(written);
  EXPECT_EQ(QDir(home.path() + "/Desktop").entryList(QDir::Files | QDir::Hidden), QStringList());
  EXPECT_EQ(message(*second), "The new version could not be downloaded. Please try again later.");
  EXPECT_TRUE(second->ui().softwareUpdateDownloadButton->isEnabled()) << "Download can be tried again";
}

TEST_F(UpdateTest, ProductPageAndClosing) {
  server.answers["/tovix/TovixVersion.xml"] = {200, versionList("1", "96", "0")};
  auto updater = checkManually();
  QString opened;
  updater->openWebAddress = [&](const QString& url) { opened = url; return true; };
  updater->ui().softwareUpdateVisitOrvaneButton->click();
  EXPECT_EQ(opened, server.baseAddress() + "/tovix/");
  EXPECT_TRUE(updater->softwareUpdatePanel()->isVisible());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(updater->ui().closeButton, &escape);
  EXPECT_FALSE(updater->softwareUpdatePanel()->isVisible()) << "Escape closes it";
  EXPECT_EQ(message(*updater), " ");
}

TEST(CheckForUpdates, TheCommandRunsAManualCheckWithAPanelOfItsOwn) {
  test::ControllerHarness h;
  test::HttpTestServer server;
  server.answers["/tovix/TovixVersion.xml"] = {200, versionList("1", "95", "32")};
  h.controller->setUpdateBaseAddress(server.baseAddress());
  h.controller->updatePrefs().checkNowButton->click();
  SoftwareUpdater* updater = h.controller->lastUpdater();
  ASSERT_NE(updater, nullptr);
  EXPECT_TRUE(updater->runningManual());
  ASSERT_TRUE(test::waitUntil([&] { return updater->softwareUpdatePanel()->isVisible(); }));
  EXPECT_EQ(updater->ui().updateMsg->text(), "You have the latest version of Tovix.");
  h.controller->checkSoftwareUpdate();
  EXPECT_EQ(h.controller->lastUpdater(), updater) << "repeated checks answer in one panel";
}

TEST(FactoryReset, CancelLeavesEverythingInPlace) {
  test::ControllerHarness h;
  h.add("/a.mov", {protocol::Target::iPod});
  h.controller->qLog()->write(logEntry(QDateTime::currentDateTime(), "/a.mov", "Export finished."));
  int ended = -1;
  h.controller->endProcess = [&](int status) { ended = status; };
  h.dialogs->alertAnswer = 1;
  h.controller->factoryReset();
  EXPECT_EQ(ended, -1);
  EXPECT_EQ(h.controller->q()->count(), 1);
  EXPECT_EQ(h.controller->qLog()->count(), 1);
  EXPECT_TRUE(QFile::exists(h.controller->prefs().fileName()));
  EXPECT_TRUE(QFile::exists(h.home.dataFolder() + "/Queue/Queue.xml"));
  EXPECT_EQ(h.helper->terminations, 0);
}

TEST(FactoryReset, ConfirmedResetRemovesEverythingAndTheNextStartIsAFirstStart) {
  test::ControllerHarness h;
  h.add("/a.mov", {protocol::Target::iPod});
  h.controller->prefs().setBool(Preferences::SoftwareUpdateCheck, false);
  h.controller->startQ();
  // Work an interrupted export kept goes too; the rest of the cache stays.
  QDir().mkpath(paths::keptWorkRoot() + "/tovix-work-0000000000000000000000000000000000000000");
  QDir().mkpath(h.home.path() + "/.cache/other-program");
  int ended = -1;
  h.controller->endProcess = [&](int status) { ended = status; };
  h.dialogs->alertAnswer = 0;
  h.controller->factoryReset();
  EXPECT_FALSE(QFileInfo::exists(paths::keptWorkRoot()));
  EXPECT_TRUE(QFileInfo::exists(h.home.path() + "/.cache/other-program"));
  ASSERT_EQ(h.dialogs->alerts.size(), 1u);
  EXPECT_EQ(h.dialogs->alerts[0].messageText,
            "The queue and the log will be cleared, your Tovix preferences will be reset, other data saved by Tovix "
            "will be deleted and the application will exit.");
  EXPECT_EQ(h.dialogs->alerts[0].firstButton, "OK");
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(h.helper->terminations, 1);
  EXPECT_EQ(h.center.posted.back().first, protocol::kExportAbort);
  EXPECT_FALSE(QFile::exists(h.home.dataFolder()));
  EXPECT_FALSE(QFile::exists(h.controller->prefs().fileName()));
  EXPECT_TRUE(QDir(h.home.path()).exists()) << "never the home folder itself";

  h.controller.reset();
  test::FakeCenter center;
  Controller next(center, std::make_unique<test::FakeHelper>());
  next.init();
  ASSERT_TRUE(next.awakeFromNib());
  EXPECT_EQ(next.q()->count(), 0);
  EXPECT_EQ(next.qLog()->count(), 0);
  EXPECT_TRUE(next.prefs().boolForKey(Preferences::iPhoneExportSwitch));
  EXPECT_FALSE(next.prefs().boolForKey(Preferences::iPodExportSwitch));
  EXPECT_TRUE(next.prefs().boolForKey(Preferences::AppleTVExportSwitch));
  EXPECT_FALSE(next.prefs().boolForKey(Preferences::QTExportSwitch));
  EXPECT_TRUE(next.prefs().softwareUpdateCheck());
}
