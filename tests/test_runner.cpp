// The queue runner against a scripted fake helper, in-process.
#include "AppTestSupport.h"
#include "app/window/ElidedLabel.h"

#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QTableView>
#include <optional>

using namespace tovix;
using protocol::Target;
namespace p = tovix::protocol;

namespace {

QString requestText(const QVariantMap& request) {
  return request.value(p::QUEUE_ENTRY_MOVIE_PATH_KEY).toString() + " " + request.value(p::EXPORT_TYPE_KEY).toString();
}

}  // namespace

TEST(Runner, ExportsEntriesInQueueAndTargetOrderOneAtATime) {
  test::ControllerHarness h;
  h.add("/A.mov", {Target::iPhone, Target::AppleTV});
  h.add("/B.mov", {Target::iPod});
  h.controller->startQ();
  ASSERT_EQ(h.center.requests().size(), 1u);
  h.controller->startQ();
  EXPECT_EQ(h.center.requests().size(), 1u) << "Start while running posts nothing";
  EXPECT_TRUE(h.controller->exportProgress()->isVisibleTo(h.controller->controllerWindow()));
  EXPECT_EQ(h.controller->currentExportFilename()->toolTip(), "/A_iPhone.m4v");
  h.center.deliver(p::kExportProgress, QVariantMap{{p::EXPORT_PROGRESS_KEY, 0.5}});
  EXPECT_EQ(h.controller->exportProgress()->value(), 500);
  EXPECT_TRUE(h.controller->currentExportLabel()->isVisibleTo(h.controller->controllerWindow()));
  h.complete();
  EXPECT_FALSE(h.controller->currentExportLabel()->isVisibleTo(h.controller->controllerWindow()));
  h.complete();
  h.complete();
  QStringList order;
  for (const auto& r : h.center.requests()) order << requestText(r);
  EXPECT_EQ(order, QStringList({"/A.mov QUEUE_ENTRY_IPHONE_KEY", "/A.mov QUEUE_ENTRY_APPLETV_KEY",
                                "/B.mov QUEUE_ENTRY_IPOD_KEY"}));
  EXPECT_EQ(h.logActions(), QStringList({"Starting iPhone export ...", "Export finished.",
                                         "Starting Apple TV export ...", "Export finished.",
                                         "Starting iPod export ...", "Export finished."}));
  EXPECT_FALSE(h.controller->qRunning());
  EXPECT_EQ(h.controller->q()->status(0), "Complete");
  EXPECT_EQ(h.controller->q()->status(1), "Complete");
  EXPECT_FALSE(h.controller->sendQuitAtEnd());
}

TEST(Runner, EndOfRunEffectsFollowThePreferences) {
  const std::tuple<bool, bool, int, int> cases[] = {
      {false, false, 0, 0}, {false, true, 0, 0}, {true, false, 1, 0}, {true, true, 1, 1}};
  for (const auto& [complete, bounce, sounds, attentions] : cases) {
    test::ControllerHarness h;
    h.controller->prefs().setBool(Preferences::PrefExportCompletePref, complete);
    h.controller->prefs().setBool(Preferences::PrefDockBounce, bounce);
    h.controller->startQ();  // empty queue: no effects at all
    EXPECT_EQ(h.sounds + h.attentions, 0);
    h.add("/a.mov", {Target::iPod});
    h.controller->startQ();
    h.complete();
    EXPECT_EQ(h.sounds, sounds);
    EXPECT_EQ(h.attentions, attentions);
  }
}

TEST(Runner, NothingPendingEndsTheRunAtOnceAndALaterStartWorks) {
  test::ControllerHarness h;
  h.controller->prefs().setBool(Preferences::PrefExportCompletePref, true);
  h.add("/a.mov", {});
  h.controller->startQ();
  EXPECT_TRUE(h.center.requests().empty());
  EXPECT_EQ(h.controller->qLog()->count(), 0);
  EXPECT_EQ(h.sounds, 1) << "a non-empty queue with nothing to do still ends with the sound";
  EXPECT_FALSE(h.controller->qRunning());
  h.controller->q()->toggleqt(0);
  h.controller->startQ();
  EXPECT_EQ(h.center.requests().size(), 1u);
}

