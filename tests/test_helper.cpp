// TovixHelper as a real process on a private session bus: requests come from
// an independent peer (gdbus emit), answers are read with our own observer.
#include "BusTestSupport.h"
#include "app/runner/HelperSupervisor.h"
#include "TestSupport.h"
#include "media/Exporter.h"
#include "platform/BusName.h"
#include "protocol/Protocol.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <csignal>

using namespace tovix;
namespace p = tovix::protocol;

namespace {

QString helperPath() { return qEnvironmentVariable("TOVIX_BIN_DIR") + "/TovixHelper"; }

QVariantMap request(const QString& movie, const char* type) {
  return {{p::QUEUE_ENTRY_MOVIE_PATH_KEY, movie}, {p::EXPORT_TYPE_KEY, QString(type)}};
}

class HelperTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    clips = new QTemporaryDir;
    ASSERT_FALSE(test::makeClip(clips->path() + "/short.mov",
                                test::standardClipArguments(2) + QStringList{"-c:v", "mpeg4", "-c:a", "aac"}).isEmpty());
    ASSERT_FALSE(test::makeClip(clips->path() + "/long.avi",
                                {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=6",
                                 "-c:v", "mpeg4", "-q:v", "5"}).isEmpty());
  }
  static void TearDownTestSuite() { delete clips; }

  void SetUp() override {
    QDir().mkpath(home.dataFolder());
    QFile::copy(clips->path() + "/short.mov", movie("short.mov"));
    QFile::copy(clips->path() + "/long.avi", movie("long.avi"));
    startHelper();
  }
  void TearDown() override {
    if (helper.state() != QProcess::NotRunning) {
      helper.kill();
      helper.waitForFinished();
    }
    test::waitUntil([] { return !isBusNameOwned(kHelperBusName); });
  }

  void startHelper() {
    // Routine lines (requests, plans) reach standard error only when verbose.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TOVIX_VERBOSE", "1");
    // Pieces of a second: a clip of a few seconds is made in several.
    environment.insert("TOVIX_PIECE_SECONDS", "1");
    helper.setProcessEnvironment(environment);
    helper.start(helperPath(), {helperPath()});
    ASSERT_TRUE(helper.waitForStarted());
    ASSERT_TRUE(test::waitUntil([] { return isBusNameOwned(kHelperBusName); }));
  }
  QString movie(const QString& name) const { return home.path() + "/Movies " + name; }
  void post(const QVariantMap& dictionary) {
    ASSERT_EQ(test::gdbusEmit(p::kExportRequest, test::gvariantDictionary(dictionary)), 0);
  }
  bool helperEnded(int timeoutMs = 5000) {
    return test::waitUntil([this] { return helper.state() == QProcess::NotRunning; }, timeoutMs);
  }
  QString helperLog() { return QString::fromUtf8(helper.readAllStandardError()); }
  // Lets a little time pass so that anything wrongly posted would arrive.
  void settle() { test::waitUntil([] { return false; }, 400); }

  static QTemporaryDir* clips;
  test::TemporaryHome home;
  QProcess helper;
  test::NotificationRecorder recorder{{p::kExportProgress, p::kExportComplete, p::kExportError}};
};
QTemporaryDir* HelperTest::clips = nullptr;

}  // namespace

