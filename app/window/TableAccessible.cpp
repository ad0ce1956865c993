#include "app/window/TableAccessible.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTableView>
#include <QWindow>

namespace tovix {

namespace {

// One place of the table: a cell, a column header (row -1), a row header
// (column -1) or the corner (both -1). Places are forgotten whenever rows or
// columns come or go, so row and column stay meaningful while one lives.
class TablePlaceAccessible : public QAccessibleInterface,
                             public QAccessibleTableCellInterface,
                             public QAccessibleActionInterface {
 public:
  TablePlaceAccessible(QTableView* view, int row, int column) : view_(view), row_(row), column_(column) {}

  bool isValid() const override {
    return view_ && view_->model() && row_ < view_->model()->rowCount() && column_ < view_->model()->columnCount();
  }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* focusChild() const override { return nullptr; }
  void setText(QAccessible::Text, const QString&) override {}

  QAccessible::Role role() const override {
    if (row_ < 0 && column_ < 0) return QAccessible::Pane;
    if (row_ < 0) return QAccessible::ColumnHeader;
    if (column_ < 0) return QAccessible::RowHeader;
    return QAccessible::Cell;
  }

  QString text(QAccessible::Text kind) const override {
    if (!isValid()) return {};
    const QAbstractItemModel* model = view_->model();
    if (row_ < 0 || column_ < 0) {
      if (kind != QAccessible::Name || (row_ < 0 && column_ < 0)) return {};
      return row_ < 0 ? model->headerData(column_, Qt::Horizontal).toString()
                      : model->headerData(row_, Qt::Vertical).toString();
    }
    if (kind == QAccessible::Description) return index().data(Qt::AccessibleDescriptionRole).toString();
    if (kind != QAccessible::Name) return {};
    const QString spoken = index().data(Qt::AccessibleTextRole).toString();
    return spoken.isEmpty() ? index().data(Qt::DisplayRole).toString() : spoken;
  }

  QRect rect() const override {
    if (!isValid() || row_ < 0 || column_ < 0) return headerRect();
    const QRect inViewport = view_->visualRect(index());
    return QRect(view_->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size());
  }

  QAccessible::State state() const override {
    QAccessible::State state;
    if (!isValid() || row_ < 0 || column_ < 0) return state;
    const QModelIndex cell = index();
    const Qt::ItemFlags flags = cell.flags();
    const QRect shown(view_->viewport()->mapToGlobal(QPoint(0, 0)), view_->viewport()->size());
    state.invisible = !view_->isVisible();
    state.offscreen = !shown.intersects(rect());
    state.selectable = state.focusable = flags.testFlag(Qt::ItemIsSelectable);
    state.selected = isSelected();
    state.focused = view_->hasFocus() && view_->currentIndex() == cell;
    if (flags.testFlag(Qt::ItemIsUserCheckable)) {
      state.checkable = true;
      state.checked = cell.data(Qt::CheckStateRole).toInt() == Qt::Checked;
      // A check box the model froze can still be read; it is only not changeable.
      state.readOnly = !flags.testFlag(Qt::ItemIsEnabled);
    } else {
      state.disabled = !flags.testFlag(Qt::ItemIsEnabled);
    }
    return state;
  }

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TableCellInterface && row_ >= 0 && column_ >= 0)
      return static_cast<QAccessibleTableCellInterface*>(this);
    if (type == QAccessible::ActionInterface && row_ >= 0 && column_ >= 0)
      return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
  }

  // QAccessibleTableCellInterface
  bool isSelected() const override {
    return isValid() && view_->selectionModel() && view_->selectionModel()->isSelected(index());
  }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {headerOf(-1, column_)}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {headerOf(row_, -1)}; }
  int columnIndex() const override { return column_; }
  int rowIndex() const override { return row_; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return parent(); }

  // QAccessibleActionInterface: Toggle flips a changeable check box; on any
  // other cell it selects or unselects the row.
  QStringList actionNames() const override {
    if (!isValid() || (isCheckBox() && !index().flags().testFlag(Qt::ItemIsEnabled))) return {};
    return {toggleAction()};
  }
  void doAction(const QString& name) override {
    if (name != toggleAction() || actionNames().isEmpty()) return;
    if (isCheckBox()) {
      const bool checked = index().data(Qt::CheckStateRole).toInt() == Qt::Checked;
      view_->model()->setData(index(), checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
      return;
    }
    if (auto* table = dynamic_cast<TableAccessible*>(parent()))
      isSelected() ? table->unselectRow(row_) : table->selectRow(row_);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  QModelIndex index() const { return view_->model()->index(row_, column_, view_->rootIndex()); }
  bool isCheckBox() const { return index().flags().testFlag(Qt::ItemIsUserCheckable); }
  QAccessibleInterface* headerOf(int row, int column) const {
    auto* table = dynamic_cast<TableAccessible*>(parent());
    return table ? table->child(table->childIndex(row, column)) : nullptr;
  }
  QRect headerRect() const {
    if (!view_ || (row_ < 0) == (column_ < 0)) return {};
    const QHeaderView* header = row_ < 0 ? view_->horizontalHeader() : view_->verticalHeader();
    if (header->isHidden()) return {};
    const int section = row_ < 0 ? column_ : row_;
    const int start = header->sectionViewportPosition(section), length = header->sectionSize(section);
    const QRect local = header->orientation() == Qt::Horizontal ? QRect(start, 0, length, header->height())
                                                                : QRect(0, start, header->width(), length);
    return QRect(header->viewport()->mapToGlobal(local.topLeft()), local.size());
  }

  QPointer<QTableView> view_;
  int row_, column_;
};

QAccessibleInterface* tableFactory(const QString& className, QObject* object) {
  auto* view = qobject_cast<QTableView*>(object);
  if (!view || className != QLatin1String("QTableView")) return nullptr;
  return new TableAccessible(view);
}

}  // namespace

