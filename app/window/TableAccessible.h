#pragma once
// What assistive tools see of a table view. Qt's own table interface gives
// every cell one "Toggle" action that selects the row, and reports a check
// box the model froze as disabled. Here a check-box cell's Toggle flips the
// check box, a frozen one reads as read-only, and every other cell keeps the
// row-selecting Toggle.
#include <QAccessibleWidget>
#include <QHash>

class QTableView;

namespace tovix {

// Installs the interface for every QTableView of the application; call it
// once the QApplication exists, before any window is shown.
void installTableAccessibility();

class TableAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  explicit TableAccessible(QTableView* view);
  ~TableAccessible() override;

  QTableView* view() const;

  // QAccessibleInterface: children are laid out as the view numbers them in
  // its events: the corner, a row of column headers, then per row its header
  // followed by its cells.
  QAccessible::Role role() const override { return QAccessible::Table; }
  int childCount() const override;
  QAccessibleInterface* child(int index) const override;
  int indexOfChild(const QAccessibleInterface* child) const override;
  QAccessibleInterface* childAt(int x, int y) const override;
  QAccessibleInterface* focusChild() const override;
  void* interface_cast(QAccessible::InterfaceType type) override;

  // QAccessibleTableInterface
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override;
  int columnCount() const override;
  int rowCount() const override;
  QString columnDescription(int column) const override;
  QString rowDescription(int row) const override;
  int selectedCellCount() const override;
  int selectedColumnCount() const override;
  int selectedRowCount() const override;
  QList<QAccessibleInterface*> selectedCells() const override;
  QList<int> selectedColumns() const override;
  QList<int> selectedRows() const override;
  bool isColumnSelected(int column) const override;
  bool isRowSelected(int row) const override;
  bool selectRow(int row) override;
  bool selectColumn(int) override { return false; }
  bool unselectRow(int row) override;
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent* event) override;

  // The child index of a place: row -1 is the column headers' row, column -1
  // the row headers' column.
  int childIndex(int row, int column) const;

 private:
  void forgetChildren();
  mutable QHash<int, QAccessible::Id> children_;
};

}  // namespace tovix