TEST_F(HelperTest, ConvertsToEveryTargetWithProgressOnTheBus) {
  const char* types[] = {p::QUEUE_ENTRY_IPHONE_KEY, p::QUEUE_ENTRY_IPOD_KEY, p::QUEUE_ENTRY_APPLETV_KEY, p::QUEUE_ENTRY_QT_KEY};
  for (const char* type : types) post(request(movie("short.mov"), type));
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 4, 60000));
  for (const char* suffix : {"_iPhone.m4v", "_iPod.m4v", "_ATV.m4v", "_QT.mov"}) {
    const QString output = home.path() + "/Movies short" + suffix;
    const QJsonObject probed = test::probe(output);
    EXPECT_FALSE(test::firstStream(probed, "video").isEmpty()) << suffix;
    EXPECT_EQ(test::firstStream(probed, "audio").value("codec_name").toString(), "aac") << suffix;
  }
  const auto completions = recorder.named(p::kExportComplete);
  const char* suffixes[] = {"_iPhone.m4v", "_iPod.m4v", "_ATV.m4v", "_QT.mov"};
  for (size_t i = 0; i < 4; ++i) {
    QVariantMap expected = request(movie("short.mov"), types[i]);
    expected.insert(p::EXPORT_RESULT_KEY, "Finished");
    expected.insert(p::EXPORT_OUTPUT_PATH_KEY, home.path() + "/Movies short" + suffixes[i]);
    EXPECT_EQ(*completions[i].userInfo, expected) << "the completion echoes the request in order";
  }
  double last = -1;
  for (const auto& progress : recorder.named(p::kExportProgress)) {
    const double fraction = progress.userInfo->value(p::EXPORT_PROGRESS_KEY).toDouble();
    EXPECT_GE(fraction, 0.0);
    EXPECT_LE(fraction, 1.0);
    if (fraction >= last) last = fraction;
  }
  EXPECT_GE(recorder.named(p::kExportProgress).size(), 8u);
  EXPECT_TRUE(recorder.named(p::kExportError).empty());
}

TEST_F(HelperTest, WritesIntoTheExportFolderWhenOneIsGiven) {
  const QString folder = home.path() + "/Exports";
  QDir().mkpath(folder);
  QVariantMap withFolder = request(movie("short.mov"), p::QUEUE_ENTRY_IPOD_KEY);
  withFolder.insert(p::EXPORT_DIRECTORY_KEY, folder);
  post(withFolder);
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 30000));
  EXPECT_TRUE(QFile::exists(folder + "/Movies short_iPod.m4v"));
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies short_iPod.m4v"));

  // A movie of the same name from another folder never replaces that file.
  QDir().mkpath(home.path() + "/B");
  QFile::copy(movie("short.mov"), home.path() + "/B/Movies short.mov");
  test::writeFile(folder + "/Movies short_iPod.m4v", "the user's own file");
  withFolder.insert(p::QUEUE_ENTRY_MOVIE_PATH_KEY, home.path() + "/B/Movies short.mov");
  post(withFolder);
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 2, 30000));
  const QVariantMap second = *recorder.named(p::kExportComplete)[1].userInfo;
  EXPECT_EQ(second.value(p::EXPORT_OUTPUT_PATH_KEY).toString(), folder + "/Movies short_iPod 2.m4v");
  EXPECT_TRUE(QFile::exists(folder + "/Movies short_iPod 2.m4v"));
  QFile kept(folder + "/Movies short_iPod.m4v");
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "the user's own file");
}

TEST_F(HelperTest, MalformedRequestsAreAnsweredWithAnError) {
  const QVariantMap noPath{{p::EXPORT_TYPE_KEY, QString(p::QUEUE_ENTRY_QT_KEY)}};
  post(noPath);
  ASSERT_TRUE(recorder.waitFor(p::kExportError, 1));
  EXPECT_EQ(recorder.named(p::kExportError)[0].userInfo, noPath);

  const QVariantMap badType = request(movie("short.mov"), "QUEUE_ENTRY_VHS_KEY");
  post(badType);
  ASSERT_TRUE(recorder.waitFor(p::kExportError, 2));
  EXPECT_EQ(recorder.named(p::kExportError)[1].userInfo, badType);

  ASSERT_EQ(test::gdbusEmit(p::kExportRequest, std::nullopt), 0);
  ASSERT_TRUE(recorder.waitFor(p::kExportError, 3));
  EXPECT_FALSE(recorder.named(p::kExportError)[2].userInfo.has_value());
  settle();
  EXPECT_TRUE(recorder.named(p::kExportComplete).empty());
  EXPECT_TRUE(recorder.named(p::kExportProgress).empty());
  EXPECT_EQ(helperLog().count("exportRequest:"), 2) << "a request without a dictionary is not logged";
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies short_QT.mov"));
}

