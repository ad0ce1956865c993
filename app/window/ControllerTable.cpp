// Movie file acceptance and the queue table: drops, selection.
#include "app/Controller.h"

#include "app/window/Dialogs.h"
#include "app/window/TableModels.h"

#include <QCollator>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMenu>
#include <QDir>
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
      refused << tr("%1: %2").arg(QDir::toNativeSeparators(verdict.path), *verdict.refusal);
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
  sortNaturally(refusedNames_);
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
  sortNaturally(paths);
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

// The row Info and Preview show: the current row when it is chosen, else the
// first chosen row; -1 with none chosen.
int Controller::selectedRow() const {
  const std::vector<int> rows = selectedRows();
  if (rows.empty()) return -1;
  const int current = qTable()->currentIndex().row();
  return std::find(rows.begin(), rows.end(), current) != rows.end() ? current : rows.front();
}

// Every chosen row, in queue order.
std::vector<int> Controller::selectedRows() const {
  std::vector<int> rows;
  const QItemSelectionModel* selection = qTable()->selectionModel();
  if (!selection) return rows;
  for (const QModelIndex& index : selection->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Chooses exactly the rows given; the keyboard's cell moves to the first.
void Controller::selectRows(const std::vector<int>& rows, int column) {
  QItemSelection chosen;
  for (const int row : rows)
    if (row >= 0 && row < queueModel_->rowCount())
      chosen.select(queueModel_->index(row, 0), queueModel_->index(row, queueModel_->columnCount() - 1));
  if (chosen.isEmpty()) return;
  QItemSelectionModel* selection = qTable()->selectionModel();
  selection->setCurrentIndex(queueModel_->index(chosen.first().top(), column), QItemSelectionModel::NoUpdate);
  selection->select(chosen, QItemSelectionModel::ClearAndSelect);
}

void Controller::tableViewSelectionDidChange() {
  showCommandStates();
  if (infoWindow_->isVisible()) movieMetaData();
}

// The queue and log tables: models, delegates, columns, the hint shown while
// the queue is empty, the drop line, the row menu and the drops.
void Controller::setUpTables() {
  logModel_->setLog(qLog_.get());
  qTable()->setModel(queueModel_);
  qTable()->setItemDelegate(new QueueCellDelegate(qTable()));
  auto* targetCells = new TargetCellDelegate(qTable());
  for (const auto& target : protocol::kTargets)
    qTable()->setItemDelegateForColumn(QueueTableModel::columnIdentifiers().indexOf(QLatin1String(target.typeKey)),
                                       targetCells);
  fitColumns(qTable(), {1});
  keepStatusColumnWide();
  // Measured again once the header has resized its sections to their contents.
  connect(qTable()->horizontalHeader(), &QHeaderView::sectionResized, this, &Controller::keepMovieColumnReadable,
          Qt::QueuedConnection);
  qTable()->verticalHeader()->hide();
  qTable()->setIconSize(QSize(16, 16));
  connect(qTable()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &Controller::tableViewSelectionDidChange);
  connect(logTable()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &Controller::tableViewSelectionDidChange);
  emptyHint_ = new QLabel(tr("Drop movies here, or press Add Movie"), qTable()->viewport());
  emptyHint_->setAlignment(Qt::AlignCenter);
  emptyHint_->setAttribute(Qt::WA_TransparentForMouseEvents);
  emptyHint_->setForegroundRole(QPalette::PlaceholderText);  // muted, yet 4.5:1 or more
  dropPlace_ = new QWidget(qTable()->viewport());
  dropPlace_->setAttribute(Qt::WA_TransparentForMouseEvents);
  dropPlace_->setStyleSheet(QStringLiteral("background: palette(highlight); border: none;"));
  dropPlace_->hide();
  reloadQueueTable();
  qTable()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(qTable(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const int row = qTable()->rowAt(at.y());
    if (row >= 0) rowMenu(row)->popup(qTable()->viewport()->mapToGlobal(at));
  });
  qTable()->viewport()->setAcceptDrops(true);
  qTable()->viewport()->installEventFilter(this);
}

// The drop always goes after the last row: a line there says so.
void Controller::showDropPlace(bool show) {
  const int rows = queueModel_->rowCount();
  const int y = rows == 0 ? 0 : qTable()->rowViewportPosition(rows - 1) + qTable()->rowHeight(rows - 1);
  dropPlace_->setGeometry(0, std::max(0, y - 1), qTable()->viewport()->width(), 3);
  dropPlace_->setVisible(show);
}

// The status column holds the widest status from the start, so a run's
// "Converting 45%" narrows no other column.
void Controller::keepStatusColumnWide() {
  QHeaderView* header = qTable()->horizontalHeader();
  const int column = QueueTableModel::columnIdentifiers().indexOf(QLatin1String(protocol::QUEUE_ENTRY_STATUS_KEY));
  QFont bold = qTable()->font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  int widest = header->sectionSizeHint(column);
  for (const QString& text : {tr("Converting %1%").arg(100), tr("Paused %1%").arg(100)})
    widest = std::max(widest, metrics.horizontalAdvance(text) + 2 * metrics.averageCharWidth() + 8);
  header->setSectionResizeMode(column, QHeaderView::Fixed);
  header->resizeSection(column, widest);
  // "Converting" and "Paused" take the same room before the file's name.
  QLabel* doing = currentExportLabel();
  doing->setMinimumWidth(std::max(doing->fontMetrics().horizontalAdvance(tr("Converting")),
                                  doing->fontMetrics().horizontalAdvance(tr("Paused"))));
}

// Drags over the queue table: files may be dropped after its last row.
bool Controller::dragOntoQueue(QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      const Qt::DropAction action = drag->mimeData()->hasUrls() ? tableView(qTable(), drag->mimeData())
                                                                 : Qt::IgnoreAction;
      drag->setDropAction(action);
      drag->setAccepted(action != Qt::IgnoreAction);
      showDropPlace(action != Qt::IgnoreAction);
      return true;
    }
    case QEvent::DragLeave:
      showDropPlace(false);
      return true;
    case QEvent::Drop: {
      showDropPlace(false);
      auto* drop = static_cast<QDropEvent*>(event);
      drop->setDropAction(Qt::CopyAction);
      drop->setAccepted(tableView(qTable(), drop->mimeData(), true));
      return true;
    }
    default:
      return false;
  }
}

}  // namespace tovix