TEST(Runner, StopCancelsTheRunningExportAndEndsTheRun) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone, Target::iPod});
  h.controller->stopQ();
  EXPECT_FALSE(QFile::exists(p::stopFlagPath())) << "nothing to stop while idle";
  h.controller->startQ();
  h.controller->stopQ();
  EXPECT_TRUE(QFile::exists(p::stopFlagPath()));
  h.complete("Cancelled");
  EXPECT_EQ(h.center.requests().size(), 1u);
  EXPECT_FALSE(h.controller->qRunning());
  EXPECT_EQ(h.controller->q()->iPhone(0), "On") << "a cancelled export is still to do";
  EXPECT_EQ(h.logActions().last(), "Export cancelled.");
  h.controller->startQ();
  ASSERT_EQ(h.center.requests().size(), 2u);
  EXPECT_EQ(requestText(h.center.requests().back()), "/a.mov QUEUE_ENTRY_IPHONE_KEY");
}

TEST(Runner, AStoppedExportSaysWhereItGoesOnFrom) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone});
  h.add("/b.mov", {Target::iPhone});
  h.controller->startQ();
  h.complete();
  h.controller->stopQ();
  // The helper kept 62 % of b's export for next time.
  QVariantMap cancelled = h.center.requests().back();
  cancelled.insert(p::EXPORT_RESULT_KEY, "Cancelled");
  cancelled.insert(p::EXPORT_KEPT_FRACTION_KEY, "0.620");
  h.center.deliver(p::kExportComplete, cancelled);
  const auto status = [&](int row) { return h.controller->qTable()->model()->index(row, 6).data().toString(); };
  EXPECT_EQ(status(1), "Stopped at 62 %");
  EXPECT_EQ(Queue::init(h.controller->prefs())->entry(1)->value(p::QUEUE_ENTRY_KEPT_KEY).toString(), "0.620")
      << "after a restart too";
  // Queued behind another movie, it says where it goes on from.
  h.add("/c.mov", {Target::iPhone});
  QVariantList items = h.controller->q()->store().items();
  items.move(2, 1);
  h.controller->q()->store().clear();
  h.controller->q()->store().append(items);
  h.controller->reloadQueueTable();
  h.controller->startQ();
  EXPECT_EQ(requestText(h.center.requests().back()), "/c.mov QUEUE_ENTRY_IPHONE_KEY");
  EXPECT_EQ(status(2), "Resumes at 62 %") << "queued behind a running export";
  h.complete();
  EXPECT_EQ(requestText(h.center.requests().back()), "/b.mov QUEUE_ENTRY_IPHONE_KEY");
  QVariantMap resumed = h.center.requests().back();
  resumed.insert(p::EXPORT_RESUMED_FROM_KEY, "0.620");
  h.center.deliver(p::kExportComplete, resumed);
  EXPECT_EQ(h.logActions().mid(h.logActions().size() - 2), QStringList({"Export resumed at 62 %.", "Export finished."}));
  EXPECT_EQ(status(2), "Complete");
  EXPECT_FALSE(h.controller->q()->entry(2)->contains(p::QUEUE_ENTRY_KEPT_KEY));

  // A movie that leaves the queue takes its kept work, and nothing beside it.
  const auto keptFor = [](const QString& movie, Target target) {
    return paths::keptWorkFolder(movie, QString::number(p::info(target).typeCode), p::outputPath(movie, target, std::nullopt));
  };
  for (const QString& folder : {keptFor("/b.mov", Target::AppleTV), keptFor("/c.mov", Target::iPod),
                                paths::keptWorkRoot() + "/notes"}) {
    QDir().mkpath(folder);
    test::writeFile(folder + "/piece-00000", "kept");
  }
  ASSERT_TRUE(QFileInfo::exists(keptFor("/b.mov", Target::AppleTV)));
  h.controller->qTable()->selectRow(2);
  h.controller->deleteFromQ();
  EXPECT_FALSE(QFileInfo::exists(keptFor("/b.mov", Target::AppleTV)));
  EXPECT_TRUE(QFileInfo::exists(keptFor("/c.mov", Target::iPod))) << "another movie's";
  h.dialogs->alertAnswer = 0;
  h.controller->clearQ();
  EXPECT_FALSE(QFileInfo::exists(keptFor("/c.mov", Target::iPod)));
  EXPECT_TRUE(QFileInfo::exists(paths::keptWorkRoot() + "/notes/piece-00000")) << "not Tovix's";
}

