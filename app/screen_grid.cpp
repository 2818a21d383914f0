#include "app/screen_grid.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "app/convert_window.h"
#include "app/splash_window.h"

namespace qm::app {

// --- ColumnViewModel ------------------------------------------------------------------------

ColumnViewModel::ColumnViewModel(SourceRowsModel* source, QObject* parent)
    : QAbstractTableModel(parent), source_(source) {
  if (!source) return;
  connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
  connect(source, &QAbstractItemModel::modelReset, this, [this] { endResetModel(); });
  connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this,
          [this](const QModelIndex&, int first, int last) { beginInsertRows({}, first, last); });
  connect(source, &QAbstractItemModel::rowsInserted, this, [this] { endInsertRows(); });
  connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) { beginRemoveRows({}, first, last); });
  connect(source, &QAbstractItemModel::rowsRemoved, this, [this] { endRemoveRows(); });
  connect(source, &QAbstractItemModel::dataChanged, this, [this] {
    if (rowCount() > 0 && columnCount() > 0)
      emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
  });
}

void ColumnViewModel::setColumns(std::vector<config::ColumnViewColumn> columns) {
  beginResetModel();
  columns_ = std::move(columns);
  endResetModel();
}

int ColumnViewModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !source_ ? 0 : source_->rowCount();
}

int ColumnViewModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ColumnViewModel::data(const QModelIndex& index, int role) const {
  if (!source_ || !index.isValid() || index.column() >= columnCount()) return {};
  const int f = columns_[static_cast<size_t>(index.column())].field;
  // An unbound column shows no values.
  if (f < 0 || f >= source_->columnCount()) return {};
  return source_->data(source_->index(index.row(), f), role);
}

QVariant ColumnViewModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (o == Qt::Horizontal) {
    if (section < 0 || section >= columnCount()) return {};
    return QString::fromStdString(columns_[static_cast<size_t>(section)].title);
  }
  return section + 1;
}

bool ColumnViewModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && source_ && source_->canFetchMore({});
}

void ColumnViewModel::fetchMore(const QModelIndex& parent) {
  if (!parent.isValid() && source_) source_->fetchMore({});
}

// --- TfrmScreenGrid -------------------------------------------------------------------------

TfrmScreenGrid::TfrmScreenGrid(TfrmConvert& owner)
    : QWidget(&owner, Qt::Tool | Qt::WindowStaysOnTopHint), owner_(owner) {
  setObjectName("frmScreenGrid");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Select Column view");
  resize(584, 102);
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - QPoint(584 / 2, 102 / 2));

  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  dbgColumn = new QTableView(this);
  dbgColumn->setObjectName("dbgColumn");
  dbgColumn->setEditTriggers(QAbstractItemView::NoEditTriggers);
  dbgColumn->setSelectionMode(QAbstractItemView::SingleSelection);
  dbgColumn->setTabKeyNavigation(false);
  dbgColumn->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  model_ = new ColumnViewModel(owner.DataSource1, this);
  dbgColumn->setModel(model_);
  v->addWidget(dbgColumn);

  // Over the grid, not in the layout.
  bntClose = new QPushButton("&Close", this);
  bntClose->setObjectName("bntClose");
  bntClose->setGeometry(248, 40, 75, 25);
  bntClose->raise();
  connect(bntClose, &QPushButton::clicked, this, [this] { bntCloseClick(); });

  // Both grids follow the same current row.
  connect(owner.DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { followRow(owner_.DBGrid1, dbgColumn); });
  connect(dbgColumn->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { followRow(dbgColumn, owner_.DBGrid1); });

  FormCreate();
}

void TfrmScreenGrid::FormCreate() {
  refresh_columns();
}

void TfrmScreenGrid::bntCloseClick() {
  close();
}

void TfrmScreenGrid::closeEvent(QCloseEvent* e) {
  owner_.tag = 0;
  e->accept();  // and destroyed: WA_DeleteOnClose
}

void TfrmScreenGrid::followRow(QTableView* from, QTableView* to) {
  if (syncing_ || !to->model()) return;
  const int row = from->currentIndex().row();
  if (row < 0 || row >= to->model()->rowCount() || to->currentIndex().row() == row) return;
  syncing_ = true;
  const int col = std::max(0, to->currentIndex().column());
  if (col < to->model()->columnCount()) to->setCurrentIndex(to->model()->index(row, col));
  syncing_ = false;
}

void TfrmScreenGrid::refresh_columns() {
  model_->setColumns({});
  SourceTableLink* src = owner_.SourceTable.get();
  if (!src || !src->active()) return;
  std::vector<std::string> lines;
  for (int i = 0; i < owner_.lstbNew2->count(); ++i)
    lines.push_back(owner_.lstbNew2->item(i)->text().toStdString());
  std::vector<config::ColumnViewColumn> cols = config::column_view_columns(lines, *src);
  Messages& m = *owner_.frmSplash().shell().messages;
  for (const auto& c : cols)
    if (c.field < 0) m.error(c.error);
  model_->setColumns(std::move(cols));
  const int ch = dbgColumn->fontMetrics().averageCharWidth();
  for (int c = 0; c < model_->columnCount(); ++c) {
    const int f = model_->columns()[static_cast<size_t>(c)].field;
    if (f >= 0 && owner_.DataSource1 && f < owner_.DataSource1->columnCount())
      dbgColumn->setColumnWidth(c, owner_.DataSource1->displayWidth(f) * ch + 8);
  }
}

}  // namespace qm::app
