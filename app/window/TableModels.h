#pragma once
// The queue table and the log table read their rows from the stores every
// time the view asks; a reload is all it takes to show a change.
#include "protocol/Protocol.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <functional>

class QTableView;

namespace tovix {

// Sizes a table's columns to their contents, judged by a bounded sample of
// rows, and lets the columns in stretching take the spare width.
void fitColumns(QTableView* table, std::initializer_list<int> stretching);

class Queue;
class QueueLog;
class RunState;

// A table whose rows are read from a store on every request; reload() tells
// the view that everything may have changed.
class StoreTableModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void reload() {
    beginResetModel();
    endResetModel();
  }
};

class QueueTableModel : public StoreTableModel {
  Q_OBJECT
 public:
  // The resource name of a cell's image ("LI_encoded_ok.png"), for tests and
  // assistive tools that want the image's meaning rather than its pixels.
  static constexpr int ImageNameRole = Qt::UserRole + 1;
  // The resource of a target's done or failed badge; none while it is open.
  static constexpr int BadgeRole = Qt::UserRole + 2;
  // True for a target that can no longer change: the movie is done and this
  // target was not chosen. It shows a muted dash instead of a box.
  static constexpr int FrozenRole = Qt::UserRole + 3;

  // Column identifiers, in display order.
  static const QStringList& columnIdentifiers();

  explicit QueueTableModel(QObject* parent = nullptr) : StoreTableModel(parent) {}
  void setQueue(const Queue* queue);
  // The run whose export in flight the status column shows.
  void setRunState(const RunState* run) { run_ = run; }
  // Repaints the status column after the run moved on.
  void runStateChanged();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // A click on a target check box asks for the flip instead of setting it.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // The target a column shows, if it shows one.
  static std::optional<protocol::Target> targetOfColumn(int column);

 signals:
  void toggleRequested(int row, protocol::Target target);

 private:
  QVariant errorText(int row) const;
  QVariant statusData(int row, int role) const;
  QString statusText(int row) const;
  QVariant targetData(int row, protocol::Target target, int role) const;
  const Queue* queue_ = nullptr;
  const RunState* run_ = nullptr;
};

// Draws a queue cell: the selected row highlighted whole, frozen check boxes
// included, and the cell that has the keyboard's focus ringed.
class QueueCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 protected:
  void paintCell(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

// A target's cell, with its done or failed badge beside the check box.
class TargetCellDelegate : public QueueCellDelegate {
 public:
  using QueueCellDelegate::QueueCellDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  void paintFrozen(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

class LogTableModel : public StoreTableModel {
  Q_OBJECT
 public:
  static const QStringList& columnIdentifiers();

  explicit LogTableModel(QObject* parent = nullptr) : StoreTableModel(parent) {}
  void setLog(const QueueLog* log);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const QueueLog* log_ = nullptr;
};

}  // namespace tovix
