#include "app/source_model.h"

namespace qm::app {

void SourceRowsModel::setDataset(Dataset* d) {
  dataset_ = d;
  reload();
}

void SourceRowsModel::reload() {
  beginResetModel();
  headers_.clear();
  widths_.clear();
  rows_.clear();
  started_ = false;
  atEnd_ = true;
  if (dataset_ && dataset_->active()) {
    for (int i = 0; i < dataset_->fieldCount(); ++i) {
      headers_.push_back(QString::fromStdString(dataset_->field(i).displayName()));
      widths_.push_back(dataset_->field(i).displayWidth());
    }
    atEnd_ = false;
  }
  endResetModel();
  // The first rows show at once, before the grid asks.
  fetchMore({});
}

int SourceRowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SourceRowsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant SourceRowsModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const auto& row = rows_[static_cast<std::size_t>(index.row())];
  auto c = static_cast<std::size_t>(index.column());
  return c < row.size() ? QVariant(row[c]) : QVariant();
}

QVariant SourceRowsModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (o == Qt::Vertical) return section + 1;
  return section >= 0 && section < columnCount()
             ? QVariant(headers_[static_cast<std::size_t>(section)])
             : QVariant();
}

int SourceRowsModel::displayWidth(int column) const {
  return column >= 0 && column < columnCount() ? widths_[static_cast<std::size_t>(column)] : 0;
}

bool SourceRowsModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !atEnd_ && dataset_ && dataset_->active();
}

void SourceRowsModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  std::vector<std::vector<QString>> batch;
  try {
    if (!started_) {
      dataset_->first();
      started_ = true;
    }
    int n = static_cast<int>(headers_.size());
    while (!dataset_->eof() && static_cast<int>(batch.size()) < kBatch) {
      std::vector<QString> row;
      row.reserve(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i)
        row.push_back(QString::fromStdString(dataset_->field(i).asString()));
      batch.push_back(std::move(row));
      dataset_->next();
    }
    if (dataset_->eof()) atEnd_ = true;
  } catch (...) {
    // A row the reader cannot take ends the grid there; the build reports it properly.
    atEnd_ = true;
  }
  if (batch.empty()) return;
  int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(batch.size()) - 1);
  for (auto& r : batch) rows_.push_back(std::move(r));
  endInsertRows();
}

void SourceRowsModel::fetchAll() {
  while (canFetchMore({})) fetchMore({});
}

}  // namespace qm::app
