#include "app/window/TableModels.h"

#include "app/store/Queue.h"
#include "app/store/QueueLog.h"

#include "app/runner/RunState.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QTableView>
#include <QApplication>
#include <QItemSelectionModel>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStyle>

namespace tovix {

namespace {

enum QueueColumn { Indicator, Movie, IPhone, IPod, AppleTV, QuickTime, Status, Remove, QueueColumnCount };

QString indicatorImage(const std::optional<QString>& status) {
  if (status == QLatin1String(status::Complete)) return QStringLiteral("LI_encoded_ok.png");
  if (status == QLatin1String(status::Failed)) return QStringLiteral("LI_encode_failed.png");
  return QStringLiteral("LI_ok_to_encode2.png");
}

QString statusToolTip(const std::optional<QString>& status) {
  if (status == QLatin1String(status::Complete)) return QObject::tr("Every chosen export is done.");
  if (status == QLatin1String(status::Failed)) return QObject::tr("An export of this movie failed; see the log.");
  if (status == QLatin1String(status::Started)) return QObject::tr("Some exports are done, others still to do.");
  return QObject::tr("Waiting to be converted.");
}

// The longest text a cell shows. A stored value can be of any length (a
// damaged or hostile Queue.xml); measuring and painting megabytes of text
// would freeze the window, so the middle of a longer one is left out.
constexpr qsizetype kMaxShownChars = 256;

QString shown(const QString& text) {
  if (text.size() <= kMaxShownChars) return text;
  return text.left(kMaxShownChars / 2) + QChar(0x2026) + text.right(kMaxShownChars / 2 - 1);
}

bool rowSelected(const QStyleOptionViewItem& option, const QModelIndex& index) {
  const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
  return view && view->selectionModel() && view->selectionModel()->isRowSelected(index.row(), index.parent());
}

}  // namespace

const QStringList& QueueTableModel::columnIdentifiers() {
  // The indicator, the movie, a column per target in target order, the status, remove.
  static const QStringList identifiers = [] {
    QStringList columns{QStringLiteral("QUEUE_INDICATOR"), QLatin1String(protocol::QUEUE_ENTRY_MOVIE_PATH_KEY)};
    for (const auto& target : protocol::kTargets) columns << QLatin1String(target.typeKey);
    return columns << QLatin1String(protocol::QUEUE_ENTRY_STATUS_KEY) << QStringLiteral("QUEUE_REMOVE");
  }();
  return identifiers;
}

std::optional<protocol::Target> QueueTableModel::targetOfColumn(int column) {
  if (column < IPhone || column > QuickTime) return std::nullopt;
  return static_cast<protocol::Target>(column - IPhone);
}

void QueueTableModel::setQueue(const Queue* queue) {
  queue_ = queue;
  reload();
}

int QueueTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !queue_ ? 0 : queue_->count();
}

int QueueTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : QueueColumnCount;
}

QVariant QueueTableModel::data(const QModelIndex& index, int role) const {
  if (!queue_ || !index.isValid()) return {};
  const int row = index.row();
  if (const auto target = targetOfColumn(index.column())) return targetData(row, *target, role);
  switch (index.column()) {
    case Indicator:
      if (role == Qt::DecorationRole) return QIcon(QStringLiteral(":/images/") + indicatorImage(queue_->status(row)));
      if (role == ImageNameRole) return indicatorImage(queue_->status(row));
      if (role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) return statusToolTip(queue_->status(row));
      return {};
    case Movie:
      if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return shown(queue_->movieDisplayName(row).value_or(QString()));
      if (role == Qt::ToolTipRole) return shown(queue_->movie(row).value_or(QString()));
      return {};
    case Status:
      return statusData(row, role);
    case Remove:
      if (role == Qt::DecorationRole) return QIcon(QStringLiteral(":/images/b_remove_red_up.png"));
      if (role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) return tr("Delete this movie from the queue.");
      return {};
    default:
      return {};
  }
}