TEST(Runner, ExportFolderIsSentOnlyWhileItExists) {
  test::ControllerHarness h;
  const QString folder = h.home.path() + "/Exports";
  QDir().mkpath(folder);
  h.controller->prefs().setBool(Preferences::PrefExportDiffDirectory, true);
  h.controller->prefs().setString(Preferences::PrefExportDirectory, folder);
  h.add("/Movies/Trip.mov", {Target::AppleTV, Target::QuickTime});
  h.controller->startQ();
  EXPECT_EQ(h.center.requests().back().value(p::EXPORT_DIRECTORY_KEY).toString(), folder);
  EXPECT_EQ(h.controller->currentExportFilename()->toolTip(), folder + "/Trip_ATV.m4v");
  QDir(folder).removeRecursively();
  h.complete();
  EXPECT_FALSE(h.center.requests().back().contains(p::EXPORT_DIRECTORY_KEY));
  EXPECT_EQ(h.controller->currentExportFilename()->toolTip(), "/Movies/Trip_QT.mov");
  // Copying what a device plays is on unless the user turned it off.
  EXPECT_FALSE(h.center.requests().back().contains(p::EXPORT_COPY_PICTURE_KEY));
  h.controller->toggleCopyDevicePicturesPref();
  h.complete();
  h.add("/Movies/Trip2.mov", {Target::AppleTV});
  h.controller->startQ();
  EXPECT_EQ(h.center.requests().back().value(p::EXPORT_COPY_PICTURE_KEY).toString(), "NO");
}

TEST(Runner, CompletionsForDeletedMoviesAndEmptyNotifications) {
  test::ControllerHarness h;
  h.controller->prefs().setBool(Preferences::PrefExportCompletePref, true);
  h.add("/a.mov", {Target::iPhone});
  h.controller->startQ();
  h.controller->q()->deleteMovie(0);
  h.center.deliver(p::kExportProgress, std::nullopt);
  h.center.deliver(p::kExportProgress, QVariantMap{{"OTHER", 1}});
  EXPECT_EQ(h.controller->exportProgress()->value(), 0);
  h.center.deliver(p::kExportComplete, std::nullopt);
  EXPECT_TRUE(h.controller->qRunning()) << "a completion without a dictionary changes nothing";
  h.complete();
  EXPECT_EQ(h.logActions().last(), "Export finished.");
  EXPECT_FALSE(h.controller->qRunning());
  EXPECT_EQ(h.sounds, 0) << "the queue is empty now: no sound";
}

TEST(Runner, AnExportErrorEndsTheRun) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone, Target::iPod});
  h.controller->startQ();
  h.center.deliver(p::kExportError, h.center.requests().back());
  EXPECT_FALSE(h.controller->qRunning());
  EXPECT_EQ(h.center.requests().size(), 1u);
  EXPECT_EQ(h.controller->q()->iPhone(0), "On");
  h.center.deliver(p::kExportComplete, h.center.requests().back());
  EXPECT_EQ(h.controller->q()->iPhone(0), "On") << "a late answer to the refused request changes nothing";
  EXPECT_EQ(h.center.requests().size(), 1u);
  h.controller->startQ();
  EXPECT_EQ(h.center.requests().size(), 2u) << "a new Start is possible";
}