void installTableAccessibility() { QAccessible::installFactory(tableFactory); }

TableAccessible::TableAccessible(QTableView* view) : QAccessibleWidget(view, QAccessible::Table) {}

TableAccessible::~TableAccessible() { forgetChildren(); }

QTableView* TableAccessible::view() const { return static_cast<QTableView*>(widget()); }

int TableAccessible::childIndex(int row, int column) const { return (row + 1) * (columnCount() + 1) + column + 1; }

int TableAccessible::childCount() const { return (rowCount() + 1) * (columnCount() + 1); }

QAccessibleInterface* TableAccessible::child(int index) const {
  if (index < 0 || index >= childCount()) return nullptr;
  if (const auto known = children_.constFind(index); known != children_.constEnd())
    return QAccessible::accessibleInterface(*known);
  const int width = columnCount() + 1;
  auto* place = new TablePlaceAccessible(view(), index / width - 1, index % width - 1);
  children_.insert(index, QAccessible::registerAccessibleInterface(place));
  return place;
}

int TableAccessible::indexOfChild(const QAccessibleInterface* child) const {
  const auto* place = dynamic_cast<const TablePlaceAccessible*>(child);
  if (!place || place->parent() != this) return -1;
  return childIndex(place->rowIndex(), place->columnIndex());
}

QAccessibleInterface* TableAccessible::childAt(int x, int y) const {
  const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
  return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
}

QAccessibleInterface* TableAccessible::focusChild() const {
  const QModelIndex current = view()->currentIndex();
  return current.isValid() && view()->hasFocus() ? cellAt(current.row(), current.column()) : nullptr;
}

void* TableAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* TableAccessible::cellAt(int row, int column) const {
  if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
  return child(childIndex(row, column));
}

int TableAccessible::columnCount() const { return view()->model() ? view()->model()->columnCount() : 0; }

int TableAccessible::rowCount() const { return view()->model() ? view()->model()->rowCount() : 0; }

QString TableAccessible::columnDescription(int column) const {
  return view()->model() ? view()->model()->headerData(column, Qt::Horizontal).toString() : QString();
}

QString TableAccessible::rowDescription(int row) const {
  return view()->model() ? view()->model()->headerData(row, Qt::Vertical).toString() : QString();
}

int TableAccessible::selectedCellCount() const { return int(selectedCells().size()); }

int TableAccessible::selectedColumnCount() const { return int(selectedColumns().size()); }

int TableAccessible::selectedRowCount() const { return int(selectedRows().size()); }

QList<QAccessibleInterface*> TableAccessible::selectedCells() const {
  QList<QAccessibleInterface*> cells;
  if (!view()->selectionModel()) return cells;
  for (const QModelIndex& index : view()->selectionModel()->selectedIndexes())
    cells << cellAt(index.row(), index.column());
  return cells;
}

QList<int> TableAccessible::selectedColumns() const {
  QList<int> columns;
  if (!view()->selectionModel()) return columns;
  for (const QModelIndex& index : view()->selectionModel()->selectedColumns()) columns << index.column();
  return columns;
}

QList<int> TableAccessible::selectedRows() const {
  QList<int> rows;
  if (!view()->selectionModel()) return rows;
  for (const QModelIndex& index : view()->selectionModel()->selectedRows()) rows << index.row();
  return rows;
}

bool TableAccessible::isColumnSelected(int column) const {
  return view()->selectionModel() && view()->selectionModel()->isColumnSelected(column, view()->rootIndex());
}

bool TableAccessible::isRowSelected(int row) const {
  return view()->selectionModel() && view()->selectionModel()->isRowSelected(row, view()->rootIndex());
}

// Selects the way a click would, so a single-selection view keeps one row.
bool TableAccessible::selectRow(int row) {
  if (row < 0 || row >= rowCount() || view()->selectionMode() == QAbstractItemView::NoSelection) return false;
  view()->selectRow(row);
  return true;
}

bool TableAccessible::unselectRow(int row) {
  if (!isRowSelected(row)) return false;
  const QModelIndex first = view()->model()->index(row, 0, view()->rootIndex());
  view()->selectionModel()->select(first, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  return true;
}

// Once rows or columns came or went, every place may mean another one.
void TableAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
  if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged) forgetChildren();
}

void TableAccessible::forgetChildren() {
  for (const QAccessible::Id id : std::as_const(children_)) QAccessible::deleteAccessibleInterface(id);
  children_.clear();
}

}  // namespace tovix
