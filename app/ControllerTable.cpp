// Movie file acceptance and the queue table: drops, selection.
#include "app/Controller.h"

#include "app/TableModels.h"
#include "media/MediaProbe.h"

#include <QCollator>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QTableView>
#include <QUrl>
#include <QWidget>

namespace tovix {

const QStringList& dropExtensions() {
  static const QStringList extensions{"mov", "avi", "mp4",  "mp3",  "m4a",  "m4p", "aiff", "aif",
                                      "caf", "wav", "dv",   "wmv",  "3g2",  "3gp", "3gp2", "3gpp",
                                      "divx", "flv", "mpg", "mpeg", "moov", "ogm", "qt",   "xvid"};
  return extensions;
}

const QStringList& openPanelTypes() {
  static const QStringList types{
      "avi", "mp4", "m4v", "mov", "mp3", "m4a", "m4p", "aiff", "aif", "aifc", "wav", "dv", "wmv", "caf",
      "3g2", "3gp", "3gp2", "3gpp", "divx", "DivX", "DiVX", "flv", "mpg", "mpeg", "moov", "ogm", "qt", "xvid",
      "AVI", "MP4", "M4V", "MOV", "MP3", "M4A", "M4P", "AIFF", "AIF", "AIFC", "WAV", "DV", "WMV", "CAF",
      "3G2", "3GP", "3GP2", "3GPP", "DIVX", "FLV", "MPG", "MPEG", "MOOV", "OGM", "QT", "XVID"};
  return types;
}

bool isValidFileForDrop(const QString& path) {
  const QFileInfo file(path);  // exists() and isDir() follow links
  if (!file.exists() || file.isDir()) return false;
  const QString name = file.fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
  return dropExtensions().contains(extension);
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
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::sort(paths.begin(), paths.end(),
            [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
  for (const QString& path : paths) {
    if (isValidFileForDrop(path) && media::canOpen(path) && q_) {
      q_->addMovie(path);
      reloadQueueTable();
    }
  }
  return true;
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