TEST(Runner, AHelperLostMidExportFailsThatExportAndTheRunGoesOn) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone});
  h.add("/b.mov", {Target::iPhone});
  h.controller->startQ();
  h.helper->readyNow = false;
  emit h.helper->lost();
  EXPECT_EQ(h.logActions(), QStringList({"Starting iPhone export ...",
                                         "Export failed: the converter TovixHelper stopped during the export.",
                                         "Starting iPhone export ..."}));
  EXPECT_EQ(h.controller->q()->status(0), "Failed");
  ASSERT_EQ(h.center.requests().size(), 1u) << "the next request waits for a listening helper";
  h.helper->readyNow = true;
  emit h.helper->ready();
  ASSERT_EQ(h.center.requests().size(), 2u);
  EXPECT_EQ(requestText(h.center.requests().back()), "/b.mov QUEUE_ENTRY_IPHONE_KEY");
  h.complete();
  EXPECT_FALSE(h.controller->qRunning());
}

TEST(Runner, AHelperThatCannotStartEndsTheRunWithAMessage) {
  test::ControllerHarness h;
  h.helper->readyNow = false;
  h.add("/a.mov", {Target::iPhone});
  h.controller->startQ();
  EXPECT_TRUE(h.center.requests().empty());
  emit h.helper->unavailable("The converter TovixHelper could not be started.");
  EXPECT_FALSE(h.controller->qRunning());
  EXPECT_TRUE(h.controller->helperMessage()->isVisibleTo(h.controller->controllerWindow()));
  EXPECT_EQ(h.controller->q()->iPhone(0), "On");
}

TEST(Runner, OnlyTheStartedHelperAnsweringTheOutstandingRequestCounts) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone});
  h.add("/b.mov", {Target::iPhone});
  QVariantMap stray{{p::QUEUE_ENTRY_MOVIE_PATH_KEY, "/a.mov"}, {p::EXPORT_TYPE_KEY, p::QUEUE_ENTRY_IPHONE_KEY}};
  h.center.deliver(p::kExportComplete, stray);
  EXPECT_TRUE(h.center.requests().empty()) << "an idle Tovix starts nothing for a stray completion";
  h.controller->startQ();
  const QString stranger = ":1.99";
  h.center.deliver(p::kExportProgress, QVariantMap{{p::EXPORT_PROGRESS_KEY, 0.7}}, stranger);
  h.center.deliver(p::kExportComplete, h.center.requests().back(), stranger);
  h.center.deliver(p::kExportError, h.center.requests().back(), stranger);
  stray.insert(p::QUEUE_ENTRY_MOVIE_PATH_KEY, "/b.mov");
  h.center.deliver(p::kExportComplete, stray);
  EXPECT_EQ(h.controller->exportProgress()->value(), 0);
  EXPECT_EQ(h.center.requests().size(), 1u);
  EXPECT_TRUE(h.controller->qRunning());
  EXPECT_EQ(h.controller->q()->iPhone(1), "On") << "a completion for another request settles nothing";
  h.complete();
  h.complete();
  EXPECT_EQ(h.center.requests().size(), 2u);
  EXPECT_EQ(h.controller->q()->status(0), "Complete");
  EXPECT_EQ(h.controller->q()->status(1), "Complete");
}