// Any program on the bus may send a path of any size; a megabyte is refused
// at once, and the helper goes on serving.
TEST_F(HelperTest, APathLongerThanTheSystemTakesIsRefused) {
  const QVariantMap huge = request(home.path() + "/" + QString(1 << 20, u'x') + ".mov", p::QUEUE_ENTRY_IPOD_KEY);
  QDBusMessage signal = QDBusMessage::createSignal(NotificationCenter::kObjectPath, NotificationCenter::kInterface,
                                                   p::kExportRequest);
  signal << huge;
  ASSERT_TRUE(QDBusConnection::sessionBus().send(signal));
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1));
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_ERROR_TEXT_KEY),
            "the movie's path is longer than the system allows.");
  post(request(movie("short.mov"), p::QUEUE_ENTRY_IPOD_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 2));
  EXPECT_EQ(recorder.named(p::kExportComplete)[1].userInfo->value(p::EXPORT_RESULT_KEY), "Finished");
}

TEST_F(HelperTest, QuitFlagAtARequestEndsTheHelperSilently) {
  test::writeFile(p::quitFlagPath(), "");
  post(request(movie("short.mov"), p::QUEUE_ENTRY_IPHONE_KEY));
  ASSERT_TRUE(helperEnded());
  EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(helper.exitCode(), 1);
  EXPECT_FALSE(QFile::exists(p::quitFlagPath()));
  settle();
  EXPECT_TRUE(recorder.all().empty());
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies short_iPhone.m4v"));
}

TEST_F(HelperTest, StopFlagBeforeAnExportCancelsItWithoutProgress) {
  test::writeFile(p::stopFlagPath(), "");
  post(request(movie("short.mov"), p::QUEUE_ENTRY_IPHONE_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1));
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_RESULT_KEY), "Cancelled");
  EXPECT_TRUE(recorder.named(p::kExportProgress).empty());
  EXPECT_FALSE(QFile::exists(p::stopFlagPath()));
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies short_iPhone.m4v"));
  EXPECT_EQ(QDir(home.path()).entryList(QDir::Hidden | QDir::Files).filter(".part").size(), 0);
}

TEST_F(HelperTest, QuitAndStopFlagsMidExportCancelThenEndTheHelper) {
  post(request(movie("long.avi"), p::QUEUE_ENTRY_IPHONE_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2));
  post(request(movie("short.mov"), p::QUEUE_ENTRY_IPOD_KEY));  // waits behind the running export
  test::writeFile(p::quitFlagPath(), "");
  test::writeFile(p::stopFlagPath(), "");
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 5000)) << "cancelled within a fraction of a second";
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_RESULT_KEY), "Cancelled");
  EXPECT_FALSE(QFile::exists(p::quitFlagPath()));
  EXPECT_FALSE(QFile::exists(p::stopFlagPath()));
  ASSERT_TRUE(helperEnded(3000)) << "the quit timer ends the helper within 2 s";
  EXPECT_EQ(helper.exitCode(), 1);
  EXPECT_TRUE(helperLog().contains("checkQuit detected quit command."));
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies long_iPhone.m4v"));
  EXPECT_EQ(recorder.named(p::kExportComplete).size(), 1u) << "the waiting request was dropped";
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies short_iPod.m4v"));
}

TEST_F(HelperTest, AbortWhileIdleIsClearedByTheNextRequest) {
  ASSERT_EQ(test::gdbusEmit(p::kExportAbort, std::nullopt), 0);
  settle();
  post(request(movie("short.mov"), p::QUEUE_ENTRY_IPOD_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 30000));
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_RESULT_KEY), "Finished");
  EXPECT_FALSE(recorder.named(p::kExportProgress).empty());
}