// A target's check box, with a badge for a done or failed export, and plain
// words for assistive tools ("iPhone, will export").
QVariant QueueTableModel::targetData(int row, protocol::Target target, int role) const {
  const QString flag = queue_->flag(row, target);
  const bool done = flag == QLatin1String(flag::OnDone);
  const bool frozen = flag == QLatin1String(flag::OffDone);
  const bool failed = done && queue_->failed(row, target);
  const QString device = headerData(IPhone + int(target), Qt::Horizontal, Qt::DisplayRole).toString();
  switch (role) {
    case Qt::CheckStateRole:
      if (frozen) return {};
      return flag == QLatin1String(flag::On) || done ? Qt::Checked : Qt::Unchecked;
    case FrozenRole:
      return frozen;
    case BadgeRole:
      if (!done) return {};
      return QStringLiteral(":/images/") + (failed ? "LI_encode_failed.png" : "LI_encoded_ok.png");
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole: {
      if (frozen) return tr("%1, not chosen; the movie is done. Add it again to export it for %1.").arg(device);
      QString state = tr("not exported");
      if (flag == QLatin1String(flag::On)) state = tr("will export");
      if (done) state = failed ? tr("failed") : tr("done");
      return tr("%1, %2").arg(device, state);
    }
    default:
      return {};
  }
}

// The stored status, or, for the entry being exported, "Converting 42%"
// (display only: the stored status stays as it is until the completion).
QVariant QueueTableModel::statusData(int row, int role) const {
  const bool inFlight = run_ && run_->entryId() != 0 && queue_->idAt(row) == run_->entryId();
  if (inFlight && (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)) {
    const QString doing = run_->phase() == RunState::Phase::Paused ? tr("Paused") : tr("Converting");
    return tr("%1 %2%").arg(doing).arg(int(run_->fraction() * 100));
  }
  if (inFlight && role == Qt::FontRole) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (inFlight && role == Qt::ForegroundRole) return QPalette().color(QPalette::Highlight).lighter(130);
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return statusText(row);
  if (role == Qt::ToolTipRole) return errorText(row);
  return {};
}

// What the stored status means to the user: "Started" (an export done, others
// waiting, the run stopped or Tovix quit) is said as how far the movie is.
QString QueueTableModel::statusText(int row) const {
  const QString stored = queue_->status(row).value_or(QString());
  // Work an interrupted export kept: where the next one goes on from.
  const auto entry = queue_->entry(row);
  // A stored value that is no share (a damaged Queue.xml) is not shown.
  const double kept = entry ? protocol::stringValue(*entry, protocol::QUEUE_ENTRY_KEPT_KEY).value_or(QString()).toDouble() : 0;
  if (kept > 0 && kept < 1 && stored != QLatin1String(status::Complete) && stored != QLatin1String(status::Failed)) {
    const bool running = run_ && (run_->phase() == RunState::Phase::Running || run_->phase() == RunState::Phase::Paused);
    const int percent = int(kept * 100);
    return running ? tr("Resumes at %1 %").arg(percent) : tr("Stopped at %1 %").arg(percent);
  }
  if (stored != QLatin1String(status::Started)) return shown(stored);
  int done = 0, chosen = 0;
  for (const auto& target : protocol::kTargets) {
    const QString flag = queue_->flag(row, target.target);
    done += flag == QLatin1String(flag::OnDone);
    chosen += flag == QLatin1String(flag::OnDone) || flag == QLatin1String(flag::On);
  }
  return tr("Partly done (%1 of %2)").arg(done).arg(chosen);
}

void QueueTableModel::runStateChanged() {
  if (rowCount() > 0) emit dataChanged(index(0, Status), index(rowCount() - 1, Status));
}

void QueueCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  paintCell(painter, option, index);
}

void QueueCellDelegate::paintCell(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem cell = option;
  // A frozen cell is not selectable on its own, yet belongs to the row.
  if (rowSelected(option, index)) cell.state |= QStyle::State_Selected;
  const bool focused = cell.state & QStyle::State_HasFocus;
  cell.state &= ~QStyle::State_HasFocus;
  QStyledItemDelegate::paint(painter, cell, index);
  if (!focused) return;
  // At least 3:1 against what it surrounds: white on the highlight, the
  // accent on a row's own shade.
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  const bool selected = cell.state & QStyle::State_Selected;
  painter->setPen(QPen(selected ? QColor(Qt::white) : option.palette.color(QPalette::Highlight), 2));
  painter->setBrush(Qt::NoBrush);
  painter->drawRoundedRect(QRectF(option.rect).adjusted(2, 2, -2, -2), 3, 3);
  painter->restore();
}

void TargetCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  paintCell(painter, option, index);
  if (index.data(QueueTableModel::FrozenRole).toBool()) paintFrozen(painter, option, index);
  const QString badge = index.data(QueueTableModel::BadgeRole).toString();
  if (badge.isEmpty()) return;
  // Drawn in full colour beside the check box, even where the cell is frozen.
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  const QWidget* view = option.widget;
  QStyle* style = view ? view->style() : QApplication::style();
  const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &cell, view);
  const int side = std::min(14, option.rect.height() - 4);
  painter->drawPixmap(QRect(box.right() + 4, option.rect.center().y() - side / 2, side, side), QPixmap(badge));
}

// A dash where the box would be, in the muted text colour (4.5:1 or more
// against the row), so a target that can no longer change never looks live.
void TargetCellDelegate::paintFrozen(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  cell.features |= QStyleOptionViewItem::HasCheckIndicator;
  const QWidget* view = option.widget;
  QStyle* style = view ? view->style() : QApplication::style();
  const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &cell, view);
  painter->save();
  painter->setPen(QPen(option.palette.color(rowSelected(option, index) ? QPalette::HighlightedText : QPalette::PlaceholderText), 2));
  const int half = std::max(3, box.width() / 3);
  painter->drawLine(box.center().x() - half, box.center().y(), box.center().x() + half, box.center().y());
  painter->restore();
}

// Why the entry's export failed, as the status's tool tip; nothing otherwise.
QVariant QueueTableModel::errorText(int row) const {
  if (queue_->status(row) != QLatin1String(status::Failed)) return {};
  const auto entry = queue_->entry(row);
  const QString reason = entry ? protocol::stringValue(*entry, protocol::QUEUE_ENTRY_ERROR_TEXT_KEY).value_or(QString()) : QString();
  return reason.isEmpty() ? tr("Export failed.") : shown(tr("Export failed: %1").arg(reason));
}

QVariant QueueTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const QStringList titles{QString(), tr("Movie"), tr("iPhone"), tr("iPod"), tr("Apple TV"),
                                  tr("QuickTime"), tr("Status"), QString()};
  return titles.value(section);
}

Qt::ItemFlags QueueTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDropEnabled;
  const auto target = targetOfColumn(index.column());
  if (!queue_ || !target) return flags;
  const QString flag = queue_->flag(index.row(), *target);
  const bool clickable = flag == QLatin1String(flag::On) || flag == QLatin1String(flag::Off);
  flags |= Qt::ItemIsUserCheckable;
  if (!clickable) flags &= ~Qt::ItemIsEnabled;
  return flags;
}

bool QueueTableModel::setData(const QModelIndex& index, const QVariant&, int role) {
  const auto target = targetOfColumn(index.column());
  if (role != Qt::CheckStateRole || !target) return false;
  emit toggleRequested(index.row(), *target);
  return true;
}

const QStringList& LogTableModel::columnIdentifiers() {
  static const QStringList identifiers{QLatin1String(LOG_ENTRY_TIME_KEY), QLatin1String(LOG_ENTRY_FILE_KEY),
                                       QLatin1String(LOG_ENTRY_ACTION_KEY)};
  return identifiers;
}

void LogTableModel::setLog(const QueueLog* log) {
  log_ = log;
  reload();
}

int LogTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !log_ ? 0 : log_->count();
}

int LogTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant LogTableModel::data(const QModelIndex& index, int role) const {
  if (!log_ || !index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole &&
                                    role != Qt::ToolTipRole))
    return {};
  switch (index.column()) {
    case 0:
      return shown(log_->time(index.row()).value_or(QString()));
    case 1: {
      // The movie's name, which each line is recognised by; its folder is in
      // the tool tip, so a narrow column never cuts the name.
      const QString path = log_->file(index.row()).value_or(QString());
      return shown(role == Qt::ToolTipRole ? path : protocol::lastPathComponent(path));
    }
    default:
      return shown(log_->action(index.row()).value_or(QString()));
  }
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const QStringList titles{tr("Time"), tr("Movie"), tr("Action")};
  return titles.value(section);
}

namespace {
constexpr int kColumnSampleRows = 100;
}  // namespace

void fitColumns(QTableView* table, std::initializer_list<int> stretching) {
  QHeaderView* header = table->horizontalHeader();
  // Columns fit what the first rows hold, never every row of a long log.
  header->setResizeContentsPrecision(kColumnSampleRows);
  header->setSectionResizeMode(QHeaderView::ResizeToContents);
  for (const int column : stretching) header->setSectionResizeMode(column, QHeaderView::Stretch);
}

}  // namespace tovix
