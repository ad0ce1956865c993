// Queue commands and the log window.
#include "app/Controller.h"

#include "app/window/Dialogs.h"
#include "app/window/TableModels.h"
#include "media/MediaProbe.h"
#include "platform/Paths.h"
#include "ui_LogWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QStandardPaths>

namespace tovix {

namespace {
constexpr const char* kOpenPanelFolder = "OpenPanelFolder";

// The user's videos folder when there is one, else the folder last used,
// else home; never a folder that is gone.
QString addPanelFolder(const Preferences& prefs) {
  for (const QString& folder : {QStandardPaths::writableLocation(QStandardPaths::MoviesLocation),
                                prefs.stringForKey(kOpenPanelFolder).value_or(QString())}) {
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  }
  return QDir::homePath();
}
}  // namespace

void Controller::addToQ() {
  dialogs_->startFolder = addPanelFolder(prefs_);
  const auto chosen = dialogs_->chooseFiles(controllerWindow_, openPanelTypes());
  if (!chosen || chosen->isEmpty()) return;
  prefs_.setString(kOpenPanelFolder, QFileInfo(chosen->first()).absolutePath());
  queueMovies(*chosen, false);
}

// Every chosen row goes with one save; the row after them is chosen next, so
// Delete can be pressed again.
void Controller::deleteFromQ() {
  const std::vector<int> rows = selectedRows();
  if (!q_ || rows.empty()) return;
  const int column = std::max(0, qTable()->currentIndex().column());
  for (const int row : rows) forgetKeptWork(row);
  q_->deleteMovies(rows);
  qTable()->clearSelection();
  reloadQueueTable();
  selectRows(std::vector<int>{std::min(rows.front(), queueModel_->rowCount() - 1)}, column);
}

void Controller::clearQ() {
  if (!q_) return;
  const int answer =
      dialogs_->runAlert(controllerWindow_, {tr("The queue will be cleared."), tr("Clear queue"), tr("Cancel"), true});
  if (answer != 0) return;
  for (int row = 0; row < q_->count(); ++row) forgetKeptWork(row);
  q_->clear();
  reloadQueueTable();
}

void Controller::clearFinished() {
  if (!q_) return;
  for (int row = 0; row < q_->count(); ++row)
    if (q_->status(row) == QLatin1String(status::Complete)) forgetKeptWork(row);
  q_->clearFinished();
  reloadQueueTable();
}

// A movie that leaves the queue takes the work its interrupted exports kept.
void Controller::forgetKeptWork(int row) {
  const auto movie = q_->movie(row);
  if (!movie) return;
  const auto directory = exportDirectoryForRequest();
  for (const auto& target : protocol::kTargets) {
    const QString output = protocol::outputPath(*movie, target.target, directory);
    QDir(paths::keptWorkFolder(*movie, QString::number(target.typeCode), output)).removeRecursively();
  }
}

void Controller::toggleSelected(protocol::Target target) {
  if (!q_) return;
  for (const int row : selectedRows()) q_->toggle(row, target);
  reloadQueueTable();
}

void Controller::toggleiPhone() { toggleSelected(protocol::Target::iPhone); }
void Controller::toggleiPod() { toggleSelected(protocol::Target::iPod); }
void Controller::toggleAppleTV() { toggleSelected(protocol::Target::AppleTV); }
void Controller::toggleQT() { toggleSelected(protocol::Target::QuickTime); }

void Controller::openQueueLog() {
  if (!logWindow_->isVisible()) placeWindow(logWindow_);
  logWindow_->show();
  logWindow_->raise();
  logWindow_->activateWindow();
  reloadLogTable();
}

void Controller::clearLog() {
  if (!qLog_) return;
  qLog_->clear();
  reloadLogTable();
}

}  // namespace tovix
