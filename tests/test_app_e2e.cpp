// The real Tovix (offscreen) and the real TovixHelper on a private session
// bus, in a temporary home, converting queues from end to end.
#include "BusTestSupport.h"
#include "TestSupport.h"
#include "app/store/QueueLog.h"
#include "media/Exporter.h"
#include "platform/BusName.h"
#include "platform/PropertyList.h"
#include "protocol/Protocol.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <csignal>

using namespace tovix;
namespace p = tovix::protocol;

namespace {

QString bin(const QString& name) { return qEnvironmentVariable("TOVIX_BIN_DIR") + "/" + name; }

QVariantMap entry(const QString& path, std::initializer_list<const char*> on) {
  QVariantMap e{{p::QUEUE_ENTRY_MOVIE_PATH_KEY, path},
                {p::QUEUE_ENTRY_DISPLAY_KEY, QFileInfo(path).fileName()},
                {p::QUEUE_ENTRY_STATUS_KEY, "Queued"}};
  for (const auto& t : p::kTargets)
    e.insert(t.typeKey, std::find_if(on.begin(), on.end(), [&](const char* k) { return QString(k) == t.typeKey; }) != on.end() ? "On" : "Off");
  return e;
}

pid_t busNameOwnerPid(const QString& name) {
  QByteArray out;
  test::runProgram("gdbus", {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                             "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID", name},
                   &out);
  const QByteArray digits = out.mid(out.indexOf("uint32 ") + 7);
  return digits.left(digits.indexOf(',')).toInt();
}

// A process that has ended, or is only waiting to be reaped, is gone.
bool processGone(pid_t pid, int timeoutMs = 5000) {
  return test::waitUntil([pid] {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray fields = stat.readAll();
    return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";
  }, timeoutMs);
}

class AppTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    clips = new QTemporaryDir;
    ASSERT_FALSE(test::makeClip(clips->path() + "/short.mov",
                                test::standardClipArguments(2) + QStringList{"-c:v", "mpeg4", "-c:a", "aac"}).isEmpty());
    ASSERT_FALSE(test::makeClip(clips->path() + "/tone.wav",
                                {"-f", "lavfi", "-i", "sine=frequency=500:sample_rate=44100:duration=2"}).isEmpty());
    ASSERT_FALSE(test::makeClip(clips->path() + "/long.avi",
                                {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=8", "-c:v", "mpeg4", "-q:v", "5"}).isEmpty());
  }
  static void TearDownTestSuite() { delete clips; }

  void SetUp() override {
    movies = home.path() + "/My Movies";
    QDir().mkpath(movies);
    for (const char* name : {"short.mov", "tone.wav", "long.avi"}) QFile::copy(clips->path() + "/" + name, movies + "/" + name);
  }
  void TearDown() override {
    for (QProcess* process : {&tovix, &second}) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
      }
    }
    test::waitUntil([] { return !isBusNameOwned(kHelperBusName) && !isBusNameOwned(kApplicationBusName); });
  }

  void seedQueue(const QVariantList& entries) {
    QDir().mkpath(home.dataFolder() + "/Queue");
    ASSERT_TRUE(plist::writeXmlFile(home.dataFolder() + "/Queue/Queue.xml", entries));
  }
  void startTovix(const QStringList& arguments = {}, QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel) {
    tovix.setProcessChannelMode(channels);
    tovix.start(bin("Tovix"), arguments);
    ASSERT_TRUE(tovix.waitForStarted());
    ASSERT_TRUE(test::waitUntil([] { return isBusNameOwned(kApplicationBusName) && isBusNameOwned(kHelperBusName); }));
  }
  void call(const char* method) {
    ASSERT_EQ(test::runProgram("gdbus", {"call", "--session", "--dest", kApplicationBusName, "--object-path",
                                         "/org/tovix/Application", "--method", QString("org.tovix.Application.") + method}),
              0);
  }
  QVariantList storedQueue() { return plist::readFile(home.dataFolder() + "/Queue/Queue.xml").value.toList(); }
  QString flagOf(int row, const char* key) { return storedQueue().value(row).toMap().value(key).toString(); }
  QStringList storedLogActions() {
    QStringList actions;
    for (const QVariant& e : plist::readFile(home.dataFolder() + "/Log/Log.xml").value.toList())
      actions << e.toMap().value(LOG_ENTRY_ACTION_KEY).toString();
    return actions;
  }
  bool tovixEnded(int timeoutMs = 8000) {
    return test::waitUntil([this] { return tovix.state() == QProcess::NotRunning; }, timeoutMs);
  }

  static QTemporaryDir* clips;
  test::TemporaryHome home;
  QString movies;
  QProcess tovix;
  QProcess second;
  test::NotificationRecorder recorder{{p::kExportRequest, p::kExportProgress, p::kExportComplete}};
};
QTemporaryDir* AppTest::clips = nullptr;

}  // namespace

