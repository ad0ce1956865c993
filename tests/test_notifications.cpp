// The notification centre between two real processes on a private bus.
#include "BusTestSupport.h"
#include "TestSupport.h"
#include "platform/BusName.h"

#include <gtest/gtest.h>

#include <QProcess>

using namespace tovix;

namespace {

class NotificationTest : public testing::Test {
 protected:
  void SetUp() override {
    peer.start(qEnvironmentVariable("TOVIX_BIN_DIR") + "/notification_peer", {});
    ASSERT_TRUE(peer.waitForStarted());
    ASSERT_TRUE(test::waitUntil([] { return isBusNameOwned("org.tovix.TestPeer"); }));
  }
  void TearDown() override {
    peer.kill();
    peer.waitForFinished();
    test::waitUntil([] { return !isBusNameOwned("org.tovix.TestPeer"); });
  }
  QProcess peer;
  NotificationCenter center;
  test::NotificationRecorder recorder{{"TovixTestPong"}};
};

}  // namespace

TEST_F(NotificationTest, NoDictionaryAndAnEmptyDictionaryStayDistinct) {
  ASSERT_TRUE(center.post("TovixTestPing"));
  ASSERT_TRUE(recorder.waitFor("TovixTestPong", 1));
  EXPECT_FALSE(recorder.all().at(0).userInfo.has_value());

  ASSERT_TRUE(center.post("TovixTestPing", QVariantMap{}));
  ASSERT_TRUE(recorder.waitFor("TovixTestPong", 2));
  ASSERT_TRUE(recorder.all().at(1).userInfo.has_value());
  EXPECT_TRUE(recorder.all().at(1).userInfo->isEmpty());
}

TEST_F(NotificationTest, StringsAndNumbersCrossUnchanged) {
  const QVariantMap sent{{"QUEUE_ENTRY_MOVIE_PATH_KEY", QString::fromUtf8("/tmp/it's \"a\"\nfïlm.mov")},
                         {"EXPORT_PROGRESS_KEY", 0.125}};
  center.post("TovixTestPing", sent);
  ASSERT_TRUE(recorder.waitFor("TovixTestPong"));
  const QVariantMap back = *recorder.all().at(0).userInfo;
  EXPECT_EQ(back.value("QUEUE_ENTRY_MOVIE_PATH_KEY").toString(), sent.value("QUEUE_ENTRY_MOVIE_PATH_KEY").toString());
  EXPECT_EQ(back.value("EXPORT_PROGRESS_KEY").typeId(), QMetaType::Double);
  EXPECT_DOUBLE_EQ(back.value("EXPORT_PROGRESS_KEY").toDouble(), 0.125);
}

TEST_F(NotificationTest, ForeignSignalsOfOtherShapesStillArriveAsDictionaries) {
  // A string instead of a dictionary arrives as an empty one (so a request
  // gets its error answer); a{ss} is read as it stands; nested values are
  // left out.
  const auto emitPong = [](const QString& value) {
    return test::runProgram("gdbus", {"emit", "--session", "--object-path", "/org/tovix/Tovix", "--signal",
                                      "org.tovix.Tovix.TovixTestPong", value});
  };
  ASSERT_EQ(emitPong("'just a string'"), 0);
  ASSERT_EQ(emitPong("@a{ss} {'QUEUE_ENTRY_MOVIE_PATH_KEY': '/a.mov'}"), 0);
  ASSERT_EQ(emitPong("{'a': <'b'>, 'nested': <{'x': <1>}>}"), 0);
  ASSERT_TRUE(recorder.waitFor("TovixTestPong", 3));
  const auto all = recorder.all();
  ASSERT_TRUE(all.at(0).userInfo);
  EXPECT_TRUE(all.at(0).userInfo->isEmpty());
  EXPECT_EQ(all.at(1).userInfo->value("QUEUE_ENTRY_MOVIE_PATH_KEY").toString(), "/a.mov");
  EXPECT_EQ(all.at(2).userInfo->keys(), QStringList{"a"});
}

TEST(BusNames, OnlyOneProcessHoldsAName) {
  EXPECT_TRUE(claimBusName("org.tovix.TestName"));
  QProcess other;
  other.start("gdbus", {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                        "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.RequestName",
                        "org.tovix.TestName", "4"});
  other.waitForFinished();
  EXPECT_TRUE(other.readAllStandardOutput().contains("uint32 3")) << "the name is taken: EXISTS";
  EXPECT_TRUE(isBusNameOwned("org.tovix.TestName"));
}

TEST(BusNames, AClosingTovixRefusesAHandOver) {
  ApplicationService service;
  ASSERT_TRUE(service.claim());
  QStringList opened;
  QObject::connect(&service, &ApplicationService::openRequested, [&opened](const QStringList& paths) { opened += paths; });
  const auto handOver = [] {
    auto* call = new QProcess;
    call->start("gdbus", {"call", "--session", "--dest", kApplicationBusName, "--object-path", "/org/tovix/Application",
                          "--method", "org.tovix.Application.OpenFiles", "['/m/a.mov']"});
    // This process answers the call: its event loop must run meanwhile.
    test::waitUntil([call] { return call->state() == QProcess::NotRunning; });
    const QByteArray answer = call->readAllStandardOutput().trimmed();
    delete call;
    return answer;
  };
  EXPECT_EQ(handOver(), "(true,)");
  EXPECT_EQ(opened, QStringList({"/m/a.mov"}));
  service.setClosing();
  EXPECT_EQ(handOver(), "(false,)") << "the caller starts a Tovix of its own instead";
  EXPECT_EQ(opened.size(), 1);
}
