// The column view window: the source rows with one column per mapping line, titled with the
// destination field, so that the user can check the mapping against the data. Always on top,
// not modal; the wizard's tag is 1 while it is open.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QWidget>
#include <vector>

#include "app/source_model.h"
#include "config/field_mapping.h"

namespace qm::app {

class TfrmConvert;

// The rows of the wizard's source rows model, with columns picked and titled by the mapping.
class ColumnViewModel : public QAbstractTableModel {
 public:
  ColumnViewModel(SourceRowsModel* source, QObject* parent);

  void setColumns(std::vector<config::ColumnViewColumn> columns);
  const std::vector<config::ColumnViewColumn>& columns() const { return columns_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 private:
  QPointer<SourceRowsModel> source_;
  std::vector<config::ColumnViewColumn> columns_;
};

class TfrmScreenGrid : public QWidget {
 public:
  explicit TfrmScreenGrid(TfrmConvert& owner);

  QTableView* dbgColumn;
  QPushButton* bntClose;

  void FormCreate();
  void bntCloseClick();
  // Rebuilds the grid's columns from the mapping list; an error box per line that binds to
  // no source field.
  void refresh_columns();
  ColumnViewModel* model() const { return model_; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void followRow(QTableView* from, QTableView* to);

  TfrmConvert& owner_;
  ColumnViewModel* model_;
  bool syncing_ = false;
};

}  // namespace qm::app