TEST(Runner, ACompletionSettlesTheRequestedEntryEvenAmongSamePaths) {
  test::ControllerHarness h;
  h.add("/same.mov", {Target::iPhone});
  h.controller->startQ();
  h.complete();
  EXPECT_EQ(h.controller->q()->iPhone(0), "OnDone");
  h.add("/same.mov", {Target::iPhone});
  h.controller->startQ();
  h.controller->q()->deleteMovie(1);
  h.complete("Failed");
  EXPECT_EQ(h.controller->q()->count(), 1);
  EXPECT_EQ(h.controller->q()->status(0), "Complete") << "the deleted entry's failure marks no other entry";

  h.add("/same.mov", {Target::iPod});
  h.add("/x.mov", {});
  h.controller->startQ();
  h.controller->q()->deleteMovie(0);  // the entry in flight moves up: it is found by identity
  h.complete("Failed");
  EXPECT_EQ(h.controller->q()->status(0), "Failed");
  EXPECT_EQ(h.controller->q()->iPod(0), "OnDone");
}

TEST(Runner, AnUntickDuringTheExportStandsAfterAStop) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone, Target::iPod});
  h.controller->startQ();
  h.controller->q()->toggleiPhone(0);
  h.controller->stopQ();
  h.complete("Cancelled");
  EXPECT_EQ(h.controller->q()->iPhone(0), "Off");
  h.controller->startQ();
  EXPECT_EQ(requestText(h.center.requests().back()), "/a.mov QUEUE_ENTRY_IPOD_KEY");
}

TEST(Runner, NoStopFlagOutlivesItsRunAndTheNextStartExportsEverything) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone});
  h.add("/b.mov", {Target::iPhone, Target::QuickTime});
  h.controller->startQ();
  h.controller->stopQ();  // after the helper's last progress call: the export still finishes
  h.complete();
  EXPECT_FALSE(h.controller->qRunning());
  EXPECT_FALSE(QFile::exists(p::stopFlagPath())) << "the flag was for the run that ended";
  h.controller->startQ();
  h.complete();
  h.complete();
  EXPECT_EQ(h.center.requests().size(), 3u);
  EXPECT_EQ(h.controller->q()->status(1), "Complete");
}

TEST(Runner, AMovieWrittenUnderANumberedNameOrWithoutSomeTracksSaysSoInTheLog) {
  test::ControllerHarness h;
  h.add("/m/Trip.mov", {Target::iPod});
  h.add("/m/Trip.mov", {Target::iPhone});
  h.controller->startQ();
  QVariantMap finished = h.center.requests().back();
  finished.insert(p::EXPORT_OUTPUT_PATH_KEY, "/m/Trip_iPod.m4v");
  h.center.deliver(p::kExportComplete, finished);
  EXPECT_EQ(h.logActions().at(1), "Export finished.");
  finished = h.center.requests().back();
  finished.insert(p::EXPORT_RESULT_KEY, "Finished");
  finished.insert(p::EXPORT_OUTPUT_PATH_KEY, "/m/Trip_iPhone 2.m4v");
  h.center.deliver(p::kExportComplete, finished);
  EXPECT_EQ(h.logActions().at(3), "Export finished as Trip_iPhone 2.m4v.");
  EXPECT_EQ(h.controller->showInFinderPath(), "/m/Trip_iPhone 2.m4v") << "the file written, for Show in Folder";
  EXPECT_EQ(Queue::init(h.controller->prefs())->latestOutput(1), "/m/Trip_iPhone 2.m4v")
      << "a row's Show in Folder still finds it after a restart";
  h.add("/m/Film.mkv", {Target::AppleTV});
  h.controller->startQ();
  finished = h.center.requests().back();
  finished.insert(p::EXPORT_LEFT_OUT_KEY, "2 picture subtitle tracks");
  finished.insert(p::EXPORT_PICTURE_COPIED_KEY, "YES");
  h.center.deliver(p::kExportComplete, finished);
  EXPECT_EQ(h.logActions().at(5), "Export finished; picture copied as it is; left out: 2 picture subtitle tracks.");
}

