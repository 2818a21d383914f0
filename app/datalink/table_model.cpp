#include "app/datalink/table_model.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyle>
#include <QTableView>
#include <algorithm>

#include "core/error.h"

namespace qm::datalink {

using tables::DbfTable;
using tables::TableState;

TableModel::TableModel(DataSource& source, std::vector<GridColumn> columns, bool editable,
                       QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)), editable_(editable) {
  source.addLink(this);
  rebuild();
}

TableModel::~TableModel() = default;

int TableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return shown_ + (inserting_ ? 1 : 0);
}

int TableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

tables::DbfField* TableModel::cellField(int row, int column) const {
  DataSource* src = dataSource();
  if (!src || !src->active() || column < 0 || column >= columnCount()) return nullptr;
  DbfTable* t = src->table();
  const std::string& name = columns_[static_cast<size_t>(column)].field;
  if (inserting_ && row == shown_) return t->findField(name);
  if (row < 0 || row >= shown_) return nullptr;
  // The current record comes from the bound table, unposted edit and all; not while it holds
  // a search key instead of a record.
  if (t->state() != TableState::SetKey && rows_.recNoAt(row) == t->recNo())
    return t->findField(name);
  DbfTable* r = rows_.readRow(row);
  return r ? r->findField(name) : nullptr;
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::TextAlignmentRole) return {};
  try {
    const tables::DbfField* f = cellField(index.row(), index.column());
    if (!f) return {};
    if (role == Qt::TextAlignmentRole) {
      const char type = f->def().type;
      const bool number = type == 'N' || type == 'F' || type == 'I' || type == '+' || type == 'O' ||
                          type == 'Y' || type == 'B';
      return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    return QString::fromStdString(f->asString());
  } catch (const Error&) {
    return {};
  }
}

QVariant TableModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (o == Qt::Vertical) return {};
  if (section < 0 || section >= columnCount()) return {};
  const GridColumn& c = columns_[static_cast<size_t>(section)];
  return QString::fromStdString(c.title.empty() ? c.field : c.title);
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (editable_) f |= Qt::ItemIsEditable;
  return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!editable_ || role != Qt::EditRole || !index.isValid()) return false;
  DataSource* src = dataSource();
  if (!src || !src->active()) return false;
  const std::string name = columns_[static_cast<size_t>(index.column())].field;
  try {
    if (index.row() != currentRow()) moveToRow(index.row());
    if (index.row() != currentRow()) return false;
    tables::DbfField* f = src->table()->findField(name);
    if (!f) return false;
    // Writing the value the cell already shows is no change: it must not start an edit that
    // a later move would post.
    if (!src->table()->editing() && QString::fromStdString(f->asString()) == value.toString())
      return true;
    if (!src->beginEdit()) return false;
    f = src->table()->findField(name);
    if (!f) return false;
    f->setAsString(value.toString().toStdString());
  } catch (const std::exception& e) {
    if (src->messages()) src->reportError(e);
    rowChanged(index.row());
    return false;
  }
  rowChanged(index.row());
  return true;
}

bool TableModel::canFetchMore(const QModelIndex& parent) const {
  if (parent.isValid() || inserting_) return false;
  return rows_.usable() && !rows_.complete();
}

void TableModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid()) return;
  fetchTo(shown_ + kFetchChunk);
}

void TableModel::fetchTo(std::int64_t count) {
  if (inserting_) return;
  if (count > rows_.size()) {
    try {
      rows_.fetch(count - rows_.size());
    } catch (const Error& e) {
      // A file that cannot be read further ends the grid where it could be read.
      rows_.fetchAll();  // no-op once marked complete
      (void)e;
    }
  }
  const int have = static_cast<int>(rows_.size());
  if (have > shown_) {
    beginInsertRows({}, shown_, have - 1);
    shown_ = have;
    endInsertRows();
  }
}

bool TableModel::rowAfterCurrent() {
  const int row = currentRow();
  if (row < 0 || inserting_) return false;
  if (row + 1 >= shown_ && canFetchMore({})) fetchMore({});
  return row + 1 < shown_;
}

int TableModel::currentRow() {
  DataSource* src = dataSource();
  if (!src || !src->active()) return -1;
  if (inserting_) return shown_;
  const std::int64_t recNo = src->table()->recNo();
  if (recNo <= 0) return -1;
  std::int64_t row = rows_.rowOf(recNo);
  while (row < 0 && rows_.usable() && !rows_.complete()) {
    const std::int64_t before = rows_.size();
    fetchTo(rows_.size() + kFetchChunk);
    if (rows_.size() == before) break;
    row = rows_.rowOf(recNo);
  }
  return row < shown_ ? static_cast<int>(row) : -1;
}

void TableModel::moveToRow(int row) {
  DataSource* src = dataSource();
  if (!src || !src->active() || row < 0 || row >= rowCount()) return;
  if (inserting_ && row == shown_) return;
  ++moving_;
  try {
    DbfTable* t = src->table();
    const std::int64_t recNo = rows_.recNoAt(row);
    if (recNo != t->recNo() || t->state() == TableState::Insert) t->goToRecNo(recNo);
  } catch (const std::exception& e) {
    --moving_;
    src->reportError(e);
    return;
  }
  --moving_;
}