TEST_F(AppTest, ConvertsAQueueOfTwoClipsWithSeveralTargets) {
  seedQueue({entry(movies + "/short.mov", {p::QUEUE_ENTRY_IPHONE_KEY, p::QUEUE_ENTRY_QT_KEY}),
             entry(movies + "/tone.wav", {p::QUEUE_ENTRY_IPOD_KEY, p::QUEUE_ENTRY_APPLETV_KEY})});
  startTovix({}, QProcess::SeparateChannels);
  QElapsedTimer clock;
  clock.start();
  call("StartQueue");
  ASSERT_TRUE(recorder.waitFor(p::kExportRequest, 1, 5000));
  const qint64 firstRequestMs = clock.elapsed();
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 4, 90000));
  ASSERT_TRUE(test::waitUntil([this] { return storedLogActions().size() == 8; }));
  std::printf("[measure] StartQueue call to first request on the bus: %lld ms\n", firstRequestMs);

  EXPECT_EQ(storedLogActions(), QStringList({"Starting iPhone export ...", "Export finished.",
                                             "Starting QuickTime export ...", "Export finished.",
                                             "Starting iPod export ...", "Export finished.",
                                             "Starting Apple TV export ...", "Export finished."}));
  EXPECT_EQ(flagOf(0, p::QUEUE_ENTRY_STATUS_KEY), "Complete");
  EXPECT_EQ(flagOf(0, p::QUEUE_ENTRY_IPOD_KEY), "OffDone");
  EXPECT_EQ(flagOf(0, p::QUEUE_ENTRY_QT_KEY), "OnDone");
  EXPECT_EQ(flagOf(1, p::QUEUE_ENTRY_STATUS_KEY), "Complete");
  EXPECT_EQ(flagOf(1, p::QUEUE_ENTRY_IPHONE_KEY), "OffDone");
  for (const char* output : {"/short_iPhone.m4v", "/short_QT.mov", "/tone_iPod.m4v", "/tone_ATV.m4v"}) {
    const QJsonObject probed = test::probe(movies + output);
    EXPECT_EQ(test::firstStream(probed, "audio").value("codec_name").toString(), "aac") << output;
  }
  EXPECT_TRUE(test::firstStream(test::probe(movies + "/tone_iPod.m4v"), "video").isEmpty());
  EXPECT_FALSE(recorder.named(p::kExportProgress).empty());
  // Standard error is kept for problems: no routine lines, no media library chatter.
  EXPECT_EQ(tovix.readAllStandardError().toStdString(), "");
}

TEST_F(AppTest, StopInMidExportCancelsAtOnceAndALaterStartExportsAgain) {
  seedQueue({entry(movies + "/long.avi", {p::QUEUE_ENTRY_IPHONE_KEY})});
  startTovix();
  call("StartQueue");
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2, 10000));
  QElapsedTimer clock;
  clock.start();
  call("StopQueue");
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 5000));
  EXPECT_LT(clock.elapsed(), 1000) << "cancelled within a second";
  EXPECT_EQ(recorder.named(p::kExportComplete)[0].userInfo->value(p::EXPORT_RESULT_KEY), "Cancelled");
  const QString output = movies + "/long_iPhone.m4v";
  EXPECT_FALSE(QFile::exists(output));
  EXPECT_FALSE(QFile::exists(media::temporaryOutputPath(output)));
  ASSERT_TRUE(test::waitUntil([this] { return storedLogActions().size() == 2; }));
  EXPECT_EQ(flagOf(0, p::QUEUE_ENTRY_IPHONE_KEY), "On");
  EXPECT_EQ(storedLogActions().last(), "Export cancelled.");
  test::waitUntil([] { return false; }, 300);
  EXPECT_EQ(recorder.named(p::kExportRequest).size(), 1u) << "no request after a stop";

  call("StartQueue");
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 2, 60000));
  EXPECT_EQ(recorder.named(p::kExportComplete)[1].userInfo->value(p::EXPORT_RESULT_KEY), "Finished");
  EXPECT_TRUE(QFile::exists(output));
}

