// The rows of the source table for the grid DBGrid1, read forward through the dataset only as
// far as the grid has been scrolled, so that a sheet of a million rows shows at once.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "core/dataset.h"

namespace qm::app {

class SourceRowsModel : public QAbstractTableModel {
 public:
  explicit SourceRowsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // The dataset behind the grid; nullptr for none. Call reload() after the dataset was opened,
  // closed or moved by someone else.
  void setDataset(Dataset* d);
  void reload();
  // How many rows have been read from the dataset so far.
  long long rowsRead() const { return static_cast<long long>(rows_.size()); }
  static constexpr int kBatch = 1000;
  // Reads every remaining row: for a jump to the end.
  void fetchAll();
  // Rows in the sheet as its reader knows them before the walk, -1 when unknown. Set before
  // setDataset; a reload keeps it.
  void setKnownRows(long long rows) { knownRows_ = rows; }
  long long knownRows() const { return knownRows_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Display width in characters of a column (the field's display width).
  int displayWidth(int column) const;

 private:
  Dataset* dataset_ = nullptr;
  std::vector<QString> headers_;
  std::vector<int> widths_;
  std::vector<std::vector<QString>> rows_;
  bool started_ = false;
  bool atEnd_ = true;
  long long knownRows_ = -1;
};

}  // namespace qm::app
