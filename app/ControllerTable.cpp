// Movie file acceptance and the queue table: drops, selection.
#include "app/Controller.h"

#include "app/Dialogs.h"
#include "app/TableModels.h"

#include <QCollator>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
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

namespace {
// Refused files named in the message; past that they are only counted.
constexpr int kMaxNamedRefusals = 200;
// From this many files on, the window says how far the testing is.
constexpr int kShowIntakeProgressFrom = 50;
}  // namespace

void Controller::queueMovies(const QStringList& paths, bool testExtension) {
  if (!q_ || paths.isEmpty()) return;
  intake_->take(paths, testExtension);
  showIntakeProgress();
}

void Controller::queueTested(const std::vector<MovieIntake::Verdict>& verdicts) {
  QStringList accepted;
  QStringList refused;
  for (const auto& verdict : verdicts) {
    if (verdict.refusal)
      refused << tr("%1: %2").arg(QFileInfo(verdict.path).fileName(), *verdict.refusal);
    else
      accepted << verdict.path;
  }
  if (q_ && !accepted.isEmpty()) {
    q_->addMovies(accepted);
    // A long batch shows its rows a few times a second, not at every step.
    if (!intakeReload_.isActive()) intakeReload_.start();
  }
  if (!refused.isEmpty()) tellRefusals(refused);
  showIntakeProgress();
}

void Controller::tellRefusals(const QStringList& refused) {
  // Refusals that come while the message is up extend it; a new message
  // starts once the user has closed the last one.
  if (!dialogs_->informShown()) {
    refusedNames_.clear();
    refusedCount_ = 0;
  }
  refusedCount_ += int(refused.size());
  refusedNames_ << refused.mid(0, std::max<qsizetype>(0, kMaxNamedRefusals - refusedNames_.size()));
  QString details = refusedNames_.join(u'\n');
  if (refusedCount_ > refusedNames_.size())
    details += u'\n' + tr("… and %1 more.").arg(refusedCount_ - refusedNames_.size());
  const QString text = refusedCount_ == 1 ? tr("One file was not added to the queue.")
                                          : tr("%1 files were not added to the queue.").arg(refusedCount_);
  dialogs_->inform(controllerWindow_, text, details);
}

void Controller::showIntakeProgress() {
  const bool show = intake_->busy() && intake_->given() >= kShowIntakeProgressFrom;
  intakeMessage_->setVisible(show);
  if (show) intakeMessage_->setText(tr("Adding movies: %L1 of %L2 checked").arg(intake_->tested()).arg(intake_->given()));
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
