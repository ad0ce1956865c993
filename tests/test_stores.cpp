// The queue store, the log store, the preferences and property-list files.
#include "app/store/Preferences.h"
#include "app/store/Queue.h"
#include "app/store/QueueLog.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>
#include <ctime>

using namespace tovix;
using protocol::Target;

namespace {

QVariantMap completion(const QString& path, const char* typeKey, const char* result = nullptr) {
  QVariantMap d{{protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, path}, {protocol::EXPORT_TYPE_KEY, QString(typeKey)}};
  if (result) d.insert(protocol::EXPORT_RESULT_KEY, QString(result));
  return d;
}

QStringList flags(const Queue& q, int i) {
  return {q.iPhone(i), q.iPod(i), q.appletv(i), q.qt(i), q.status(i).value_or("<none>")};
}

// Queue.xml as an independent reader (Python's plistlib) sees it.
QJsonArray readWithPlistlib(const QString& path) {
  QByteArray json;
  test::runProgram("python3",
                   {"-c", "import json,plistlib,sys; print(json.dumps(plistlib.load(open(sys.argv[1],'rb'))))",
                    path},
                   &json);
  return QJsonDocument::fromJson(json).array();
}

class QueueTest : public testing::Test {
 protected:
  void SetUp() override {
    prefs.setBool(Preferences::iPhoneExportSwitch, true);
    prefs.setBool(Preferences::iPodExportSwitch, false);
    prefs.setBool(Preferences::AppleTVExportSwitch, true);
    prefs.setBool(Preferences::QTExportSwitch, false);
    q = Queue::init(prefs);
    ASSERT_TRUE(q);
  }
  // Adds a movie whose flags are exactly on (the rest off).
  void addWith(const QString& path, std::initializer_list<Target> on) {
    for (const auto& t : protocol::kTargets) {
      const char* key = t.target == Target::iPhone ? Preferences::iPhoneExportSwitch
                        : t.target == Target::iPod ? Preferences::iPodExportSwitch
                        : t.target == Target::AppleTV ? Preferences::AppleTVExportSwitch
                                                      : Preferences::QTExportSwitch;
      prefs.setBool(key, std::find(on.begin(), on.end(), t.target) != on.end());
    }
    q->addMovie(path);
  }
  test::TemporaryHome home;
  Preferences prefs;
  std::unique_ptr<Queue> q;
};

}  // namespace

TEST_F(QueueTest, NewEntryTakesItsFlagsFromThePreferencesAndIsWrittenAsSevenStrings) {
  q->addMovie("/Movies/Trip.mov");
  EXPECT_EQ(flags(*q, 0), QStringList({"On", "Off", "On", "Off", "Queued"}));
  EXPECT_EQ(q->movieDisplayName(0), "Trip.mov");
  EXPECT_EQ(q->qPath(), home.dataFolder() + "/Queue/Queue.xml");
  const QJsonArray stored = readWithPlistlib(q->qPath());
  ASSERT_EQ(stored.size(), 1);
  const QJsonObject entry = stored.at(0).toObject();
  EXPECT_EQ(entry.size(), 7);
  for (const QString& key : entry.keys()) EXPECT_TRUE(entry.value(key).isString()) << key.toStdString();
  EXPECT_EQ(entry.value("QUEUE_ENTRY_MOVIE_PATH_KEY").toString(), "/Movies/Trip.mov");
}