TEST(Runner, TheDesktopHearsOfTheRunItsProgressAndItsEnd) {
  test::ControllerHarness h;
  h.controller->prefs().setBool(Preferences::PrefExportCompletePref, true);
  h.add("/m/a.mov", {Target::iPhone, Target::iPod});
  h.add("/m/b.mov", {Target::iPhone});
  h.controller->startQ();
  EXPECT_TRUE(h.desktop->inhibited) << "no suspend while converting";
  h.center.deliver(p::kExportProgress, QVariantMap{{p::EXPORT_PROGRESS_KEY, 0.5}});
  EXPECT_DOUBLE_EQ(h.desktop->progress.back().value_or(-1), 0.5 / 3) << "the whole run's progress";
  QVariantMap finished = h.center.requests().back();
  finished.insert(p::EXPORT_OUTPUT_PATH_KEY, "/m/a_iPhone.m4v");
  h.center.deliver(p::kExportComplete, finished);
  h.complete("Failed");
  EXPECT_TRUE(h.desktop->notifications.empty()) << "one notification, at the end";
  h.complete();
  EXPECT_FALSE(h.desktop->inhibited);
  EXPECT_EQ(h.desktop->progress.back(), std::nullopt) << "the task bar is cleared";
  ASSERT_EQ(h.desktop->notifications.size(), 1u);
  EXPECT_EQ(h.desktop->notifications[0][0], "Conversion finished with failures");
  EXPECT_EQ(h.desktop->notifications[0][1], "2 exports finished, 1 failed");
  EXPECT_EQ(h.desktop->notifications[0][2], "/m/b_iPhone.m4v") << "Show in Folder shows the latest output";

  h.controller->prefs().setBool(Preferences::PrefExportCompletePref, false);
  h.add("/m/c.mov", {Target::iPod});
  h.controller->startQ();
  h.complete();
  ASSERT_EQ(h.desktop->notifications.size(), 2u) << "notifications have a preference of their own, not the sound's";
  EXPECT_EQ(h.desktop->notifications[1][0], "Conversion done");
  h.add("/m/e.mov", {Target::iPod});
  h.controller->startQ();
  h.controller->stopQ();
  h.complete();
  EXPECT_EQ(h.desktop->notifications.size(), 2u) << "the user's own Stop needs no telling";
  h.controller->prefs().setBool(Preferences::PrefQueueNotification, false);
  h.add("/m/f.mov", {Target::iPod});
  h.controller->startQ();
  h.complete();
  EXPECT_EQ(h.desktop->notifications.size(), 2u) << "turned off";
  EXPECT_FALSE(h.desktop->inhibited);

  h.add("/m/d.mov", {Target::iPhone, Target::iPod});
  h.controller->startQ();
  h.complete("Failed");
  h.center.deliver(p::kExportProgress, QVariantMap{{p::EXPORT_PROGRESS_KEY, 0.5}});
  EXPECT_DOUBLE_EQ(h.desktop->progress.back().value_or(-1), 0.75) << "a failed export counts as done";
}

// The file being written is named in every run, not only the first after
// a start: shortened in its middle when room is short, whole in its tool tip.
TEST(Runner, TheStatusLineNamesTheFileInEveryRunAndAfterARestart) {
  const auto nameShows = [](test::ControllerHarness& h, const QString& movie, const QString& written) {
    h.add(movie, {Target::iPhone});
    h.controller->startQ();
    h.center.deliver(p::kExportProgress, QVariantMap{{p::EXPORT_PROGRESS_KEY, 0.3}});
    QCoreApplication::processEvents();
    const ElidedLabel* name = h.controller->currentExportFilename();
    EXPECT_GT(name->width(), 40) << written.toStdString();
    EXPECT_TRUE(name->text().startsWith(written.left(3)) && name->text().size() > 3) << name->text().toStdString();
    EXPECT_EQ(name->toolTip(), "/m/" + written);
    h.complete();
  };
  std::optional<test::ControllerHarness> first(std::in_place);
  first->controller->controllerWindow()->resize(900, 500);
  nameShows(*first, "/m/first.mov", "first_iPhone.m4v");
  nameShows(*first, "/m/second.mov", "second_iPhone.m4v");
  first->controller->saveWindowPlaces();
  first.reset();
  test::ControllerHarness restarted;
  nameShows(restarted, "/m/third.mov", "third_iPhone.m4v");
}

