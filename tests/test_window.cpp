// The windows offscreen: queue table dressing, drops, toolbars, commands with
// their alerts answered here, preferences, movie information and preview.
#include "AppTestSupport.h"
#include "BusTestSupport.h"
#include "app/window/BackgroundView.h"
#include "app/window/TableModels.h"
#include "app/window/WindowPlace.h"
#include "ui_GeneralPrefs.h"
#include "ui_InfoPanel.h"
#include "ui_PreviewPanel.h"
#include "ui_UpdatePrefs.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QKeyEvent>

#include <QAbstractButton>
#include <QApplication>
#include <QAccessible>
#include <QAction>
#include <QAudioOutput>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMainWindow>
#include <QMediaPlayer>
#include <QSlider>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWidgetAction>

#include <set>

using namespace tovix;
using protocol::Target;
namespace p = tovix::protocol;

namespace {

class WindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    clips = new QTemporaryDir;
    ASSERT_FALSE(test::makeClip(clips->path() + "/movie.mov",
                                test::standardClipArguments(2) + QStringList{"-c:v", "libx264", "-c:a", "aac",
                                                                            "-metadata", "copyright=(c) Tovix"}).isEmpty());
    ASSERT_FALSE(test::makeClip(clips->path() + "/plain.mp4",
                                test::standardClipArguments(1) + QStringList{"-c:v", "libx264", "-c:a", "aac"}).isEmpty());
  }
  static void TearDownTestSuite() { delete clips; }

  // A copy of a generated clip in the home folder under name.
  QString movie(const QString& name, const QString& from = "movie.mov") {
    const QString path = h.home.path() + "/" + name;
    QFile::copy(clips->path() + "/" + from, path);
    return path;
  }
  QStringList queuedNames() {
    QStringList names;
    for (int i = 0; i < h.controller->q()->count(); ++i) names << h.controller->q()->movieDisplayName(i).value_or("");
    return names;
  }
  bool drop(const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    const bool accepted = h.controller->tableView(h.controller->qTable(), &data, true);
    settleIntake();
    return accepted;
  }
  // Waits until the files given have been tested and queued.
  void settleIntake() { EXPECT_TRUE(test::waitUntil([this] { return !h.controller->takingFiles(); })); }
  QAbstractItemModel* model() { return h.controller->qTable()->model(); }
  // The identifiers a toolbar shows, in order; "|" for a separator.
  static QStringList shown(QToolBar* bar) {
    QStringList ids;
    for (QAction* action : bar->actions()) {
      if (action->isSeparator()) ids << "|";
      else if (auto* space = qobject_cast<QWidgetAction*>(action)) ids << space->defaultWidget()->objectName();
      else if (auto* widget = bar->widgetForAction(action); widget && !qobject_cast<QToolButton*>(widget)) ids << widget->objectName();
      else ids << action->objectName();
    }
    return ids;
  }

  static QTemporaryDir* clips;
  test::ControllerHarness h;
};
QTemporaryDir* WindowTest::clips = nullptr;

}  // namespace