TEST_F(HelperTest, AbortDuringAnExportCancelsIt) {
  post(request(movie("long.avi"), p::QUEUE_ENTRY_APPLETV_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2));
  ASSERT_EQ(test::gdbusEmit(p::kExportAbort, std::nullopt), 0);
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 5000));
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_RESULT_KEY), "Cancelled");
  EXPECT_EQ(helper.state(), QProcess::Running);

  // A dictionary of strings (a{ss}) is read like a{sv}: it gets its answer.
  ASSERT_EQ(test::gdbusEmit(p::kExportRequest, "@a{ss} {'QUEUE_ENTRY_MOVIE_PATH_KEY': '/no/such.mov', "
                                               "'EXPORT_TYPE_KEY': 'QUEUE_ENTRY_IPOD_KEY'}"),
            0);
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 2, 5000));
  const QVariantMap missing = *recorder.named(p::kExportComplete)[1].userInfo;
  EXPECT_EQ(missing.value(p::EXPORT_RESULT_KEY), "Failed");
  EXPECT_EQ(missing.value(p::EXPORT_ERROR_TEXT_KEY), "the movie file is missing.");
}

TEST_F(HelperTest, AFileThatIsNotAMovieFails) {
  test::writeFile(movie("fake.avi"), "text, not a movie");
  post(request(movie("fake.avi"), p::QUEUE_ENTRY_IPHONE_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1));
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_RESULT_KEY), "Failed");
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_ERROR_TEXT_KEY),
            "the movie file cannot be read as a movie.");
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies fake_iPhone.m4v"));
  EXPECT_TRUE(helperLog().contains("(cannot open"));
}

TEST_F(HelperTest, AHeldExportGoesOnWhenResumed) {
  post(request(movie("long.avi"), p::QUEUE_ENTRY_IPOD_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2));
  ::kill(pid_t(helper.processId()), SIGUSR1);
  settle();
  const size_t progressWhenHeld = recorder.named(p::kExportProgress).size();
  ::kill(pid_t(helper.processId()), SIGUSR2);
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, progressWhenHeld + 1)) << "Resume lets it go on";
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 30000));
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_RESULT_KEY), "Finished");
}

TEST_F(HelperTest, SigtermCancelsTheRunningExportAndRemovesItsFileEvenWhenHeld) {
  post(request(movie("long.avi"), p::QUEUE_ENTRY_IPHONE_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2));
  const QString partial = media::temporaryOutputPath(home.path() + "/Movies long_iPhone.m4v");
  // Held, the export posts no progress, yet still acts on SIGTERM.
  ::kill(pid_t(helper.processId()), SIGUSR1);
  settle();
  const size_t progressWhenHeld = recorder.named(p::kExportProgress).size();
  settle();
  EXPECT_EQ(recorder.named(p::kExportProgress).size(), progressWhenHeld) << "a held export does not go on";
  helper.terminate();
  ASSERT_TRUE(helperEnded(2000));
  EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit) << "ended by SIGTERM";
  EXPECT_FALSE(QFile::exists(partial));
  EXPECT_FALSE(QFile::exists(home.path() + "/Movies long_iPhone.m4v"));
}

