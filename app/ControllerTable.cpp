// Movie file acceptance and the queue table: drops, selection.
#include "app/Controller.h"

#include "app/Dialogs.h"
#include "app/TableModels.h"
#include "media/MediaProbe.h"

#include <QCollator>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMimeData>
#include <QScrollBar>
#include <QTableView>
#include <QUrl>
#include <QWidget>

namespace tovix {

const QStringList& dropExtensions() {
  static const QStringList extensions{"mov", "avi", "mp4",  "mp3",  "m4a",  "m4p", "aiff", "aif",
                                      "caf", "wav", "dv",   "wmv",  "3g2",  "3gp", "3gp2", "3gpp",
                                      "divx", "flv", "mpg", "mpeg", "moov", "ogm", "qt",   "xvid",
                                      // the containers people's cameras, phones and downloads use
                                      "mkv", "webm", "m4v", "mts", "m2ts", "ts", "ogv"};
  return extensions;
}

const QStringList& openPanelTypes() {
  static const QStringList types{
      "avi", "mp4", "m4v", "mov", "mp3", "m4a", "m4p", "aiff", "aif", "aifc", "wav", "dv", "wmv", "caf",
      "3g2", "3gp", "3gp2", "3gpp", "divx", "DivX", "DiVX", "flv", "mpg", "mpeg", "moov", "ogm", "qt", "xvid",
      "AVI", "MP4", "M4V", "MOV", "MP3", "M4A", "M4P", "AIFF", "AIF", "AIFC", "WAV", "DV", "WMV", "CAF",
      "3G2", "3GP", "3GP2", "3GPP", "DIVX", "FLV", "MPG", "MPEG", "MOOV", "OGM", "QT", "XVID",
      "mkv", "webm", "mts", "m2ts", "ts", "ogv", "MKV", "WEBM", "MTS", "M2TS", "TS", "OGV"};
  return types;
}

namespace {
QString extensionOf(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

void sortByName(QStringList& paths) {
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::sort(paths.begin(), paths.end(),
            [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}
}  // namespace

bool isValidFileForDrop(const QString& path) {
  const QFileInfo file(path);  // exists() and isDir() follow links
  if (!file.exists() || file.isDir()) return false;
  return dropExtensions().contains(extensionOf(path));
}

std::optional<QString> Controller::refusalOf(const QString& path, bool testExtension) const {
  const QFileInfo file(path);
  if (!file.exists()) return tr("it is missing");
  if (file.isDir()) return tr("it is a folder");
  if (testExtension && !dropExtensions().contains(extensionOf(path))) return tr("it is not a movie file");
  if (!media::canOpen(path)) return tr("it is not a movie Tovix can read");
  return std::nullopt;
}

void Controller::queueMovies(const QStringList& paths, bool testExtension) {
  if (!q_) return;
  QStringList refused;
  for (const QString& path : paths) {
    if (const auto refusal = refusalOf(path, testExtension)) {
      refused << tr("%1: %2").arg(QFileInfo(path).fileName(), *refusal);
      continue;
    }
    q_->addMovie(path);
  }
  reloadQueueTable();
  if (refused.isEmpty()) return;
  const QString text = refused.size() == 1 ? tr("One file was not added to the queue.")
                                           : tr("%1 files were not added to the queue.").arg(refused.size());
  dialogs_->inform(controllerWindow_, text, refused.join(u'\n'));
}

void Controller::openFiles(QStringList paths) {
  sortByName(paths);
  queueMovies(paths, true);
}

Qt::DropAction Controller::tableView(QTableView* table, const QMimeData*) const {
  return table == qTable() ? Qt::CopyAction : Qt::IgnoreAction;
}

bool Controller::tableView(QTableView* table, const QMimeData* dropped, bool) {
  if (table != qTable() || !dropped || !dropped->hasUrls()) return false;
  QStringList paths;
  for (const QUrl& url : dropped->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  if (paths.isEmpty()) return false;
  openFiles(paths);
  return true;
}

void Controller::keepMovieColumnReadable() {
  const QHeaderView* header = qTable()->horizontalHeader();
  const int movieColumn = QueueTableModel::columnIdentifiers().indexOf(protocol::QUEUE_ENTRY_MOVIE_PATH_KEY);
  int width = 2 * qTable()->frameWidth() + qTable()->verticalScrollBar()->sizeHint().width();
  for (int column = 0; column < header->count(); ++column)
    width += column == movieColumn ? 20 * qTable()->fontMetrics().averageCharWidth() : header->sectionSize(column);
  qTable()->setMinimumWidth(width);
  // The window's minimum is set explicitly, so its layout cannot raise it alone.
  const int needed = controllerWindow_->centralWidget()->minimumSizeHint().width();
  if (needed > controllerWindow_->minimumWidth()) controllerWindow_->setMinimumWidth(needed);
}

int Controller::selectedRow() const {
  const QItemSelectionModel* selection = qTable()->selectionModel();
  if (!selection) return -1;
  const QModelIndexList rows = selection->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void Controller::tableViewSelectionDidChange() {
  if (infoWindow_->isVisible()) movieMetaData();
}

}  // namespace tovix