TEST_F(AppTest, KillingTheHelperMidExportFailsThatExportAndTheRunGoesOn) {
  seedQueue({entry(movies + "/long.avi", {p::QUEUE_ENTRY_IPHONE_KEY}),
             entry(movies + "/short.mov", {p::QUEUE_ENTRY_IPOD_KEY})});
  startTovix();
  call("StartQueue");
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2, 10000));
  const pid_t helper = busNameOwnerPid(kHelperBusName);
  ASSERT_GT(helper, 0);
  kill(helper, SIGKILL);
  ASSERT_TRUE(recorder.waitFor(p::kExportComplete, 1, 30000));
  ASSERT_TRUE(test::waitUntil([this] { return storedLogActions().size() == 4; }, 10000));
  EXPECT_EQ(storedLogActions(), QStringList({"Starting iPhone export ...",
                                             "Export failed: the converter TovixHelper stopped during the export.",
                                             "Starting iPod export ...", "Export finished."}));
  EXPECT_FALSE(QFile::exists(media::temporaryOutputPath(movies + "/long_iPhone.m4v")))
      << "the killed helper's temporary file is removed";
  EXPECT_EQ(flagOf(0, p::QUEUE_ENTRY_STATUS_KEY), "Failed");
  EXPECT_EQ(flagOf(1, p::QUEUE_ENTRY_STATUS_KEY), "Complete");
  EXPECT_TRUE(QFile::exists(movies + "/short_iPod.m4v"));
  EXPECT_NE(busNameOwnerPid(kHelperBusName), helper) << "a new helper serves the session";
}

TEST_F(AppTest, ClosingEndsBothProcessesAndWritesTheQuitFlagOnlyAfterAStart) {
  QDir().mkpath(home.dataFolder());
  test::writeFile(p::stopFlagPath(), "");
  test::writeFile(p::quitFlagPath(), "");
  startTovix();
  EXPECT_FALSE(QFile::exists(p::stopFlagPath())) << "stale flags are gone after start-up";
  EXPECT_FALSE(QFile::exists(p::quitFlagPath()));
  pid_t helper = busNameOwnerPid(kHelperBusName);
  tovix.terminate();
  ASSERT_TRUE(tovixEnded());
  EXPECT_EQ(tovix.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(tovix.exitCode(), 0);
  EXPECT_TRUE(processGone(helper));
  EXPECT_FALSE(QFile::exists(p::quitFlagPath()));

  startTovix();
  helper = busNameOwnerPid(kHelperBusName);
  call("StartQueue");  // nothing to do: the run ends at once, with no completion
  tovix.terminate();
  ASSERT_TRUE(tovixEnded());
  EXPECT_EQ(tovix.exitCode(), 0);
  EXPECT_TRUE(processGone(helper));
  EXPECT_TRUE(QFile::exists(p::quitFlagPath()));
}

TEST_F(AppTest, StartUpMovesTheOlderDataFolder) {
  const QString legacy = home.path() + "/Library/Application Support/Tovix";
  QDir().mkpath(legacy + "/Queue");
  ASSERT_TRUE(plist::writeXmlFile(legacy + "/Queue/Queue.xml", QVariantList{entry(movies + "/short.mov", {})}));
  startTovix();
  EXPECT_EQ(storedQueue().size(), 1);
  EXPECT_FALSE(QFileInfo::exists(legacy));
}

TEST_F(AppTest, ASecondStartLeavesOneTovixAndOneHelper) {
  startTovix();
  const pid_t app = busNameOwnerPid(kApplicationBusName);
  const pid_t helper = busNameOwnerPid(kHelperBusName);
  second.start(bin("Tovix"), {});
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(busNameOwnerPid(kApplicationBusName), app);
  EXPECT_EQ(busNameOwnerPid(kHelperBusName), helper);
  EXPECT_EQ(tovix.state(), QProcess::Running);

  // Started while the first one closes, the second one runs once it is gone.
  tovix.terminate();
  second.start(bin("Tovix"), {});
  ASSERT_TRUE(second.waitForStarted());
  ASSERT_TRUE(tovixEnded());
  EXPECT_TRUE(test::waitUntil([this] { return busNameOwnerPid(kApplicationBusName) == second.processId(); }, 15000));
  EXPECT_TRUE(test::waitUntil([] { return isBusNameOwned(kHelperBusName); }, 10000));
  EXPECT_EQ(second.state(), QProcess::Running);
}

TEST_F(AppTest, FilesFromTheCommandLineAreQueuedByTheRunningTovix) {
  QProcess help;
  help.start(bin("Tovix"), {"--help"});
  ASSERT_TRUE(help.waitForFinished(5000));
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_TRUE(help.readAllStandardOutput().startsWith("Usage: tovix [FILE...]"));
  EXPECT_FALSE(QFileInfo::exists(home.dataFolder())) << "--help touches no queue";

  startTovix({movies + "/short.mov"});
  ASSERT_TRUE(test::waitUntil([this] { return storedQueue().size() == 1; }));
  second.setWorkingDirectory(movies);
  test::writeFile(movies + "/notes.mp4", "text, not a movie");
  second.start(bin("Tovix"), {"tone.wav", "notes.mp4", "long.avi"});
  ASSERT_TRUE(second.waitForFinished(5000)) << "a hand-over waits for no file's testing";
  EXPECT_EQ(second.exitCode(), 0) << "a refused file is the window's business, not a failed hand-over";
  ASSERT_TRUE(test::waitUntil([this] { return storedQueue().size() == 3; }));
  EXPECT_EQ(flagOf(1, p::QUEUE_ENTRY_MOVIE_PATH_KEY), movies + "/long.avi") << "sorted by name, made absolute";
  EXPECT_EQ(flagOf(2, p::QUEUE_ENTRY_MOVIE_PATH_KEY), movies + "/tone.wav");

  // Over the bus, a relative path is the caller's: here gdbus's folder.
  EXPECT_EQ(test::runProgram("bash", {"-c", QString("cd \"$0\" && gdbus call --session --dest %1 --object-path "
                                                    "/org/tovix/Application --method org.tovix.Application.OpenFiles "
                                                    "\"['short.mov']\"").arg(kApplicationBusName), movies}),
            0);
  ASSERT_TRUE(test::waitUntil([this] { return storedQueue().size() == 4; }));
  EXPECT_EQ(flagOf(3, p::QUEUE_ENTRY_MOVIE_PATH_KEY), movies + "/short.mov");
}

TEST_F(AppTest, KillingTovixMidExportLeavesNoHelper) {
  seedQueue({entry(movies + "/long.avi", {p::QUEUE_ENTRY_APPLETV_KEY})});
  startTovix();
  const pid_t helper = busNameOwnerPid(kHelperBusName);
  call("StartQueue");
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2, 10000));
  tovix.kill();
  tovix.waitForFinished();
  EXPECT_TRUE(processGone(helper, 3000));
  EXPECT_FALSE(QFile::exists(media::temporaryOutputPath(movies + "/long_ATV.m4v")));
}