TEST_F(HelperTest, AKilledExportGoesOnFromItsKeptPiecesNextTime) {
  const QVariantMap iPhone = request(movie("long.avi"), p::QUEUE_ENTRY_IPHONE_KEY);
  post(iPhone);
  const auto pastHalf = [this] {
    const auto progress = recorder.named(p::kExportProgress);
    return !progress.empty() && progress.back().userInfo->value(p::EXPORT_PROGRESS_KEY).toDouble() > 0.5;
  };
  ASSERT_TRUE(test::waitUntil(pastHalf, 30000));
  ::kill(pid_t(helper.processId()), SIGKILL);
  ASSERT_TRUE(helperEnded());
  ASSERT_TRUE(test::waitUntil([] { return !isBusNameOwned(kHelperBusName); }));
  startHelper();
  post(iPhone);
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 60000));
  const QVariantMap done = *recorder.named(p::kExportComplete)[0].userInfo;
  EXPECT_EQ(done.value(p::EXPORT_RESULT_KEY), "Finished");
  EXPECT_GT(done.value(p::EXPORT_RESUMED_FROM_KEY).toDouble(), 0.3) << "the finished pieces were kept";
  EXPECT_TRUE(helperLog().contains("resumed at"));
  // The whole movie: every frame, its length.
  const QJsonObject probed = test::probe(home.path() + "/Movies long_iPhone.m4v");
  EXPECT_EQ(test::firstStream(probed, "video").value("nb_frames").toString(), "180");
  EXPECT_NEAR(test::firstStream(probed, "video").value("duration").toString().toDouble(), 6.0, 0.05);
}

TEST_F(HelperTest, TovixTrustsOnlyTheHelperItStarted) {
  helper.kill();
  helper.waitForFinished();
  ASSERT_TRUE(test::waitUntil([] { return !isBusNameOwned(kHelperBusName); }));
  HelperSupervisor supervisor(helperPath());
  bool readySeen = false;
  QObject::connect(&supervisor, &HelperSupervisor::ready, [&readySeen] { readySeen = true; });
  // Another process, here this test, takes the helper's name.
  ASSERT_TRUE(claimBusName(kHelperBusName));
  settle();
  EXPECT_FALSE(readySeen);
  EXPECT_FALSE(supervisor.isReady());
  EXPECT_TRUE(supervisor.owner().isEmpty());
  QDBusConnection::sessionBus().interface()->unregisterService(kHelperBusName);
}

TEST_F(HelperTest, OnlyOneHelperServesTheSession) {
  QProcess second;
  second.start(helperPath(), {helperPath()});
  ASSERT_TRUE(second.waitForFinished(5000));
  EXPECT_EQ(second.exitCode(), 1);
  EXPECT_TRUE(second.readAllStandardError().contains("Another TovixHelper is running"));
}

TEST_F(HelperTest, EndsWhenTheProcessThatStartedItDiesEvenWhileHeld) {
  helper.kill();
  helper.waitForFinished();
  ASSERT_TRUE(test::waitUntil([] { return !isBusNameOwned(kHelperBusName); }));
  QProcess parent;
  parent.start("bash", {"-c", "\"$0\" \"$0\" 2>/dev/null & echo $!; sleep 60", helperPath()});
  ASSERT_TRUE(parent.waitForReadyRead(5000));
  const pid_t child = parent.readLine().trimmed().toInt();
  ASSERT_GT(child, 0);
  ASSERT_TRUE(test::waitUntil([] { return isBusNameOwned(kHelperBusName); }));
  post(request(movie("long.avi"), p::QUEUE_ENTRY_IPHONE_KEY));
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2));
  const QString partial = media::temporaryOutputPath(home.path() + "/Movies long_iPhone.m4v");
  ::kill(child, SIGUSR1);
  parent.kill();
  parent.waitForFinished();
  EXPECT_TRUE(test::waitUntil([child] { return kill(child, 0) != 0; }, 3000)) << "no orphan helper";
  EXPECT_FALSE(QFile::exists(partial));
}

TEST(HelperWithoutBus, LogsOneLineAndExits) {
  test::TemporaryHome home;
  QProcess helper;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  helper.setProcessEnvironment(environment);
  helper.start(helperPath(), {helperPath()});
  ASSERT_TRUE(helper.waitForFinished(5000));
  EXPECT_EQ(helper.exitCode(), 1);
  const QString log = QString::fromUtf8(helper.readAllStandardError()).trimmed();
  EXPECT_EQ(log.count('\n'), 0) << log.toStdString();
  EXPECT_TRUE(log.contains("No session bus"));
}