TEST(Runner, TheStatusLineFollowsTheRunAndTheRowInFlightSaysConverting) {
  test::ControllerHarness h;
  h.add("/m/a.mov", {Target::iPhone, Target::iPod});
  h.controller->startQ();
  h.center.deliver(p::kExportProgress, QVariantMap{{p::EXPORT_PROGRESS_KEY, 0.42}});
  const QString running = h.controller->runStatus()->text();
  EXPECT_TRUE(running.startsWith("42% · 0:00 elapsed")) << running.toStdString();
  EXPECT_TRUE(running.endsWith("export 1 of 2")) << running.toStdString();
  EXPECT_EQ(h.controller->currentExportFilename()->fullText(), "a_iPhone.m4v");
  const QModelIndex status = h.controller->qTable()->model()->index(0, 6);
  EXPECT_EQ(status.data().toString(), "Converting 42%");
  EXPECT_EQ(h.controller->q()->status(0), "Queued") << "display only";

  h.controller->pauseQ();
  EXPECT_TRUE(h.helper->paused);
  EXPECT_EQ(h.controller->currentExportLabel()->text(), "Paused") << "the line begins with it, not with Converting";
  EXPECT_TRUE(h.controller->runStatus()->text().startsWith("42% · ")) << h.controller->runStatus()->text().toStdString();
  EXPECT_EQ(status.data().toString(), "Paused 42%");
  h.controller->stopQ();  // a held helper runs again, to see the stop
  EXPECT_FALSE(h.helper->paused);
  h.complete("Cancelled");
  EXPECT_EQ(h.controller->runStatus()->text(), "Queue stopped · 0 exports finished");
  EXPECT_EQ(status.data().toString(), "Queued");

  h.controller->startQ();
  h.complete();
  h.complete("Failed");
  EXPECT_EQ(h.controller->runStatus()->text(), "1 export finished, 1 failed");
  h.controller->clearFinished();
  EXPECT_FALSE(h.controller->runStatus()->isVisibleTo(h.controller->controllerWindow()))
      << "the summary goes once the queue changes";
  h.add("/m/b.mov", {Target::iPhone, Target::iPod, Target::AppleTV});
  h.controller->startQ();
  h.complete();
  h.center.deliver(p::kExportProgress, QVariantMap{{p::EXPORT_PROGRESS_KEY, 0.1}});
  EXPECT_TRUE(h.controller->runStatus()->text().endsWith("export 2 of 3")) << h.controller->runStatus()->text().toStdString();
  EXPECT_TRUE(h.controller->runStatus()->isVisibleTo(h.controller->controllerWindow()));
}