void TableModel::rowChanged(int row) {
  if (row < 0 || row >= rowCount() || columns_.empty()) return;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TableModel::rebuild() {
  beginResetModel();
  DataSource* src = dataSource();
  const bool active = src && src->active();
  rows_.reset(active ? src->table() : nullptr);
  shown_ = 0;
  inserting_ = false;
  endResetModel();
  if (!active) return;
  if (src->table()->state() == TableState::Insert) {
    rows_.fetchAll();
    fetchTo(rows_.size());
    beginInsertRows({}, shown_, shown_);
    inserting_ = true;
    endInsertRows();
  } else {
    fetchTo(kFetchChunk);
  }
}

void TableModel::relayout() {
  if (moving_ > 0) {
    // The view asked for this move from inside its own selection handling; re-reading the
    // order then would pull the rows out from under it.
    if (!relayoutPending_) {
      relayoutPending_ = true;
      QMetaObject::invokeMethod(
          this,
          [this] {
            relayoutPending_ = false;
            relayout();
          },
          Qt::QueuedConnection);
    }
    return;
  }
  const int had = shown_;
  rebuild();
  fetchTo(std::max(had, kFetchChunk));
  emit currentRowChanged(currentRow());
}

void TableModel::dataEvent(DataEvent event, int /*fieldIndex*/) {
  DataSource* src = dataSource();
  DbfTable* t = src ? src->table() : nullptr;
  switch (event) {
    case DataEvent::ActiveChanged:
      rebuild();
      emit tableChanged();
      emit currentRowChanged(currentRow());
      return;
    case DataEvent::Scrolled:
      rows_.invalidate();
      if (t && t->active() && t->indexName() != rows_.indexName()) {
        relayout();
        return;
      }
      if (shown_ + (inserting_ ? 1 : 0) > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
      emit currentRowChanged(currentRow());
      return;
    case DataEvent::Inserted:
      if (inserting_) return;
      rows_.fetchAll();
      fetchTo(rows_.size());
      beginInsertRows({}, shown_, shown_);
      inserting_ = true;
      endInsertRows();
      return;
    case DataEvent::Posted:
      rows_.invalidate();
      if (inserting_) {
        inserting_ = false;
        if (t && rows_.indexName().empty() && t->recNo() > 0 && rows_.rowOf(t->recNo()) < 0) {
          // In physical order the posted record is the last one: the extra row becomes it.
          rows_.appendRow(t->recNo());
          ++shown_;
          rowChanged(shown_ - 1);
        } else {
          relayout();
        }
        emit currentRowChanged(currentRow());
        return;
      }
      if (!rows_.indexName().empty()) {
        relayout();  // a changed key may have moved the record
        return;
      }
      rowChanged(currentRow());
      return;
    case DataEvent::Cancelled:
      rows_.invalidate();
      if (inserting_) {
        beginRemoveRows({}, shown_, shown_);
        inserting_ = false;
        endRemoveRows();
        return;
      }
      rowChanged(currentRow());
      return;
    case DataEvent::Deleted:
      relayout();
      return;
    case DataEvent::StateChanged:
    case DataEvent::FieldChanged:
      rowChanged(currentRow());
      return;
  }
}

// --- GridLink ------------------------------------------------------------------------------

GridLink::GridLink(QTableView* view, TableModel* model)
    : QObject(view), view_(view), model_(model) {
  view->setModel(model);
  if (!model->editable()) view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (syncing_ || !model_ || !current.isValid()) return;
            model_->moveToRow(current.row());
          });
  connect(model, &TableModel::currentRowChanged, this, &GridLink::followTable);
  connect(model, &TableModel::tableChanged, this, &GridLink::applyColumnWidths);
  applyColumnWidths();
  followTable(model->currentRow());
}

void GridLink::applyColumnWidths() {
  if (!view_ || !model_) return;
  DataSource* src = model_->dataSource();
  const QFontMetrics fm(view_->font());
  // Titles are measured as the header draws them (capitals run wider than the average
  // letter, and a header may be bold), so that no column cuts its title.
  const QFontMetrics header(view_->horizontalHeader()->font());
  QFont bold = view_->horizontalHeader()->font();
  bold.setBold(true);
  const QFontMetrics boldHeader(bold);
  const int pad =
      2 * view_->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, view_->horizontalHeader()) +
      2;
  const auto& cols = model_->columns();
  for (size_t c = 0; c < cols.size(); ++c) {
    const QString title =
        QString::fromStdString(cols[c].title.empty() ? cols[c].field : cols[c].title);
    const int titleFits =
        std::max(header.horizontalAdvance(title), boldHeader.horizontalAdvance(title)) + pad;
    int w = cols[c].width;
    if (w <= 0 && src) {
      if (const tables::DbfField* f = src->field(cols[c].field))
        w = std::min(f->displayWidth(), 64) * fm.averageCharWidth() + 8;
    }
    if (w > 0) view_->setColumnWidth(static_cast<int>(c), std::max(w, titleFits));
  }
}

void GridLink::followTable(int row) {
  if (!view_ || !model_) return;
  QItemSelectionModel* sel = view_->selectionModel();
  if (!sel) return;
  syncing_ = true;
  if (row < 0) {
    sel->clearCurrentIndex();
  } else {
    const int col = std::max(0, view_->currentIndex().column());
    const QModelIndex idx = model_->index(row, col);
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
    if (view_->selectionBehavior() == QAbstractItemView::SelectRows)
      flags |= QItemSelectionModel::Rows;
    if (sel->currentIndex() != idx) sel->setCurrentIndex(idx, flags);
    view_->scrollTo(idx);
  }
  syncing_ = false;
}

}  // namespace qm::datalink
