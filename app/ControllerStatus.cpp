// What the window says about the run (the status line), and the commands on
// one queue row: its menu, Retry Failed and Show in Folder of its output.
#include "app/Controller.h"

#include "app/ElidedLabel.h"
#include "app/TableModels.h"

#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTableView>

namespace tovix {

void Controller::showRunStatus() {
  const RunState& run = *runState_;
  QStringList parts;
  switch (run.phase()) {
    case RunState::Phase::Idle:
      runStatus()->hide();
      return;
    case RunState::Phase::Paused:
      parts << tr("Paused");
      [[fallthrough]];
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
  runStatus()->show();
  queueModel_->runStateChanged();
}

void Controller::retryFailed() {
  const int row = selectedRow();
  if (!q_ || row < 0) return;
  q_->retryFailed(row);
  reloadQueueTable();
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
  qTable()->selectRow(row);
  menu->addAction(tr("Preview"), this, &Controller::previewMovie);
  menu->addAction(tr("Info"), this, &Controller::showInfo);
  menu->addAction(tr("Show in Folder"), this, [this, row] { revealLatestOutput(row); });
  QAction* retry = menu->addAction(tr("Retry Failed"), this, &Controller::retryFailed);
  retry->setEnabled(q_ && q_->status(row) == QLatin1String(status::Failed));
  menu->addSeparator();
  menu->addAction(tr("Remove"), this, &Controller::deleteFromQ);
  return menu;
}

}  // namespace tovix
