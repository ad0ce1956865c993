// What the window says about the run (the status line), and the commands on
// one queue row: its menu, Retry Failed and Show in Folder of its output.
#include "app/Controller.h"

#include "app/window/ElidedLabel.h"
#include "app/window/TableModels.h"

#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTableView>
#include <algorithm>

namespace tovix {

void Controller::showRunStatus() {
  const RunState& run = *runState_;
  // While exporting, the line's parts keep their places: the first word
  // and the figures take the room of their longest forms.
  const QString doing = run.phase() == RunState::Phase::Paused ? tr("Paused") : tr("Converting");
  currentExportLabel()->setText(doing);
  currentExportLabel()->setAccessibleName(doing);
  QStringList parts;
  switch (run.phase()) {
    case RunState::Phase::Idle:
      runStatus()->hide();
      return;
    case RunState::Phase::Paused:
    case RunState::Phase::Running:
      if (!outstanding_) {
        runStatus()->hide();
        return;
      }
      parts << tr("%1%").arg(int(run.fraction() * 100)) << tr("%1 elapsed").arg(durationText(run.elapsedMs()));
      if (const auto left = run.remainingMs()) parts << tr("about %1 left").arg(durationText(*left));
      parts << tr("export %1 of %2").arg(run.exportNumber()).arg(std::max(run.total(), run.exportNumber()));
      break;
    case RunState::Phase::Stopped:
      parts << tr("Queue stopped") << run.summary();
      break;
    case RunState::Phase::Ended:
      parts << (run.finished() + run.failed() == 0 ? tr("Nothing to convert: tick a target of a movie first")
                                                   : run.summary());
      break;
  }
  runStatus()->setText(parts.join(QStringLiteral(" · ")));
  keepRunStatusInPlace(run.exporting());
  runStatus()->show();
  queueModel_->runStateChanged();
}

// The chosen rows, or with none chosen every row.
std::vector<int> Controller::rowsToRetry() const {
  if (!q_) return {};
  std::vector<int> rows = selectedRows();
  if (!rows.empty()) return rows;
  for (int i = 0; i < q_->count(); ++i) rows.push_back(i);
  return rows;
}

bool Controller::canRetryFailed() const {
  const auto rows = rowsToRetry();
  return std::any_of(rows.begin(), rows.end(), [this](int row) { return q_->status(row) == QLatin1String(status::Failed); });
}

// While exporting, the figures change every moment: the line keeps the room
// of their usual longest form, so the parts before them stay in place.
void Controller::keepRunStatusInPlace(bool exporting) {
  QLabel* status = runStatus();
  if (!exporting) {
    status->setMinimumWidth(0);
    status->setMaximumWidth(QWIDGETSIZE_MAX);
    return;
  }
  const QString usual = tr("%1% · %2 elapsed · about %3 left · export %4 of %5")
                            .arg(100).arg(QStringLiteral("88:88"), QStringLiteral("88:88")).arg(888).arg(888);
  // Only ever wider during a run; a new run starts from its own figures, not
  // from the room the last run's summary took (which left the file's name none).
  const int inPlace = status->minimumWidth() == status->maximumWidth() ? status->width() : 0;
  status->setFixedWidth(std::max({status->fontMetrics().horizontalAdvance(usual), status->sizeHint().width(), inPlace}));
}

// Retried targets are ticked again, and an idle queue starts converting them.
void Controller::retryFailed() {
  if (!canRetryFailed()) return;
  for (const int row : rowsToRetry()) q_->retryFailed(row);
  reloadQueueTable();
  if (!qRunning()) startQ();
}

void Controller::revealLatestOutput(int row) {
  if (!q_) return;
  const auto written = q_->latestOutput(row);
  if (written && QFileInfo::exists(*written)) {
    revealFile(*written);
  } else if (const auto movie = q_->movie(row)) {
    revealFile(*movie);  // nothing written yet, or moved away since: the movie itself
  }
}

QMenu* Controller::rowMenu(int row) {
  auto* menu = new QMenu(controllerWindow_);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // A row outside the selection becomes the selection; within it, the menu
  // acts on every chosen row.
  const auto chosen = selectedRows();
  if (std::find(chosen.begin(), chosen.end(), row) == chosen.end()) qTable()->selectRow(row);
  menu->addAction(tr("Preview"), this, &Controller::previewMovie);
  menu->addAction(tr("Info"), this, &Controller::showInfo);
  menu->addAction(tr("Show in Folder"), this, [this, row] { revealLatestOutput(row); });
  QAction* retry = menu->addAction(tr("Retry Failed"), this, &Controller::retryFailed);
  retry->setEnabled(canRetryFailed());
  menu->addSeparator();
  menu->addAction(tr("Remove"), this, &Controller::deleteFromQ);
  return menu;
}

}  // namespace tovix