TEST_F(WindowTest, QueueTableDressesCheckBoxesAndStatusImages) {
  h.add("/a.mov", {Target::iPhone, Target::iPod});
  h.controller->q()->updateMovie({{p::QUEUE_ENTRY_MOVIE_PATH_KEY, "/a.mov"}, {p::EXPORT_TYPE_KEY, p::QUEUE_ENTRY_IPHONE_KEY}});
  h.add("/b.mov", {Target::QuickTime});
  h.controller->q()->updateMovie({{p::QUEUE_ENTRY_MOVIE_PATH_KEY, "/b.mov"}, {p::EXPORT_TYPE_KEY, p::QUEUE_ENTRY_QT_KEY}});
  h.add("/c.mov", {Target::iPhone});
  h.controller->q()->updateMovie({{p::QUEUE_ENTRY_MOVIE_PATH_KEY, "/c.mov"}, {p::EXPORT_TYPE_KEY, p::QUEUE_ENTRY_IPHONE_KEY},
                                  {p::EXPORT_RESULT_KEY, "Failed"}, {p::EXPORT_ERROR_TEXT_KEY, "the disk is full."}});
  h.controller->reloadQueueTable();
  ASSERT_EQ(model()->rowCount(), 3);
  const auto cell = [&](int row, int column, int role) { return model()->index(row, column).data(role); };
  // Row 0: iPhone OnDone (checked, frozen), iPod On (checked, clickable),
  // Apple TV Off (unchecked, clickable), status Started.
  EXPECT_EQ(cell(0, 2, Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_FALSE(model()->flags(model()->index(0, 2)) & Qt::ItemIsEnabled);
  EXPECT_EQ(cell(0, 3, Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_TRUE(model()->flags(model()->index(0, 3)) & Qt::ItemIsEnabled);
  EXPECT_EQ(cell(0, 4, Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_TRUE(model()->flags(model()->index(0, 4)) & Qt::ItemIsEnabled);
  // Row 1: OffDone targets are frozen and drawn as a dash, not as a box
  // that looks clickable: the rows of ink in the cell span a line, not a box.
  EXPECT_FALSE(model()->flags(model()->index(1, 2)) & Qt::ItemIsEnabled);
  EXPECT_EQ(cell(1, 2, Qt::ToolTipRole).toString(), "iPhone, not chosen; the movie is done. Add it again to export it for iPhone.");
  h.controller->controllerWindow()->show();
  QApplication::processEvents();
  const auto inkRows = [&](int row, int column) {
    QTableView* view = h.controller->qTable();
    const QImage shot = view->viewport()->grab(view->visualRect(model()->index(row, column))).toImage();
    const QRgb background = shot.pixel(1, shot.height() / 2);
    std::set<int> rows;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x)
        if (qGray(shot.pixel(x, y)) < qGray(background) - 40) rows.insert(y);
    return rows.empty() ? 0 : *rows.rbegin() - *rows.begin() + 1;
  };
  EXPECT_LE(inkRows(1, 2), 3) << "a dash";
  EXPECT_GE(inkRows(0, 4), 8) << "a live box";
  EXPECT_EQ(cell(0, 0, QueueTableModel::ImageNameRole).toString(), "LI_ok_to_encode2.png");
  EXPECT_EQ(cell(1, 0, QueueTableModel::ImageNameRole).toString(), "LI_encoded_ok.png");
  EXPECT_EQ(cell(2, 0, QueueTableModel::ImageNameRole).toString(), "LI_encode_failed.png");
  EXPECT_EQ(cell(0, 1, Qt::DisplayRole).toString(), "a.mov") << "the display name, not the path";
  EXPECT_EQ(cell(0, 6, Qt::DisplayRole).toString(), "Partly done (1 of 2)") << "stored as Started, said as how far";
  EXPECT_EQ(cell(2, 6, Qt::DisplayRole).toString(), "Failed");
  EXPECT_EQ(cell(2, 6, Qt::ToolTipRole).toString(), "Export failed: the disk is full.");
  // A done target carries a badge and a failed one another; a screen reader hears plain words.
  EXPECT_TRUE(cell(0, 2, QueueTableModel::BadgeRole).toString().endsWith("LI_encoded_ok.png"));
  EXPECT_TRUE(cell(2, 2, QueueTableModel::BadgeRole).toString().endsWith("LI_encode_failed.png"));
  EXPECT_TRUE(cell(0, 3, QueueTableModel::BadgeRole).toString().isEmpty());
  EXPECT_EQ(cell(0, 2, Qt::AccessibleTextRole).toString(), "iPhone, done");
  EXPECT_EQ(cell(2, 2, Qt::AccessibleTextRole).toString(), "iPhone, failed");
  EXPECT_EQ(cell(0, 3, Qt::AccessibleTextRole).toString(), "iPod, will export");
  EXPECT_EQ(cell(0, 4, Qt::AccessibleTextRole).toString(), "Apple TV, not exported");
  EXPECT_EQ(QueueTableModel::columnIdentifiers().at(2), p::QUEUE_ENTRY_IPHONE_KEY);

  // A click on a check box flips that row's flag through the controller.
  model()->setData(model()->index(0, 4), Qt::Checked, Qt::CheckStateRole);
  EXPECT_EQ(h.controller->q()->appletv(0), "On");
  EXPECT_EQ(h.controller->selectedRow(), 0);
  model()->setData(model()->index(0, 2), Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_EQ(h.controller->q()->iPhone(0), "OnDone");

  // A screen reader's Toggle flips a check box rather than selecting the row;
  // a frozen check box reads as read-only, not as switched off.
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(h.controller->qTable());
  ASSERT_TRUE(table && table->tableInterface());
  h.controller->qTable()->selectRow(1);
  QAccessibleInterface* appleTv = table->tableInterface()->cellAt(0, 4);
  ASSERT_TRUE(appleTv && appleTv->actionInterface());
  EXPECT_EQ(appleTv->text(QAccessible::Name), "Apple TV, will export");
  appleTv->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(h.controller->q()->appletv(0), "Off");
  QAccessibleInterface* frozen = table->tableInterface()->cellAt(0, 2);
  EXPECT_TRUE(frozen->state().readOnly && frozen->state().checked && !frozen->state().disabled);
  EXPECT_TRUE(frozen->actionInterface()->actionNames().isEmpty());
  QAccessibleInterface* notChosen = table->tableInterface()->cellAt(1, 2);
  EXPECT_TRUE(notChosen->state().readOnly && !notChosen->state().checked);
  EXPECT_TRUE(notChosen->text(QAccessible::Name).startsWith("iPhone, not chosen; the movie is done."));
  EXPECT_EQ(table->child(table->indexOfChild(frozen)), frozen);

  // A stored value of any length shows shortened, so no cell can hold the
  // window up while it is measured and painted.
  QVariantMap huge = *h.controller->q()->entry(1);
  huge.insert(p::QUEUE_ENTRY_DISPLAY_KEY, QString(16 << 20, 'x'));
  h.controller->q()->store().replace(1, huge);
  h.controller->reloadQueueTable();
  EXPECT_LE(cell(1, 1, Qt::DisplayRole).toString().size(), 256);
  EXPECT_TRUE(cell(1, 1, Qt::DisplayRole).toString().contains(QChar(0x2026)));
  EXPECT_LE(h.controller->qTable()->horizontalHeader()->resizeContentsPrecision(), 100);

  // At the window's narrowest the Movie column still shows about twenty
  // characters, and every column stays in view, even in a large font.
  QMainWindow* window = h.controller->controllerWindow();
  QFont large = h.controller->qTable()->font();
  large.setPointSize(3 * large.pointSize());
  h.controller->qTable()->setFont(large);
  window->resize(1, window->height());
  QApplication::processEvents();
  QTableView* view = h.controller->qTable();
  EXPECT_GE(view->horizontalHeader()->sectionSize(1), 20 * view->fontMetrics().averageCharWidth());
  EXPECT_LE(view->horizontalHeader()->length(), view->viewport()->width());
  EXPECT_LE(view->mapTo(window, QPoint(view->width(), 0)).x(), window->width()) << "the window grew to hold it";
}

TEST_F(WindowTest, DropsAreSortedTestedAndAppended) {
  const QString b = movie("b.mov"), a = movie("A.mov"), c = movie("c.avi", "plain.mp4");
  EXPECT_TRUE(drop({b, a, c}));
  EXPECT_EQ(queuedNames(), QStringList({"A.mov", "b.mov", "c.avi"}));

  const QString trailer = movie("Trailer.MOV");
  const QString m4v = movie("clip.m4v");
  test::writeFile(h.home.path() + "/fake.avi", "text, not a movie");
  QDir().mkpath(h.home.path() + "/Holiday.mov");
  QFile::link(a, h.home.path() + "/link.mov");
  QFile::link(h.home.path() + "/gone.mov", h.home.path() + "/dangling.mov");
  QFile::link(h.home.path() + "/Holiday.mov", h.home.path() + "/folderlink.mov");
  for (const char* name : {"notes", "movie.", "movie.mov.txt"}) test::writeFile(h.home.path() + "/" + name, "x");
  EXPECT_TRUE(drop({h.home.path() + "/fake.avi", h.home.path() + "/Holiday.mov", trailer, m4v,
                    h.home.path() + "/link.mov", h.home.path() + "/dangling.mov", h.home.path() + "/folderlink.mov",
                    h.home.path() + "/notes", h.home.path() + "/movie.", h.home.path() + "/movie.mov.txt"}));
  EXPECT_EQ(queuedNames(), QStringList({"A.mov", "b.mov", "c.avi", "clip.m4v", "A.mov", "Trailer.MOV"}))
      << "a link is queued as the file it points to, as from the open panel";
  ASSERT_EQ(h.dialogs->messages.size(), 1u) << "one message names every refused file";
  EXPECT_EQ(h.dialogs->messages[0].first, "7 files were not added to the queue.");
  const QString details = h.dialogs->messages[0].second;
  EXPECT_TRUE(details.contains("fake.avi: it is not a movie Tovix can read")) << details.toStdString();
  EXPECT_TRUE(details.contains("Holiday.mov: it is a folder with no movies in it"));
  EXPECT_TRUE(details.contains("dangling.mov: it is missing"));
  EXPECT_TRUE(details.contains("notes: it is not a movie file"));
  EXPECT_TRUE(drop({h.home.path() + "/notes"})) << "success is reported even when nothing was added";
  // While the message is up, later refusals extend it; once closed, a new one starts.
  EXPECT_EQ(h.dialogs->messages.back().first, "8 files were not added to the queue.");
  EXPECT_TRUE(h.dialogs->messages.back().second.contains("fake.avi"));
  h.dialogs->messageUp = false;
  EXPECT_TRUE(drop({h.home.path() + "/notes"}));
  EXPECT_EQ(h.dialogs->messages.back().first, "One file was not added to the queue.");

  // A season's folder: the movies inside, sub-folders too, in natural order,
  // taken in its place; only what inside could not be added is named.
  h.controller->q()->clear();
  const QString season = h.home.path() + "/Season 1";
  QDir().mkpath(season + "/Extras");
  QDir().mkpath(season + "/.hidden");
  QFile::rename(movie("Episode 10.mov"), season + "/Episode 10.mov");
  QFile::rename(movie("episode 2.mov"), season + "/episode 2.mov");
  QFile::rename(movie("Making of.mov"), season + "/Extras/Making of.mov");
  QFile::rename(movie("Hidden.mov"), season + "/.hidden/Hidden.mov");
  test::writeFile(season + "/cover.jpg", "a picture");
  test::writeFile(season + "/Episode 3.mov", "a damaged file");
  EXPECT_TRUE(drop({season, trailer}));
  EXPECT_EQ(queuedNames(), QStringList({"episode 2.mov", "Episode 10.mov", "Making of.mov", "Trailer.MOV"}));
  EXPECT_EQ(h.dialogs->messages.back().first, "One file was not added to the queue.");
  EXPECT_EQ(h.dialogs->messages.back().second, season + "/Episode 3.mov: it is not a movie Tovix can read");
  // A long list shows its first lines and says how many more Show Details holds.
  QStringList many;
  for (int i = 1; i <= 15; ++i) many << QString("/m/%1.mov: it is missing").arg(i);
  const auto box = Dialogs::informBox(nullptr, "15 files were not added to the queue.", many.join('\n'));
  EXPECT_TRUE(box->informativeText().endsWith("/m/12.mov: it is missing\n… and 3 more (Show Details)"));
  EXPECT_EQ(box->detailedText(), many.join('\n'));

  QMimeData text;
  text.setText("not a file list");
  EXPECT_FALSE(h.controller->tableView(h.controller->qTable(), &text, true));
  EXPECT_EQ(h.controller->tableView(h.controller->qTable(), &text), Qt::CopyAction);
  EXPECT_EQ(h.controller->tableView(h.controller->logTable(), &text), Qt::IgnoreAction);
}

TEST_F(WindowTest, ToolbarsShowTheirItemsInOrderWithToolTipsAndActions) {
  Controller& c = *h.controller;
  EXPECT_EQ(shown(c.mainToolbar()),
            QStringList({"AddToQToolbarItem", "|", "StartQToolbarItem", "StopQToolbarItem", Controller::kFlexibleSpaceItemIdentifier,
                         "PreviewToolbarItem", "InfoToolbarItem", "ShowLogToolbarItem", "ClearFinishedToolbarItem",
                         "ClearQToolbarItem"}));
  EXPECT_EQ(shown(c.prefsToolbar()), QStringList({"GeneralToolbarItem", "UpdateToolbarItem"}));
  EXPECT_EQ(shown(c.logToolbar()), QStringList({Controller::kFlexibleSpaceItemIdentifier, "ClearLogToolbarItem"}));
  EXPECT_EQ(c.toolbarDefaultItemIdentifiers(c.mainToolbar()), c.toolbarAllowedItemIdentifiers(c.mainToolbar()));
  EXPECT_EQ(c.toolbarSelectableItemIdentifiers(c.prefsToolbar()), QStringList({"GeneralToolbarItem", "UpdateToolbarItem"}));
  EXPECT_TRUE(c.toolbarSelectableItemIdentifiers(c.mainToolbar()).isEmpty());

  QAction* remove = c.toolbar(c.mainToolbar(), "DeleteFromQToolbarItem", true);
  ASSERT_NE(remove, nullptr) << "asked for, though never shown";
  EXPECT_EQ(remove, c.toolbar(c.mainToolbar(), "DeleteFromQToolbarItem", false)) << "the same item every time";
  EXPECT_EQ(remove->text(), "Delete");
  EXPECT_NE(c.toolbar(c.mainToolbar(), "PrefsToolbarItem", true), nullptr);
  EXPECT_EQ(c.toolbar(c.prefsToolbar(), "AddToQToolbarItem", true), nullptr);
  EXPECT_EQ(c.toolbar(c.logToolbar(), "GeneralToolbarItem", true), nullptr);

  QAction* clearAll = c.toolbar(c.mainToolbar(), "ClearQToolbarItem", true);
  EXPECT_EQ(clearAll->toolTip(), "Clear the queue. (Queue menu)") << "the keyboard's way too";
  EXPECT_EQ(clearAll->property("imageName").toString(), "TB_clear_all.png");
  EXPECT_EQ(c.toolbar(c.logToolbar(), "ClearLogToolbarItem", true)->toolTip(), "Remove all entries from the log.");
  EXPECT_EQ(c.toolbar(c.mainToolbar(), "StartQToolbarItem", true)->toolTip(), "Start converting the items on the queue. (Ctrl+R)");

  h.add("/a.mov", {Target::iPhone});
  c.toolbar(c.mainToolbar(), "StartQToolbarItem", true)->trigger();
  EXPECT_EQ(h.center.requests().size(), 1u);
  c.toolbar(c.mainToolbar(), "ShowLogToolbarItem", true)->trigger();
  EXPECT_TRUE(c.logWindow()->isVisible());
  // A line shows the movie's name whole; its folder is in the tool tip.
  const QModelIndex movieCell = c.logTable()->model()->index(0, 1);
  EXPECT_EQ(movieCell.data().toString(), "a.mov");
  EXPECT_EQ(movieCell.data(Qt::ToolTipRole).toString(), "/a.mov");
  c.toolbar(c.logToolbar(), "ClearLogToolbarItem", true)->trigger();
  EXPECT_EQ(c.qLog()->count(), 0);

  int checked = 0;
  for (QAction* item : c.prefsToolbar()->actions()) checked += item->isChecked();
  EXPECT_EQ(checked, 1);
  c.toolbar(c.prefsToolbar(), "UpdateToolbarItem", true)->trigger();
  EXPECT_TRUE(c.toolbar(c.prefsToolbar(), "UpdateToolbarItem", true)->isChecked());
  EXPECT_FALSE(c.toolbar(c.prefsToolbar(), "GeneralToolbarItem", true)->isChecked());
  EXPECT_EQ(c.activePrefView(), c.updatePrefView());
  // A screen reader checks an item without triggering it: the pane follows.
  c.toolbar(c.prefsToolbar(), "GeneralToolbarItem", true)->setChecked(true);
  EXPECT_EQ(c.activePrefView(), c.generalPrefView());
}

TEST_F(WindowTest, QueueCommandsWithTheirAlertsAnswered) {
  Controller& c = *h.controller;
  const QString a = movie("a.mov"), cc = movie("c.mov");
  test::writeFile(h.home.path() + "/broken.avi", "not a movie");
  QFile::link(movie("d.mov"), h.home.path() + "/alias.mov");
  h.dialogs->files = QStringList{cc, a, h.home.path() + "/broken.avi", h.home.path() + "/alias.mov"};
  c.addToQ();
  settleIntake();
  EXPECT_EQ(h.dialogs->startFolder, QDir::homePath()) << "no videos folder, nothing used yet";
  EXPECT_EQ(queuedNames(), QStringList({"c.mov", "a.mov", "d.mov"})) << "panel order; a broken file is only skipped";
  EXPECT_EQ(c.q()->movie(2), movie("d.mov")) << "a link is queued as the file it points to";
  ASSERT_EQ(h.dialogs->messages.size(), 1u);
  EXPECT_EQ(h.dialogs->messages[0].second, h.home.path() + "/broken.avi: it is not a movie Tovix can read")
      << "named as given, folder and all";
  EXPECT_EQ(h.dialogs->offeredExtensions.size(), 66);
  EXPECT_EQ(h.dialogs->offeredExtensions.at(19), "DivX");
  EXPECT_TRUE(h.dialogs->offeredExtensions.contains("mkv"));
  h.dialogs->files.reset();
  c.addToQ();
  settleIntake();
  EXPECT_EQ(c.q()->count(), 3) << "a cancelled panel adds nothing";
  // Several rows at once (Ctrl+A, then one let go): a menu command acts on
  // each, Delete removes them with one save and chooses the next row.
  c.qTable()->selectAll();
  c.qTable()->selectionModel()->select(model()->index(2, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  c.toggleiPod();
  EXPECT_EQ(QStringList({c.q()->iPod(0), c.q()->iPod(1), c.q()->iPod(2)}), QStringList({"On", "On", "Off"}));
  c.deleteFromQ();
  EXPECT_EQ(queuedNames(), QStringList({"d.mov"}));
  EXPECT_EQ(Queue::init(c.prefs())->count(), 1) << "saved";
  EXPECT_EQ(c.selectedRows(), std::vector<int>{0}) << "the row after them is chosen";
  c.deleteFromQ();
  EXPECT_EQ(c.q()->count(), 0) << "so Delete goes on";
  c.deleteFromQ();
  h.dialogs->files = QStringList{cc};
  c.addToQ();
  settleIntake();

  h.dialogs->alertAnswer = 1;
  c.clearQ();
  ASSERT_EQ(h.dialogs->alerts.size(), 1u);
  EXPECT_EQ(h.dialogs->alerts[0].messageText, "The queue will be cleared.");
  EXPECT_EQ(h.dialogs->alerts[0].firstButton, "Clear queue");
  EXPECT_EQ(h.dialogs->alerts[0].secondButton, "Cancel");
  EXPECT_EQ(c.q()->count(), 1);
  h.dialogs->alertAnswer = 0;
  c.clearQ();
  EXPECT_EQ(c.q()->count(), 0);
  EXPECT_EQ(Queue::init(c.prefs())->count(), 0) << "empty after a restart too";
  EXPECT_FALSE(c.qTable()->viewport()->findChild<QLabel*>()->isHidden()) << "the empty queue says what to do";
  QDir(h.home.path()).mkdir("Downloads");
  h.dialogs->files = QStringList{movie("Downloads/e.mov")};
  c.addToQ();
  settleIntake();
  c.q()->clear();
  h.dialogs->files = QStringList{a};
  c.addToQ();
  settleIntake();
  EXPECT_EQ(h.dialogs->startFolder, h.home.path() + "/Downloads") << "the panel opens where it was last used";
  QDir(h.home.path()).mkdir("Videos");
  h.dialogs->files.reset();
  c.addToQ();
  EXPECT_EQ(h.dialogs->startFolder, h.home.path() + "/Videos") << "else in the user's videos folder";
  // The real panel: titled, in its folder with nothing typed, and a folder
  // chosen with Open is taken rather than opened.
  const auto panel = Dialogs::addMoviesPanel(nullptr, {"mov"}, h.home.path());
  EXPECT_EQ(panel->windowTitle(), "Add Movies");
  EXPECT_EQ(panel->directory().absolutePath(), h.home.path());
  EXPECT_EQ(panel->fileMode(), QFileDialog::ExistingFiles);
  ASSERT_NE(panel->findChild<QLineEdit*>("fileNameEdit"), nullptr);
  EXPECT_TRUE(panel->findChild<QLineEdit*>("fileNameEdit")->text().isEmpty());
  panel->selectFile(h.home.path() + "/Videos");
  QApplication::processEvents();
  panel->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
  EXPECT_EQ(panel->result(), QDialog::Accepted);
  EXPECT_EQ(panel->selectedFiles(), QStringList{h.home.path() + "/Videos"});
  EXPECT_TRUE(c.qTable()->viewport()->findChild<QLabel*>()->isHidden());

  // A row's own menu, and the shortcuts of the commands.
  QMenu* menu = c.rowMenu(0);
  QStringList items;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) items << action->text();
  EXPECT_EQ(items, QStringList({"Preview", "Info", "Show in Folder", "Retry Failed", "Remove"}));
  EXPECT_FALSE(menu->actions().at(3)->isEnabled()) << "nothing failed";
  // Commands that could not act look so: Stop and Pause while idle, Delete with no row chosen.
  const auto enabled = [&](const QString& text) {
    for (QAction* action : c.controllerWindow()->menuBar()->findChildren<QAction*>())
      if (action->text() == text) return action->isEnabled();
    return true;
  };
  c.qTable()->clearSelection();
  EXPECT_FALSE(enabled("Stop"));
  EXPECT_FALSE(enabled("Pause or Resume"));
  EXPECT_FALSE(enabled("Delete Movie"));
  EXPECT_FALSE(c.toolbar(c.mainToolbar(), "StopQToolbarItem", false)->isEnabled());
  c.qTable()->selectRow(0);
  EXPECT_TRUE(enabled("Delete Movie"));
  c.startQ();
  EXPECT_TRUE(enabled("Stop") && enabled("Pause or Resume"));
  EXPECT_TRUE(c.toolbar(c.mainToolbar(), "StopQToolbarItem", false)->isEnabled());
  c.stopQ();
  h.complete("Cancelled");
  EXPECT_FALSE(enabled("Stop"));
  menu->actions().last()->trigger();
  EXPECT_EQ(c.q()->count(), 0);
  QStringList shortcuts;
  for (QAction* action : c.controllerWindow()->menuBar()->findChildren<QAction*>())
    if (!action->shortcut().isEmpty()) shortcuts << action->text() + " " + action->shortcut().toString();
  for (const char* expected : {"Start Ctrl+R", "Stop Ctrl+.", "Pause or Resume Ctrl+P", "Preferences… Ctrl+,", "Preview Ctrl+Y"})
    EXPECT_TRUE(shortcuts.contains(expected)) << expected << " in " << shortcuts.join(", ").toStdString();

  // The keyboard: Space ticks the focused box and stays on it; arrows move
  // cell by cell.
  h.dialogs->files = QStringList{a, cc};
  c.addToQ();
  settleIntake();
  ASSERT_EQ(c.q()->count(), 2);
  const auto press = [&](Qt::Key key) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString());
    QApplication::sendEvent(c.qTable(), &down);
  };
  const int iPodColumn = 3;
  c.qTable()->setCurrentIndex(c.qTable()->model()->index(0, iPodColumn));
  const QString before = c.q()->iPod(0);
  press(Qt::Key_Space);
  EXPECT_NE(c.q()->iPod(0), before);
  EXPECT_EQ(c.qTable()->currentIndex().column(), iPodColumn) << "the focus stays on the box";
  press(Qt::Key_Space);
  EXPECT_EQ(c.q()->iPod(0), before) << "a second Space ticks it back";
  const QString appleTV = c.q()->appletv(1);
  press(Qt::Key_Down);
  press(Qt::Key_Right);
  press(Qt::Key_Space);
  EXPECT_NE(c.q()->appletv(1), appleTV) << "Down, Right, Space: the next row's next box";
  EXPECT_EQ(c.qTable()->currentIndex(), c.qTable()->model()->index(1, iPodColumn + 1));
}

TEST_F(WindowTest, PreferencesWindowLoadsFlipsAndFitsItsPanes) {
  Controller& c = *h.controller;
  auto& g = c.generalPrefs();
  c.openPrefsWindow();
  ASSERT_TRUE(c.prefsWindow()->isVisible());
  EXPECT_TRUE(g.exportiPhonePrefButton->isChecked());
  EXPECT_FALSE(g.exportiPodPrefButton->isChecked());
  EXPECT_TRUE(g.exportAppleTVPrefButton->isChecked());
  EXPECT_FALSE(g.exportQTPrefButton->isChecked());
  EXPECT_FALSE(g.exportDiffLocationPrefButton->isChecked());
  EXPECT_FALSE(g.exportCompleteAlert->isChecked());
  EXPECT_FALSE(g.dockBouncePref->isChecked());
  EXPECT_TRUE(c.updatePrefs().autoCheckForUpdatesPref->isChecked());

  c.updatePrefs().autoCheckForUpdatesPref->click();
  EXPECT_FALSE(c.prefs().softwareUpdateCheck());
  EXPECT_TRUE(c.prefs().hasValue(Preferences::SoftwareUpdateCheck));
  c.updatePrefs().autoCheckForUpdatesPref->click();
  EXPECT_TRUE(c.prefs().softwareUpdateCheck());
  g.exportCompleteAlert->click();
  EXPECT_TRUE(c.prefs().boolForKey(Preferences::PrefExportCompletePref));
  EXPECT_TRUE(g.exportCompleteAlert->isChecked());
  g.exportiPodPrefButton->click();
  EXPECT_TRUE(c.prefs().boolForKey(Preferences::iPodExportSwitch));

  EXPECT_TRUE(g.queueNotificationPref->isChecked()) << "notifications are on by default";
  g.queueNotificationPref->click();
  EXPECT_FALSE(c.prefs().queueNotification());

  h.dialogs->folder = h.home.path() + "/Exports";
  g.chooseExportDirectory->click();
  EXPECT_TRUE(g.exportDiffLocationPrefButton->isChecked()) << "choosing a folder means saving there";
  EXPECT_TRUE(c.prefs().boolForKey(Preferences::PrefExportDiffDirectory));
  EXPECT_EQ(g.exportDirectoryPref->text(), h.home.path() + "/Exports");
  EXPECT_EQ(c.prefs().stringForKey(Preferences::PrefExportDirectory), h.home.path() + "/Exports");
  h.dialogs->folder.reset();
  g.chooseExportDirectory->click();
  EXPECT_EQ(c.prefs().stringForKey(Preferences::PrefExportDirectory), h.home.path() + "/Exports");

  const QPoint topLeft = c.prefsWindow()->geometry().topLeft();
  c.setActivePrefView(c.updatePrefView(), false);
  EXPECT_EQ(c.prefsWindow()->geometry().topLeft(), topLeft);
  EXPECT_EQ(c.prefsWindow()->height(), c.updatePrefView()->height() + 78);
  EXPECT_EQ(c.prefsWindow()->width(), c.updatePrefView()->width());
  c.setActivePrefView(c.generalPrefView(), false);
  EXPECT_EQ(c.prefsWindow()->height(), c.generalPrefView()->height() + 78);
  EXPECT_EQ(c.prefsWindow()->geometry().topLeft(), topLeft);
  EXPECT_EQ(c.activePrefView(), c.generalPrefView());

  c.openPrefsWindow();
  EXPECT_FALSE(c.prefsWindow()->isVisible()) << "a second call hides it";
}

TEST_F(WindowTest, WindowsOpenWhollyOnTheScreenAndRememberTheirPlaces) {
  Controller& c = *h.controller;
  const QRect screen = c.controllerWindow()->screen()->availableGeometry();
  // The main window in the screen's bottom-right corner: what opens beside
  // it still fits, frame and all.
  c.controllerWindow()->move(screen.right() - c.controllerWindow()->width() + 1, screen.bottom() - c.controllerWindow()->height() + 1);
  c.q()->addMovie(movie("movie.mov"));
  c.reloadQueueTable();
  c.qTable()->selectRow(0);
  c.openPrefsWindow();
  c.openQueueLog();
  c.showInfo();
  for (QWidget* window : std::initializer_list<QWidget*>{c.prefsWindow(), c.logWindow(), c.infoWindow()}) {
    ASSERT_TRUE(window->isVisible()) << window->windowTitle().toStdString();
    EXPECT_TRUE(screen.contains(window->frameGeometry())) << window->windowTitle().toStdString();
  }
  // Preferences comes back where the user left it; a place no screen shows is not used.
  c.prefsWindow()->move(screen.left() + 30, screen.top() + 40);
  const QPoint left = c.prefsWindow()->pos();
  c.saveWindowPlaces();
  c.openPrefsWindow();  // hides it
  c.prefsWindow()->move(screen.left() + 200, screen.top() + 200);
  c.restoreWindowPlaces();
  c.openPrefsWindow();
  EXPECT_EQ(c.prefsWindow()->pos(), left);
  c.prefsWindow()->move(screen.right() + 5000, screen.bottom() + 5000);
  c.saveWindowPlaces();
  c.openPrefsWindow();
  c.restoreWindowPlaces();
  c.openPrefsWindow();
  EXPECT_TRUE(screen.contains(c.prefsWindow()->frameGeometry()));

  // A message about refused files goes beside the window, else below it,
  // else to its left, and covers none of it while the screen has room.
  const QRect area(0, 0, 1600, 1000);
  const QSize message(400, 300);
  EXPECT_EQ(besideWindow(QRect(100, 100, 900, 600), message, area), QPoint(1000, 100));
  EXPECT_EQ(besideWindow(QRect(300, 100, 1200, 500), message, area), QPoint(300, 600)) << "below";
  EXPECT_EQ(besideWindow(QRect(500, 50, 1100, 900), message, area), QPoint(100, 50)) << "left";
  EXPECT_EQ(besideWindow(QRect(100, 800, 900, 200), message, area), QPoint(1000, 700)) << "raised to fit beside";
  EXPECT_EQ(besideWindow(area, message, area), QPoint(1200, 700)) << "a full-screen window: its corner";
}

TEST_F(WindowTest, InformationPanelShowsTheFiveFields) {
  Controller& c = *h.controller;
  const QString path = movie("movie.mov");
  c.q()->addMovie(path);
  c.q()->addMovie(movie("plain.mp4", "plain.mp4"));
  c.q()->addMovie(h.home.path() + "/vanished.mov");
  c.reloadQueueTable();
  c.showInfo();
  EXPECT_FALSE(c.infoWindow()->isVisible()) << "no row selected";
  c.qTable()->selectRow(0);
  c.showInfo();
  ASSERT_TRUE(c.infoWindow()->isVisible());
  const auto& info = c.infoUi();
  EXPECT_EQ(info.movieName->text(), "movie.mov");
  EXPECT_EQ(info.movieSize->text(), QLocale(QLocale::English).toString(QFileInfo(path).size()));
  EXPECT_TRUE(info.movieSize->text().contains(','));
  EXPECT_EQ(info.duration->text(), "0:00:00:02");
  // The tracks are described on a thread of their own, the window answering meanwhile.
  EXPECT_TRUE(test::waitUntil([&] { return info.formatInInfo->text() == QString::fromUtf8("H.264, 160 × 120\nAAC, Mono, 48.000 kHz\n"
                                                                                    "iPhone: copied as it is\n"
                                                                                    "iPod: converted (the device plays Baseline H.264 only)\n"
                                                                                    "Apple TV: copied as it is\n"); }))
      << info.formatInInfo->text().toStdString();
  EXPECT_EQ(info.copyright->text(), "(c) Tovix");
  c.qTable()->selectRow(1);  // refilled on selection change while shown
  EXPECT_EQ(info.movieName->text(), "plain.mp4");
  EXPECT_EQ(info.copyright->text(), " ");
  c.qTable()->clearSelection();
  EXPECT_EQ(info.movieName->text(), "plain.mp4") << "no selection leaves the fields";
  c.qTable()->selectRow(2);
  for (QLabel* field : {info.movieName, info.movieSize, info.duration, info.formatInInfo, info.copyright})
    EXPECT_EQ(field->text(), " ");
  c.showInfo();
  EXPECT_FALSE(c.infoWindow()->isVisible());
  EXPECT_EQ(c.infoWindow()->palette().color(QPalette::Window), QColor(Qt::black));
}

TEST_F(WindowTest, PreviewTogglesAndImages) {
  Controller& c = *h.controller;
  c.previewMovie();
  EXPECT_FALSE(c.previewPanel()->isVisible()) << "no row selected";
  c.q()->addMovie(movie("movie.mov"));
  c.reloadQueueTable();
  c.qTable()->selectRow(0);
  c.previewMovie();
  EXPECT_TRUE(c.previewPanel()->isVisible());
  EXPECT_FALSE(c.previewIsPlaying());
  c.previewMovie();
  EXPECT_FALSE(c.previewPanel()->isVisible());
  int ended = -1;
  c.endProcess = [&](int status) { ended = status; };
  c.previewMovie();
  c.previewPanel()->close();  // the close button pauses; the application goes on
  EXPECT_FALSE(c.previewPanel()->isVisible());
  EXPECT_EQ(ended, -1);
  EXPECT_TRUE(c.controllerWindow()->isVisible());

  auto* play = c.previewUi().previewPlayButton;
  // Opened, the panel names the movie and shows its first picture (the
  // test pattern, not black) before Play; the seek bar spans the movie.
  // Frames come from the player's own thread: they are taken on this one,
  // and none after the test.
  QVideoFrame shown;
  QObject receiver;
  QObject::connect(c.previewUi().movieView->videoSink(), &QVideoSink::videoFrameChanged, &receiver,
                   [&](const QVideoFrame& frame) { shown = frame; }, Qt::QueuedConnection);
  c.previewMovie();
  EXPECT_EQ(c.previewPanel()->windowTitle(), "Preview – movie.mov");
  ASSERT_TRUE(test::waitUntil([&] { return shown.isValid(); }, 5000)) << "a picture before Play";
  const QImage first = shown.toImage().convertToFormat(QImage::Format_Grayscale8);
  EXPECT_GT(first.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0) & 0xff, 40u);
  EXPECT_FALSE(c.previewIsPlaying());
  QSlider* seek = c.previewUi().seekBar;
  ASSERT_TRUE(test::waitUntil([&] { return seek->maximum() > 1900; }));
  EXPECT_EQ(c.previewUi().previewTime->text(), "0:00 / 0:02");
  QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
  QApplication::sendEvent(seek, &right);
  EXPECT_TRUE(test::waitUntil([&] { return c.moviePlayer()->position() > 1500; })) << "the keyboard moves the movie";
  c.moviePlayer()->setPosition(0);
  c.previewToggle();
  EXPECT_TRUE(c.previewIsPlaying());
  // Really plays for a moment (this machine has no sound device).
  EXPECT_TRUE(test::waitUntil([&] { return c.moviePlayer()->position() > 300; }, 5000));
  EXPECT_EQ(play->property("imageName").toString(), "HUD_Pause.png");
  c.previewToggle();
  EXPECT_EQ(play->property("imageName").toString(), "HUD_Play.png");
  EXPECT_EQ(play->accessibleName(), "Play");
  c.previewToggle();
  c.previewMovie();  // hidden from the toolbar: the movie stops playing
  EXPECT_FALSE(c.previewPanel()->isVisible());
  EXPECT_FALSE(c.previewIsPlaying());
  EXPECT_NE(c.moviePlayer()->playbackState(), QMediaPlayer::PlayingState);
  c.previewMovie();
  c.volumeToggle();
  EXPECT_TRUE(c.movieAudio()->isMuted());
  EXPECT_EQ(c.previewUi().volumeMuted->property("imageName").toString(), "hud_speaker_off.png");
  c.volumeToggle();
  EXPECT_EQ(c.previewUi().volumeMuted->property("imageName").toString(), "hud_speaker.png");

  QString revealed;
  c.revealFile = [&](const QString& path) { revealed = path; };
  c.startQ();  // the movie's first target is iPhone
  c.showInFinder();
  EXPECT_EQ(revealed, h.home.path()) << "the file has no name yet: its folder";
}

TEST_F(WindowTest, BackgroundViewShadesFromDarkGreyToBlack) {
  BackgroundView view;
  view.resize(40, 100);
  QImage image(view.size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  view.render(&image);
  EXPECT_NEAR(qRed(image.pixel(20, 99)), 85, 4);
  EXPECT_NEAR(qRed(image.pixel(20, 0)), 0, 4);
  EXPECT_LT(qRed(image.pixel(20, 30)), qRed(image.pixel(20, 70)));
}

TEST_F(WindowTest, EveryControlHasAnAccessibleName) {
  Controller& c = *h.controller;
  QStringList unnamed;
  for (QWidget* window : {static_cast<QWidget*>(c.controllerWindow()), static_cast<QWidget*>(c.logWindow()),
                          static_cast<QWidget*>(c.prefsWindow()), c.previewPanel(), c.infoWindow(), c.aboutPanel()}) {
    for (QWidget* widget : window->findChildren<QWidget*>()) {
      // Qt's own parts (headers, corner and overflow buttons) are spoken
      // through the table's and toolbar's own accessible interfaces.
      if (widget->objectName().startsWith("qt_") || widget->inherits("QHeaderView") ||
          widget->inherits("QTableCornerButton"))
        continue;
      const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QAbstractItemView*>(widget) ||
                           qobject_cast<QProgressBar*>(widget) || qobject_cast<QLineEdit*>(widget);
      if (!control) continue;
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
      if (!accessible || accessible->text(QAccessible::Name).trimmed().isEmpty())
        unnamed << widget->metaObject()->className() + QString(" ") + widget->objectName();
    }
  }
  EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(", ").toStdString();

  h.add("/a.mov", {Target::iPhone});
  c.reloadQueueTable();
  for (int column = 0; column < model()->columnCount(); ++column)
    EXPECT_FALSE(model()->index(0, column).data(Qt::AccessibleTextRole).toString().isEmpty()) << column;
  for (QAction* item : c.mainToolbar()->actions())
    EXPECT_TRUE(item->isSeparator() || qobject_cast<QWidgetAction*>(item) || !item->text().isEmpty());
}