TEST_F(AppTest, AHelperLeftBehindIsEndedAndTovixConverts) {
  // A helper whose Tovix is gone, held in mid-export as a killed Tovix of an
  // older version left it, still holding the helper's name.
  QProcess parent;
  parent.start("bash", {"-c", "\"$0\" \"$0\" 2>/dev/null & echo $!; sleep 60", bin("TovixHelper")});
  ASSERT_TRUE(parent.waitForReadyRead(5000));
  const pid_t stray = parent.readLine().trimmed().toInt();
  ASSERT_TRUE(test::waitUntil([] { return isBusNameOwned(kHelperBusName); }));
  // Two minutes of sound: its file is written from the start to the end.
  ASSERT_FALSE(test::makeClip(movies + "/speech.wav", {"-f", "lavfi", "-i", "sine=duration=120"}).isEmpty());
  ASSERT_EQ(test::gdbusEmit(p::kExportRequest, test::gvariantDictionary({{p::QUEUE_ENTRY_MOVIE_PATH_KEY, movies + "/speech.wav"},
                                                                         {p::EXPORT_TYPE_KEY, p::QUEUE_ENTRY_IPHONE_KEY}})),
            0);
  ASSERT_TRUE(recorder.waitFor(p::kExportProgress, 2, 10000));
  const QString partial = media::temporaryOutputPath(movies + "/speech_iPhone.m4v");
  ASSERT_TRUE(QFile::exists(partial));
  kill(stray, SIGSTOP);

  seedQueue({entry(movies + "/short.mov", {p::QUEUE_ENTRY_IPOD_KEY})});
  startTovix();
  EXPECT_TRUE(processGone(stray));
  EXPECT_FALSE(QFile::exists(partial)) << "its temporary file is removed";
  ASSERT_TRUE(test::waitUntil([stray] { return isBusNameOwned(kHelperBusName) && busNameOwnerPid(kHelperBusName) != stray; }, 10000));
  call("StartQueue");
  EXPECT_TRUE(test::waitUntil([this] { return flagOf(0, p::QUEUE_ENTRY_IPOD_KEY) == "OnDone"; }, 30000));
  EXPECT_TRUE(QFile::exists(movies + "/short_iPod.m4v"));
  parent.kill();
  parent.waitForFinished();
}

TEST(TovixWithoutBus, LogsOneLineAndExits) {
  test::TemporaryHome home;
  QProcess tovix;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  tovix.setProcessEnvironment(environment);
  tovix.start(bin("Tovix"), {});
  ASSERT_TRUE(tovix.waitForFinished(10000));
  EXPECT_EQ(tovix.exitCode(), 1);
  const QStringList lines = QString::fromUtf8(tovix.readAllStandardError()).split('\n', Qt::SkipEmptyParts).filter("Tovix[");
  ASSERT_EQ(lines.size(), 1) << lines.join("\n").toStdString();
  EXPECT_TRUE(lines.first().contains("No session bus"));
}