TEST(Runner, RetryFailedExportsTheFailedTargetsAgain) {
  test::ControllerHarness h;
  h.add("/m/a.mov", {Target::iPhone, Target::AppleTV});
  h.add("/m/b.mov", {Target::iPod});
  h.add("/m/c.mov", {Target::iPod});
  h.controller->startQ();
  h.complete("Failed");
  h.complete();
  h.complete("Failed");
  h.complete("Failed");
  EXPECT_EQ(h.controller->q()->status(0), "Failed");
  EXPECT_TRUE(h.controller->q()->failed(0, Target::iPhone));
  h.controller->qTable()->selectRow(0);
  h.controller->retryFailed();
  EXPECT_EQ(h.controller->q()->iPhone(0), "On");
  EXPECT_EQ(h.controller->q()->appletv(0), "OnDone");
  EXPECT_EQ(h.controller->q()->status(0), "Started") << "the Apple TV export is done";
  EXPECT_EQ(h.controller->q()->status(1), "Failed") << "only the selected row";
  EXPECT_TRUE(h.controller->qRunning()) << "an idle queue starts";
  EXPECT_EQ(requestText(h.center.requests().back()), "/m/a.mov QUEUE_ENTRY_IPHONE_KEY");
  h.complete();
  h.controller->qTable()->clearSelection();
  ASSERT_TRUE(h.controller->canRetryFailed());
  h.controller->retryFailed();
  EXPECT_EQ(h.controller->q()->status(1), "Queued") << "with no row selected, every failed row; nothing else of it is done";
  EXPECT_EQ(h.controller->q()->status(2), "Queued");
  h.complete();
  h.complete();
  EXPECT_EQ(h.controller->q()->status(0), "Complete");
  EXPECT_EQ(h.controller->q()->status(2), "Complete");
  EXPECT_FALSE(h.controller->q()->failed(0, Target::iPhone)) << "no failed badge after a good export";
  EXPECT_FALSE(h.controller->q()->failed(1, Target::iPod));
  EXPECT_FALSE(h.controller->canRetryFailed()) << "greyed out when nothing failed";
}

TEST(Runner, QuittingMidExportAsksAndLogsHowTheExportEnded) {
  for (const bool terminated : {false, true}) {
    test::ControllerHarness h;
    int ended = -1;
    h.controller->endProcess = [&](int status) { ended = status; };
    h.add("/m/a.mov", {Target::iPhone});
    h.controller->startQ();
    if (!terminated) {
      h.dialogs->alertAnswer = 1;
      h.controller->controllerWindow()->close();
      ASSERT_EQ(h.dialogs->alerts.size(), 1u);
      EXPECT_EQ(h.dialogs->alerts[0].firstButton, "Quit and stop the export");
      EXPECT_TRUE(h.dialogs->alerts[0].secondIsDefault) << "Return cancels";
      EXPECT_EQ(ended, -1) << "Cancel keeps converting";
      EXPECT_TRUE(h.controller->qRunning());
      h.dialogs->alertAnswer = 0;
      h.controller->controllerWindow()->close();
    } else {
      h.controller->quitWithoutAsking();  // SIGTERM, logging out
      EXPECT_TRUE(h.dialogs->alerts.empty());
    }
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(h.logActions().last(), "Export cancelled.");
  }
}

TEST(Runner, AFailureSaysWhyInTheLogAndTheEntry) {
  test::ControllerHarness h;
  h.add("/a.mov", {Target::iPhone});
  h.controller->startQ();
  QVariantMap failed = h.center.requests().back();
  failed.insert(p::EXPORT_RESULT_KEY, "Failed");
  failed.insert(p::EXPORT_ERROR_TEXT_KEY, "the movie file is missing.");
  h.center.deliver(p::kExportComplete, failed);
  EXPECT_EQ(h.logActions().last(), "Export failed: the movie file is missing.");
  EXPECT_EQ(h.controller->q()->entry(0)->value(p::QUEUE_ENTRY_ERROR_TEXT_KEY), "the movie file is missing.");
}

TEST(Runner, AFailedSaveIsReportedOnceAndTheQueueKept) {
  test::ControllerHarness h;
  const QString folder = h.home.dataFolder() + "/Queue";
  QDir(folder).removeRecursively();
  test::writeFile(folder, "not a folder");
  h.add("/a.mov", {Target::iPhone});
  h.add("/b.mov", {Target::iPhone});
  EXPECT_TRUE(h.controller->storeMessage()->isVisibleTo(h.controller->controllerWindow()));
  EXPECT_EQ(h.controller->storeMessage()->text().count('\n'), 0) << "reported once";
  EXPECT_EQ(h.controller->q()->count(), 2);
  QFile::remove(folder);
  QDir().mkpath(folder);
  h.controller->q()->toggleiPod(1);
  EXPECT_EQ(Queue::init(h.controller->prefs())->count(), 2) << "the next change saves everything";
}