TEST_F(QueueTest, CompletionRuleSettlesEarlierAndLaterTargets) {
  q->addMovie("/Movies/Trip.mov");
  q->updateMovie(completion("/Movies/Trip.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  EXPECT_EQ(flags(*q, 0), QStringList({"OnDone", "Off", "On", "Off", "Started"}));
  q->updateMovie(completion("/Movies/Trip.mov", protocol::QUEUE_ENTRY_APPLETV_KEY));
  EXPECT_EQ(flags(*q, 0), QStringList({"OnDone", "OffDone", "OnDone", "OffDone", "Complete"}));

  addWith("/a.mov", {Target::iPhone});
  q->updateMovie(completion("/a.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  EXPECT_EQ(flags(*q, 1), QStringList({"OnDone", "OffDone", "OffDone", "OffDone", "Complete"}));

  addWith("/b.mov", {Target::QuickTime});
  q->updateMovie(completion("/b.mov", protocol::QUEUE_ENTRY_QT_KEY));
  EXPECT_EQ(flags(*q, 2), QStringList({"OffDone", "OffDone", "OffDone", "OnDone", "Complete"}));

  addWith("/c.mov", {Target::iPod, Target::QuickTime});
  q->toggleqt(3);  // QuickTime off: the iPod completion now leaves every later target off
  q->updateMovie(completion("/c.mov", protocol::QUEUE_ENTRY_IPOD_KEY));
  EXPECT_EQ(flags(*q, 3), QStringList({"OffDone", "OnDone", "OffDone", "OffDone", "Complete"}));
}

// The runner's order: entries in queue order, targets in target order, a
// target switched on during a run taken when its entry's turn comes.
TEST_F(QueueTest, TheNextExportFollowsQueueAndTargetOrder) {
  addWith("/zero.mov", {});
  addWith("/one.mov", {Target::iPhone, Target::iPod});
  EXPECT_EQ(q->pendingExports(), 2);
  EXPECT_EQ(q->nextEntry(), 1);
  EXPECT_EQ(q->pendingTarget(1), Target::iPhone);
  q->updateMovie(completion("/one.mov", protocol::QUEUE_ENTRY_IPHONE_KEY), 1);
  q->toggleqt(0);  // switched on during the run: the first entry goes first now
  EXPECT_EQ(q->nextEntry(), 0);
  EXPECT_EQ(q->pendingTarget(0), Target::QuickTime);
  q->updateMovie(completion("/zero.mov", protocol::QUEUE_ENTRY_QT_KEY), 0);
  EXPECT_EQ(q->nextEntry(), 1);
  EXPECT_EQ(q->pendingTarget(1), Target::iPod);
  EXPECT_EQ(q->pendingExports(), 1);
  q->updateMovie(completion("/one.mov", protocol::QUEUE_ENTRY_IPOD_KEY), 1);
  EXPECT_EQ(q->nextEntry(), std::nullopt);
  EXPECT_EQ(q->pendingExports(), 0);
}

TEST_F(QueueTest, TargetSwitchedOffDuringItsExportStillBecomesOnDone) {
  addWith("/a.mov", {Target::iPhone, Target::AppleTV});
  q->toggleiPhone(0);
  EXPECT_EQ(q->iPhone(0), "Off");
  q->updateMovie(completion("/a.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  EXPECT_EQ(flags(*q, 0), QStringList({"OnDone", "Off", "On", "Off", "Started"}));
}

TEST_F(QueueTest, FailedAndCancelledOutcomes) {
  addWith("/a.mov", {Target::iPhone, Target::AppleTV});
  q->updateMovie(completion("/a.mov", protocol::QUEUE_ENTRY_IPHONE_KEY, "Cancelled"));
  EXPECT_EQ(flags(*q, 0), QStringList({"On", "Off", "On", "Off", "Queued"}));
  q->updateMovie(completion("/a.mov", protocol::QUEUE_ENTRY_IPHONE_KEY, "Failed"));
  EXPECT_EQ(flags(*q, 0), QStringList({"OnDone", "Off", "On", "Off", "Failed"}));
  q->updateMovie(completion("/a.mov", protocol::QUEUE_ENTRY_APPLETV_KEY, "Finished"));
  EXPECT_EQ(flags(*q, 0), QStringList({"OnDone", "OffDone", "OnDone", "OffDone", "Failed"}));
  q->clearFinished();
  EXPECT_EQ(q->count(), 1) << "a failed entry is not finished";
}

TEST_F(QueueTest, CompletionForTheSecondOfTwoEntriesWithOnePathSettlesThatEntry) {
  addWith("/same.mov", {Target::iPhone});
  addWith("/same.mov", {Target::iPhone});
  q->updateMovie(completion("/same.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  EXPECT_EQ(q->iPhone(0), "OnDone");
  EXPECT_EQ(q->iPhone(1), "On");
  int index = -1;
  ASSERT_TRUE(q->findMatchingEntry(completion("/same.mov", protocol::QUEUE_ENTRY_IPHONE_KEY), &index));
  EXPECT_EQ(index, 1);
  q->updateMovie(completion("/same.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  EXPECT_EQ(q->iPhone(1), "OnDone");
  // Neither flag is "On" now: the first entry with the path takes it.
  ASSERT_TRUE(q->findMatchingEntry(completion("/same.mov", protocol::QUEUE_ENTRY_IPHONE_KEY), &index));
  EXPECT_EQ(index, 0);
}

TEST_F(QueueTest, CompletionsThatMatchNothingChangeNothing) {
  q->addMovie("/a.mov");
  QFile::remove(q->qPath());
  q->updateMovie(completion("/gone.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  q->updateMovie(completion("/a.mov", "QUEUE_ENTRY_BOGUS_KEY"));
  q->updateMovie({{protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, "/a.mov"}});
  q->updateMovie({{protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, 5}, {protocol::EXPORT_TYPE_KEY, 7}});
  EXPECT_EQ(flags(*q, 0), QStringList({"On", "Off", "On", "Off", "Queued"}));
  EXPECT_FALSE(QFile::exists(q->qPath())) << "nothing may be saved";
  int index = 42;
  EXPECT_FALSE(q->findMatchingEntry(completion("/gone.mov", protocol::QUEUE_ENTRY_IPHONE_KEY), &index));
  EXPECT_EQ(index, 42);
}

TEST_F(QueueTest, FlipsChangeOnlyOpenFlagsAndOnlyValidRows) {
  addWith("/a.mov", {Target::iPhone});
  q->toggleiPod(0);
  EXPECT_EQ(q->iPod(0), "On");
  q->toggleiPod(0);
  EXPECT_EQ(q->iPod(0), "Off");
  q->updateMovie(completion("/a.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  QFile::remove(q->qPath());
  q->toggleiPhone(0);  // OnDone
  q->toggleiPod(0);    // OffDone
  q->toggleqt(-1);
  q->toggleqt(1);
  EXPECT_EQ(flags(*q, 0), QStringList({"OnDone", "OffDone", "OffDone", "OffDone", "Complete"}));
  EXPECT_FALSE(QFile::exists(q->qPath())) << "flipping a done flag does not rewrite Queue.xml";
  EXPECT_EQ(q->iPhone(-1), "OffDone");
  EXPECT_EQ(q->movie(1), std::nullopt);
  EXPECT_EQ(q->entry(-1), std::nullopt);
  q->deleteMovie(5);
  EXPECT_EQ(q->count(), 1);
}

TEST_F(QueueTest, ClearFinishedKeepsUnfinishedEntriesInOrder) {
  for (const char* path : {"/1.mov", "/2.mov", "/3.mov", "/4.mov"}) addWith(path, {Target::iPhone, Target::QuickTime});
  q->updateMovie(completion("/1.mov", protocol::QUEUE_ENTRY_QT_KEY));
  q->updateMovie(completion("/2.mov", protocol::QUEUE_ENTRY_IPHONE_KEY));
  q->updateMovie(completion("/4.mov", protocol::QUEUE_ENTRY_QT_KEY));
  q->clearFinished();
  ASSERT_EQ(q->count(), 2);
  EXPECT_EQ(q->movie(0), "/2.mov");
  EXPECT_EQ(q->status(0), "Started");
  EXPECT_EQ(q->movie(1), "/3.mov");
  EXPECT_EQ(q->status(1), "Queued");
}

TEST_F(QueueTest, SurvivesARestartAndAFailedSave) {
  const QString odd = QString::fromUtf8("/tmp/it's \"odd\"\n fïlm & <x>.mov");
  q->addMovie(odd);
  addWith("/b.mov", {Target::iPod});
  q->updateMovie(completion(odd, protocol::QUEUE_ENTRY_IPHONE_KEY));
  auto reloaded = Queue::init(prefs);
  ASSERT_EQ(reloaded->count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(reloaded->entry(i), q->entry(i));
  }
  EXPECT_EQ(reloaded->movie(0), odd);

  // Make the folder unwritable by putting a file where it was: saves fail
  // silently, memory keeps the change, and the next change after repair saves.
  const QString folder = home.dataFolder() + "/Queue";
  QDir(folder).removeRecursively();
  test::writeFile(folder, "not a folder");
  q->deleteMovie(0);
  EXPECT_EQ(q->count(), 1);
  QFile::remove(folder);
  QDir().mkpath(folder);
  q->toggleiPhone(0);
  EXPECT_EQ(Queue::init(prefs)->count(), 1);
}

TEST_F(QueueTest, QueueXmlIsAnXmlPropertyListAfterEveryKindOfChange) {
  const auto storedCount = [&] {
    QFile file(q->qPath());
    file.open(QIODevice::ReadOnly);
    EXPECT_TRUE(file.read(5) == "<?xml") << "the XML form";
    return readWithPlistlib(q->qPath()).size();
  };
  addWith("/a.mov", {Target::QuickTime});
  addWith("/b.mov", {Target::iPhone});
  addWith("/c.mov", {Target::iPhone});
  EXPECT_EQ(storedCount(), 3);
  q->toggleiPod(1);
  EXPECT_EQ(readWithPlistlib(q->qPath()).at(1).toObject().value(protocol::QUEUE_ENTRY_IPOD_KEY).toString(), "On");
  q->updateMovie(completion("/a.mov", protocol::QUEUE_ENTRY_QT_KEY), 0);
  EXPECT_EQ(storedCount(), 3);
  q->deleteMovie(2);
  EXPECT_EQ(storedCount(), 2);
  q->clearFinished();
  EXPECT_EQ(storedCount(), 1);
  q->clear();
  EXPECT_EQ(storedCount(), 0);
}

TEST_F(QueueTest, DamagedQueueFilesLoadAsTheyStand) {
  const QString path = q->qPath();
  const auto countAfterWriting = [&](const QByteArray& bytes) {
    test::writeFile(path, bytes);
    return Queue::init(prefs)->count();
  };
  EXPECT_EQ(countAfterWriting("<?xml version=\"1.0\"?><plist><array><dict><key>QUEUE_ENTRY_MOV"), 0);
  EXPECT_EQ(countAfterWriting(QByteArray("\x00\xff\x13garbage\x01", 12)), 0);
  EXPECT_EQ(countAfterWriting("<plist version=\"1.0\"><dict><key>a</key><string>b</string></dict></plist>"), 0);
  EXPECT_EQ(countAfterWriting(""), 0);

  // Entries with a missing or non-string value, and an element that is no
  // dictionary at all, are kept; readers answer none or "OffDone".
  test::writeFile(path, "<plist version=\"1.0\"><array>"
                        "<dict><key>QUEUE_ENTRY_MOVIE_PATH_KEY</key><integer>3</integer>"
                        "<key>QUEUE_ENTRY_IPHONE_KEY</key><string>Weird</string></dict>"
                        "<string>stray</string></array></plist>");
  auto damaged = Queue::init(prefs);
  ASSERT_EQ(damaged->count(), 2);
  EXPECT_EQ(damaged->movie(0), std::nullopt);
  EXPECT_EQ(damaged->iPod(0), "OffDone");
  EXPECT_EQ(damaged->iPhone(0), "Weird");
  damaged->toggleiPhone(0);
  EXPECT_EQ(damaged->iPhone(0), "On") << "an unknown flag flips to On";
  EXPECT_EQ(damaged->iPhone(1), "OffDone");
  damaged->addMovie("/new.mov");
  EXPECT_EQ(Queue::init(prefs)->count(), 3) << "nothing of the damaged file is lost";
}

// Writes a binary property list of arrays, each holding the next one; with
// cycle, the last holds the first again.
void writeNestedBinaryList(const QString& path, int depth, bool cycle) {
  test::runProgram("python3", {"-c", R"(import struct,sys
n,cycle=int(sys.argv[2]),sys.argv[3]=='1'
objs=[bytes([0xA1])+struct.pack('>I',i+1) for i in range(n-1)]
objs.append(bytes([0xA1])+struct.pack('>I',0) if cycle else bytes([0xA0]))
out=bytearray(b'bplist00'); offs=[]
for o in objs: offs.append(len(out)); out+=o
table=len(out)
for o in offs: out+=struct.pack('>I',o)
out+=bytes(6)+bytes([4,4])+struct.pack('>QQQ',n,0,table)
open(sys.argv[1],'wb').write(out))", path, QString::number(depth), cycle ? "1" : "0"});
}

TEST_F(QueueTest, UnreadableFilesAreMovedAsideAndNeverOverwritten) {
  const QString path = q->qPath();
  const QString folder = QFileInfo(path).path();
  const auto asideFiles = [&] {
    return QDir(folder).entryList({"Queue.xml.unreadable-*"}, QDir::Files | QDir::System, QDir::Name);
  };
  const auto loadsEmptyAndMovesAside = [&](const char* what) {
    const int before = asideFiles().size();
    auto loaded = Queue::init(prefs);
    ASSERT_TRUE(loaded) << what;
    EXPECT_EQ(loaded->count(), 0) << what;
    EXPECT_FALSE(loaded->store().unreadableNotice().isEmpty()) << what;
    EXPECT_FALSE(QFileInfo::exists(path)) << what;
    EXPECT_EQ(asideFiles().size(), before + 1) << what;
  };
  const QByteArray damaged = "<?xml version=\"1.0\"?><plist><array><dict><key>QUEUE_ENTRY_MOV";
  test::writeFile(path, damaged);
  loadsEmptyAndMovesAside("damaged");
  test::writeFile(path, "<plist version=\"1.0\"><dict><key>a</key><string>b</string></dict></plist>");
  loadsEmptyAndMovesAside("another root type");
  test::writeFile(path, "<plist version=\"1.0\">" + QByteArray("<array>").repeated(100000) +
                            QByteArray("</array>").repeated(100000) + "</plist>");
  loadsEmptyAndMovesAside("nested 100,000 deep");
  writeNestedBinaryList(path, 100000, false);
  loadsEmptyAndMovesAside("binary nested 100,000 deep");
  writeNestedBinaryList(path, 2, true);
  loadsEmptyAndMovesAside("binary reference cycle");
  // The nesting limit, exactly: 32 levels load, 33 do not.
  const auto nested = [](int depth) {
    return "<plist version=\"1.0\">" + QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) + "</plist>";
  };
  EXPECT_TRUE(plist::parse(nested(plist::kMaxNestingDepth)));
  EXPECT_FALSE(plist::parse(nested(plist::kMaxNestingDepth + 1)));
  writeNestedBinaryList(path, plist::kMaxNestingDepth, false);
  EXPECT_EQ(plist::readFile(path).status, plist::ReadStatus::Read);
  writeNestedBinaryList(path, plist::kMaxNestingDepth + 1, false);
  loadsEmptyAndMovesAside("binary nested one level too deep");
  ASSERT_EQ(test::runProgram("mkfifo", {path}), 0);
  loadsEmptyAndMovesAside("a FIFO");

  // The moved file keeps its bytes, and a change writes a new Queue.xml.
  auto fresh = Queue::init(prefs);
  fresh->addMovie("/new.mov");
  QFile first(folder + "/" + asideFiles().first());
  ASSERT_TRUE(first.open(QIODevice::ReadOnly));
  EXPECT_EQ(first.readAll(), damaged);
  EXPECT_EQ(Queue::init(prefs)->count(), 1);
  EXPECT_TRUE(Queue::init(prefs)->store().unreadableNotice().isEmpty());

  // When every name to move it to is taken, the file stays as it is and is
  // never overwritten, whatever changes.
  test::writeFile(path, damaged);
  const QDateTime now = QDateTime::currentDateTime();
  for (int second = 0; second < 3; ++second) {
    const QString stem = path + ".unreadable-" + now.addSecs(second).toString("yyyyMMdd-HHmmss");
    for (int n = 1; n < 100; ++n) {
      const QString name = n == 1 ? stem : QString("%1-%2").arg(stem).arg(n);
      if (!QFileInfo::exists(name)) test::writeFile(name, "taken");  // the FIFO above may stand there
    }
  }
  auto stuck = Queue::init(prefs);
  EXPECT_FALSE(stuck->store().unreadableNotice().isEmpty());
  stuck->addMovie("/new.mov");
  stuck->clear();
  QFile left(path);
  ASSERT_TRUE(left.open(QIODevice::ReadOnly));
  EXPECT_EQ(left.readAll(), damaged);
}

TEST_F(QueueTest, LongQueuesSaveInTheBackgroundAndLoseNothing) {
  addWith("/m.mov", {Target::iPhone});
  QVariantList entries;
  for (int i = 0; i < 2500; ++i) {
    QVariantMap e = *q->entry(0);
    e.insert(protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, QString("/m%1.mov").arg(i));
    entries.append(e);
  }
  ASSERT_TRUE(plist::writeXmlFile(home.dataFolder() + "/Queue/Queue.xml", entries));
  q = Queue::init(prefs);
  ASSERT_EQ(q->count(), 2500);
  q->toggleiPod(1234);
  q->deleteMovie(0);
  q->store().waitForSaves();
  auto reloaded = Queue::init(prefs);
  ASSERT_EQ(reloaded->count(), 2499);
  EXPECT_EQ(reloaded->iPod(1233), "On");
  EXPECT_EQ(readWithPlistlib(q->qPath()).size(), 2499);
  q->toggleiPod(7);
  q.reset();  // a store that goes away first finishes its saves
  EXPECT_EQ(Queue::init(prefs)->iPod(7), "On");
}

TEST_F(QueueTest, ReadsABinaryPropertyList) {
  test::runProgram("python3", {"-c",
                               "import plistlib,sys; open(sys.argv[1],'wb').write(plistlib.dumps("
                               "[{'QUEUE_ENTRY_MOVIE_PATH_KEY':'/x.mov','QUEUE_ENTRY_STATUS_KEY':'Queued'}],"
                               "fmt=plistlib.FMT_BINARY))",
                               q->qPath()});
  auto loaded = Queue::init(prefs);
  ASSERT_EQ(loaded->count(), 1);
  EXPECT_EQ(loaded->movie(0), "/x.mov");
}

TEST(QueueInit, FailsWhenTheDataFolderCannotBeMade) {
  test::TemporaryHome home;
  QDir().mkpath(home.path() + "/.local/share");
  test::writeFile(home.dataFolder(), "a file where the folder belongs");
  Preferences prefs;
  EXPECT_EQ(Queue::init(prefs), nullptr);
  EXPECT_EQ(QueueLog::init(), nullptr);
}

TEST(QueueInit, TheOlderDataFolderMovesOnceAndNeverOverAnExistingOne) {
  test::TemporaryHome home;
  const QString legacy = home.path() + "/Library/Application Support/Tovix";
  QDir().mkpath(legacy + "/Queue");
  ASSERT_TRUE(plist::writeXmlFile(legacy + "/Queue/Queue.xml",
                                  QVariantList{QVariantMap{{protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, "/old.mov"}}}));
  paths::moveLegacyDataFolder();
  Preferences prefs;
  auto q = Queue::init(prefs);
  EXPECT_EQ(q->movie(0), "/old.mov");
  EXPECT_EQ(q->qPath(), home.dataFolder() + "/Queue/Queue.xml");
  EXPECT_FALSE(QFileInfo::exists(legacy));
  EXPECT_FALSE(QFileInfo::exists(home.path() + "/Library")) << "folders the move emptied go too";
  QDir().mkpath(legacy);
  paths::moveLegacyDataFolder();
  EXPECT_TRUE(QFileInfo::exists(legacy)) << "the new folder exists: the old one stays";
  EXPECT_EQ(Queue::init(prefs)->count(), 1);
}

namespace {
// An older data folder holding a queue of one movie.
QString seedLegacyQueue(const test::TemporaryHome& home, const QString& movie) {
  const QString legacy = home.path() + "/Library/Application Support/Tovix";
  QDir().mkpath(legacy + "/Queue");
  plist::writeXmlFile(legacy + "/Queue/Queue.xml", QVariantList{QVariantMap{{protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, movie}}});
  return legacy;
}
}  // namespace

TEST(QueueInit, AnOlderDataFolderThatCannotBeRenamedIsCopiedOrKeptInUse) {
  test::TemporaryHome home;
  Preferences prefs;
  // On another file system: copied, checked, and the old one removed.
  QTemporaryDir otherDisk("/dev/shm/tovix-XXXXXX");
  const QString legacy = seedLegacyQueue(home, "/copied.mov");
  qputenv("XDG_DATA_HOME", otherDisk.path().toUtf8());
  EXPECT_EQ(paths::moveLegacyDataFolder(), std::nullopt);
  EXPECT_EQ(paths::applicationDataFolder(), otherDisk.path() + "/Tovix");
  EXPECT_EQ(Queue::init(prefs)->movie(0), "/copied.mov");
  EXPECT_FALSE(QFileInfo::exists(legacy));
  EXPECT_FALSE(QFileInfo::exists(otherDisk.path() + "/.Tovix.moving"));

  // Where the new folder cannot be made, the old one stays in use and the
  // user is told.
  seedLegacyQueue(home, "/kept.mov");
  test::writeFile(home.path() + "/blocked", "a file where a folder belongs");
  qputenv("XDG_DATA_HOME", (home.path() + "/blocked").toUtf8());
  const auto notice = paths::moveLegacyDataFolder();
  ASSERT_TRUE(notice);
  EXPECT_TRUE(notice->contains(legacy)) << notice->toStdString();
  EXPECT_EQ(paths::applicationDataFolder(), legacy);
  EXPECT_EQ(Queue::init(prefs)->movie(0), "/kept.mov");
  QDir(legacy).removeRecursively();

  // A relative link as the old folder is left alone and followed.
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  QDir().mkpath(home.path() + "/Elsewhere/Tovix/Queue");
  plist::writeXmlFile(home.path() + "/Elsewhere/Tovix/Queue/Queue.xml",
                      QVariantList{QVariantMap{{protocol::QUEUE_ENTRY_MOVIE_PATH_KEY, "/linked.mov"}}});
  ASSERT_TRUE(QFile::link("../../Elsewhere/Tovix", legacy));
  EXPECT_EQ(paths::moveLegacyDataFolder(), std::nullopt);
  EXPECT_EQ(Queue::init(prefs)->movie(0), "/linked.mov");
}

TEST(QueueLogTest, AppendsClearsAndSurvivesRestarts) {
  test::TemporaryHome home;
  auto log = QueueLog::init();
  ASSERT_TRUE(log);
  EXPECT_EQ(log->logPath(), home.dataFolder() + "/Log/Log.xml");
  log->write(logEntry(QDateTime::currentDateTime(), "/Movies/Trip.mov", "Starting iPhone export ..."));
  log->write(logEntry(QDateTime::currentDateTime(), "/Movies/Trip.mov", "Export finished."));
  log->write(logEntry(QDateTime::currentDateTime(), "/b.mov", "Export failed."));
  auto reloaded = QueueLog::init();
  ASSERT_EQ(reloaded->count(), 3);
  EXPECT_EQ(reloaded->action(0), "Starting iPhone export ...");
  EXPECT_EQ(reloaded->action(1), "Export finished.");
  EXPECT_EQ(reloaded->file(2), "/b.mov");
  EXPECT_EQ(reloaded->time(-1), std::nullopt);
  EXPECT_EQ(reloaded->time(3), std::nullopt);

  QFile::remove(log->logPath());
  log->write(std::nullopt);
  EXPECT_FALSE(QFile::exists(log->logPath())) << "writing no entry does not rewrite the file";
  log->clear();
  EXPECT_EQ(QueueLog::init()->count(), 0);
  const auto stored = plist::readFile(log->logPath());
  ASSERT_EQ(stored.status, plist::ReadStatus::Read);
  EXPECT_EQ(stored.value.typeId(), QMetaType::QVariantList);

  // Entries appended in place keep the file a property list that any reader
  // takes, with every entry in order.
  for (int i = 0; i < 3; ++i) log->write(logEntry(QDateTime::currentDateTime(), QString("/%1 & <x>.mov").arg(i), "Export finished."));
  const QJsonArray independent = readWithPlistlib(log->logPath());
  ASSERT_EQ(independent.size(), 3);
  EXPECT_EQ(independent.at(2).toObject().value(LOG_ENTRY_FILE_KEY).toString(), "/2 & <x>.mov");

  // A log followed by a second tail would take appends past what is read:
  // it is unreadable, moved aside whole, and the new entries are kept.
  QFile file(log->logPath());
  ASSERT_TRUE(file.open(QIODevice::Append));
  file.write("stray bytes</array>\n</plist>\n");
  file.close();
  auto tailed = QueueLog::init();
  EXPECT_EQ(tailed->count(), 0);
  EXPECT_FALSE(tailed->unreadableNotice().isEmpty());
  tailed->write(logEntry(QDateTime::currentDateTime(), "/after.mov", "Export finished."));
  ASSERT_EQ(QueueLog::init()->count(), 1);
  EXPECT_EQ(QueueLog::init()->file(0), "/after.mov");
}

TEST(QueueLogTest, ALongLogLoadsOnAThreadAndKeepsWhatIsWrittenMeanwhile) {
  test::TemporaryHome home;
  QVariantList entries;
  for (int i = 0; i < 2000; ++i) entries << logEntry(QDateTime::currentDateTime(), QString("/m%1.mov").arg(i), "Export finished.");
  QDir().mkpath(home.dataFolder() + "/Log");
  ASSERT_TRUE(plist::writeXmlFile(home.dataFolder() + "/Log/Log.xml", entries));
  const auto written = [](int i) { return logEntry(QDateTime::currentDateTime(), QString("/new%1.mov").arg(i), "Export finished."); };

  auto log = QueueLog::init();
  EXPECT_FALSE(log->loaded());
  log->write(written(1));
  log->waitUntilLoaded();
  ASSERT_EQ(log->count(), 2001);
  EXPECT_EQ(log->file(0), "/m0.mov");
  EXPECT_EQ(log->file(2000), "/new1.mov") << "written meanwhile, it follows the stored entries";

  // Gone before its load ends, the log still adds what was written.
  log = QueueLog::init();
  log->write(written(2));
  log.reset();
  log = QueueLog::init();
  log->waitUntilLoaded();
  ASSERT_EQ(log->count(), 2002);
  EXPECT_EQ(log->file(2001), "/new2.mov");
  // Cleared while it loads, nothing of the load comes back.
  log = QueueLog::init();
  log->clear();
  QCoreApplication::processEvents();
  EXPECT_EQ(log->count(), 0);
  EXPECT_EQ(QueueLog::init()->count(), 0);
}

TEST(QueueLogTest, TimeTextCarriesTheZoneOffsetWithItsSign) {
  const QByteArray oldZone = qgetenv("TZ");
  const QDateTime moment(QDate(2008, 1, 15), QTime(12, 0), QTimeZone::utc());
  for (const auto& [zone, offset] : {std::pair{"JST-9", "+0900"}, std::pair{"NST3:30", "-0330"}, std::pair{"UTC0", "+0000"}}) {
    qputenv("TZ", zone);
    tzset();
    EXPECT_TRUE(logTimeText(moment).endsWith(offset)) << zone << " " << logTimeText(moment).toStdString();
  }
  if (oldZone.isNull()) qunsetenv("TZ");
  else qputenv("TZ", oldZone);
  tzset();
}

TEST(QueueLogTest, TimeTextHasTheFixedFormInLocalTime) {
  const QString text = logTimeText(QDateTime::currentDateTime());
  EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}$").match(text).hasMatch())
      << text.toStdString();
  const QDateTime fixed(QDate(2008, 3, 15), QTime(14, 2, 11), QTimeZone(-5 * 3600));
  const QString local = logTimeText(fixed);
  EXPECT_EQ(QDateTime::fromString(local.left(19), "yyyy-MM-dd HH:mm:ss").toString("yyyy"), "2008");
  const QString zoneless = QDateTime(QDate(2008, 3, 15), QTime(19, 2, 11), QTimeZone::utc())
                               .toLocalTime().toString("yyyy-MM-dd HH:mm:ss");
  EXPECT_EQ(local.left(19), zoneless);
}

TEST(PreferencesTest, FirstRunDefaultsNeverOverwriteAStoredValue) {
  test::TemporaryHome home;
  Preferences prefs;
  EXPECT_FALSE(prefs.hasValue(Preferences::iPhoneExportSwitch));
  EXPECT_TRUE(prefs.softwareUpdateCheck());
  prefs.setBool(Preferences::AppleTVExportSwitch, false);
  prefs.storeFirstRunDefaults();
  EXPECT_TRUE(prefs.boolForKey(Preferences::iPhoneExportSwitch));
  EXPECT_FALSE(prefs.boolForKey(Preferences::iPodExportSwitch));
  EXPECT_FALSE(prefs.boolForKey(Preferences::AppleTVExportSwitch));
  EXPECT_TRUE(prefs.hasValue(Preferences::QTExportSwitch));
  EXPECT_FALSE(prefs.hasValue(Preferences::PrefDockBounce));
  EXPECT_FALSE(prefs.hasValue(Preferences::SoftwareUpdateCheck));
  EXPECT_TRUE(prefs.fileName().startsWith(home.path())) << prefs.fileName().toStdString();

  prefs.setBool(Preferences::SoftwareUpdateCheck, false);
  EXPECT_FALSE(Preferences().softwareUpdateCheck());
}

TEST(PreferencesTest, HandEditedValuesReadSafely) {
  test::TemporaryHome home;
  QDir().mkpath(QFileInfo(Preferences().fileName()).path());
  test::writeFile(Preferences().fileName(),
                  "[General]\nPrefDockBounce=banana\nPrefExportCompletePref=true\n"
                  "PrefExportDirectory=\niPhoneExportSwitch=1\n");
  Preferences prefs;
  EXPECT_FALSE(prefs.boolForKey(Preferences::PrefDockBounce));
  EXPECT_TRUE(prefs.boolForKey(Preferences::PrefExportCompletePref));
  EXPECT_TRUE(prefs.boolForKey(Preferences::iPhoneExportSwitch));
  EXPECT_EQ(prefs.stringForKey(Preferences::PrefExportDirectory), std::nullopt);
}

TEST(PropertyListTest, RoundTripsEveryValueKind) {
  const QVariantMap value{{"s", QString::fromUtf8("tëxt <&>")}, {"b", true}, {"i", 42},
                          {"r", 0.25}, {"d", QByteArray("\x01\x02", 2)},
                          {"l", QVariantList{QString("a"), 1}}};
  const auto parsed = plist::parse(plist::toXml(value));
  ASSERT_TRUE(parsed);
  const QVariantMap back = parsed->toMap();
  EXPECT_EQ(back.value("s").toString(), value.value("s").toString());
  EXPECT_EQ(back.value("b").toBool(), true);
  EXPECT_EQ(back.value("i").toLongLong(), 42);
  EXPECT_DOUBLE_EQ(back.value("r").toDouble(), 0.25);
  EXPECT_EQ(back.value("d").toByteArray(), QByteArray("\x01\x02", 2));
  EXPECT_EQ(back.value("l").toList().size(), 2);
  EXPECT_FALSE(plist::parse("not a plist"));
  EXPECT_FALSE(plist::parse({}));
}
