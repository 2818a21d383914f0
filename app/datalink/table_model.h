// A grid over a data source: a Qt table model of the table's records in the table's own order,
// and the link that keeps a QTableView's current row and the table's current record in step.
//
// Rows are read on demand (canFetchMore/fetchMore), so a large table shows without being read
// through. The current record is shown from the bound table itself (with its unposted edit);
// other rows are read from the file. A record being appended shows as an extra last row.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <string>
#include <vector>

#include "app/datalink/data_source.h"

class QTableView;

namespace qm::datalink {

struct GridColumn {
  std::string field;
  std::string title;  // empty: the field's name
  int width = 0;      // pixels; 0: from the field's display width
};

class TableModel : public QAbstractTableModel, public DataLink {
  Q_OBJECT

 public:
  static constexpr int kFetchChunk = 256;

  TableModel(DataSource& source, std::vector<GridColumn> columns, bool editable,
             QObject* parent = nullptr);
  ~TableModel() override;

  const std::vector<GridColumn>& columns() const { return columns_; }
  bool editable() const { return editable_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Moves the table to the row's record if needed, starts an edit and writes the field.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Row of the table's current record (read up to it when needed), -1 when there is none.
  int currentRow();
  // Makes the row's record the table's current record (ending any edit as a move does).
  void moveToRow(int row);
  // Whether a row follows the current record's, reading ahead one chunk when needed.
  bool rowAfterCurrent();
  // Reads the file again, for changes made by another program.
  void refresh() { rebuild(); }

  void dataEvent(DataEvent event, int fieldIndex) override;

 signals:
  void currentRowChanged(int row);
  // The table was opened, closed, attached or detached: columns may have other fields.
  void tableChanged();

 private:
  void rebuild();
  void relayout();
  void fetchTo(std::int64_t count);
  void rowChanged(int row);
  tables::DbfField* cellField(int row, int column) const;

  std::vector<GridColumn> columns_;
  bool editable_;
  mutable RowMap rows_;
  int shown_ = 0;           // rows published to views (rows_ may have read further)
  bool inserting_ = false;  // an appended record not yet posted, shown as the last row
  int moving_ = 0;          // inside moveToRow: a relayout waits until the move is over
  bool relayoutPending_ = false;
};

// Binds a QTableView to a TableModel: sets the model and column widths and keeps the view's
// current row and the table's current record in step both ways. A child of the view.
class GridLink : public QObject {
  Q_OBJECT

 public:
  GridLink(QTableView* view, TableModel* model);
  void applyColumnWidths();

 private:
  void followTable(int row);
  QPointer<QTableView> view_;
  QPointer<TableModel> model_;
  bool syncing_ = false;
};

}  // namespace qm::datalink
