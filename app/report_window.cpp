#include "app/report_window.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "core/paths.h"

namespace qm::app {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

// Numbers sort as numbers in a sortable grid.
QTableWidgetItem* number_item(std::int64_t n) {
  auto* item = new QTableWidgetItem;
  item->setData(Qt::DisplayRole, static_cast<qlonglong>(n));
  return item;
}

QTableWidget* grid(const char* name, const QStringList& headers, QWidget* parent) {
  auto* g = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  g->setObjectName(name);
  g->setHorizontalHeaderLabels(headers);
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setSelectionBehavior(QAbstractItemView::SelectRows);
  g->verticalHeader()->setVisible(false);
  return g;
}

void add_change_rows(QTableWidget* g, const std::vector<pricefile::PriceChange>& list,
                     bool suspiciousOnly) {
  for (const pricefile::PriceChange& c : list) {
    if (c.suspicious != suspiciousOnly) continue;
    const int row = g->rowCount();
    g->insertRow(row);
    g->setItem(row, 0, new QTableWidgetItem(qs(c.part)));
    g->setItem(row, 1, new QTableWidgetItem(qs(c.field)));
    g->setItem(row, 2, new QTableWidgetItem(qs(c.before)));
    g->setItem(row, 3, new QTableWidgetItem(qs(c.after)));
    g->setItem(row, 4, new QTableWidgetItem(c.suspicious ? "suspicious" : ""));
  }
}

std::optional<std::string> platform_save(QWidget* parent, const SaveDialog& d) {
  QString chosen =
      QFileDialog::getSaveFileName(parent, qs(d.title), qs(d.initialDir + d.fileName),
                                   qs(d.filter.substr(0, d.filter.find('|'))) + " (" +
                                       qs(d.filter.substr(d.filter.find('|') + 1)) + ")");
  if (chosen.isEmpty()) return std::nullopt;
  // Qt names files with "/" on every platform; our messages use the platform's separator.
  return QDir::toNativeSeparators(chosen).toStdString();
}

}  // namespace

ChangeHistogram::ChangeHistogram(const pricefile::Comparison* comparison, QWidget* parent)
    : QWidget(parent), comparison_(comparison) {
  setObjectName("histChanges");
  setMinimumHeight(90);
  setToolTip("Price changes in percent, from -50 % to +50 %; the end bars hold all beyond");
}

void ChangeHistogram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  if (!comparison_) return;
  const auto& h = comparison_->histogram;
  const std::int64_t top = *std::max_element(h.begin(), h.end());
  if (top == 0) return;
  const int n = static_cast<int>(h.size());
  const int axis = height() - 14;
  p.setPen(palette().text().color());
  p.drawLine(0, axis, width(), axis);
  p.drawText(QRect(0, axis, width(), 14), Qt::AlignLeft, "-50 %");
  p.drawText(QRect(0, axis, width(), 14), Qt::AlignHCenter, "0");
  p.drawText(QRect(0, axis, width(), 14), Qt::AlignRight, "+50 %");
  for (int i = 0; i < n; ++i) {
    if (h[static_cast<std::size_t>(i)] == 0) continue;
    // Square root so that the few outliers show beside a general rise.
    const double share = std::sqrt(double(h[static_cast<std::size_t>(i)]) / double(top));
    const int bar = std::max(1, static_cast<int>(share * (axis - 2)));
    const int x0 = i * width() / n, x1 = (i + 1) * width() / n;
    const bool end = i == 0 || i == n - 1;
    p.fillRect(x0, axis - bar, std::max(1, x1 - x0 - 1), bar,
               end ? QColor(200, 60, 60) : palette().highlight().color());
  }
}

std::string report_counts_line(const pricefile::BuildReport& r) {
  std::string line = std::to_string(r.rowsTotal()) + " rows, " + std::to_string(r.partRecords) +
                     " parts, " + std::to_string(r.notesTotal()) + " notes";
  if (r.comparison)
    line += ", " + std::to_string(r.comparison->added) + " added, " +
            std::to_string(r.comparison->removed) + " removed, " +
            std::to_string(r.comparison->changed) + " changed (" +
            std::to_string(r.comparison->suspiciousCount) + " suspicious)";
  return line;
}

ReportWindow::ReportWindow(pricefile::BuildReport report, SaveDialogRunner saveDialog,
                           Messages* messages, QWidget* parent)
    : QDialog(parent),
      report_(std::move(report)),
      saveDialog_(std::move(saveDialog)),
      messages_(messages) {
  setObjectName("frmReport");
  setWindowTitle(report_.dryRun ? "Preview: nothing has been written" : "Build report");
  resize(900, 620);
  auto* box = new QVBoxLayout(this);

  QStringList summary;
  if (report_.dryRun) summary << "Preview of the build: nothing has been written.";
  for (const std::string& line : pricefile::report_summary(report_, 10)) summary << qs(line);
  lblSummary = new QLabel(summary.join("\n"), this);
  lblSummary->setObjectName("lblSummary");
  lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box->addWidget(lblSummary);

  tabReport = new QTabWidget(this);
  tabReport->setObjectName("tabReport");
  box->addWidget(tabReport, 1);

  QStringList fields;
  for (const std::string& f : report_.recordFields) fields << qs(f);
  grdRecords = grid("grdRecords", fields, tabReport);
  grdRecords->setRowCount(static_cast<int>(report_.records.size()));
  for (std::size_t r = 0; r < report_.records.size(); ++r)
    for (std::size_t c = 0; c < report_.records[r].size(); ++c)
      grdRecords->setItem(static_cast<int>(r), static_cast<int>(c),
                          new QTableWidgetItem(qs(report_.records[r][c])));
  tabReport->addTab(grdRecords, "&Records");

  grdNotes =
      grid("grdNotes", {"Sheet", "Row", "Column", "Field", "Text", "Stored", "Reason"}, tabReport);
  grdNotes->setRowCount(static_cast<int>(report_.notes.size()));
  for (std::size_t i = 0; i < report_.notes.size(); ++i) {
    const pricefile::Note& n = report_.notes[i];
    const int row = static_cast<int>(i);
    grdNotes->setItem(row, 0, new QTableWidgetItem(qs(n.sheet)));
    grdNotes->setItem(row, 1, number_item(n.row));
    grdNotes->setItem(row, 2, new QTableWidgetItem(qs(n.column)));
    grdNotes->setItem(row, 3, new QTableWidgetItem(qs(n.field)));
    grdNotes->setItem(row, 4, new QTableWidgetItem(qs(n.text)));
    grdNotes->setItem(row, 5, new QTableWidgetItem(qs(n.stored)));
    grdNotes->setItem(row, 6, new QTableWidgetItem(pricefile::reason_code(n.reason)));
  }
  grdNotes->setSortingEnabled(true);
  grdNotes->sortByColumn(1, Qt::AscendingOrder);
  tabReport->addTab(grdNotes, "&Notes");

  auto* changes = new QSplitter(Qt::Vertical, tabReport);
  grdChanges = grid("grdChanges", {"Part", "Field", "Old", "New", ""}, changes);
  const pricefile::Comparison* c = report_.comparison ? &*report_.comparison : nullptr;
  if (c) {
    add_change_rows(grdChanges, c->changes, true);
    add_change_rows(grdChanges, c->changes, false);
  }
  histChanges = new ChangeHistogram(c, changes);
  changes->addWidget(grdChanges);
  changes->addWidget(histChanges);
  tabReport->addTab(changes, "C&hanges");

  auto* buttons = new QHBoxLayout;
  btnSaveReport = new QPushButton("Save Report (&JSON)...", this);
  btnSaveReport->setObjectName("btnSaveReport");
  btnSaveNotes = new QPushButton("Save N&otes (CSV)...", this);
  btnSaveNotes->setObjectName("btnSaveNotes");
  btnSaveChanges = new QPushButton("Save Chan&ges (CSV)...", this);
  btnSaveChanges->setObjectName("btnSaveChanges");
  btnClose = new QPushButton("&Close", this);
  btnClose->setObjectName("btnClose");
  btnClose->setDefault(true);
  buttons->addWidget(btnSaveReport);
  buttons->addWidget(btnSaveNotes);
  buttons->addWidget(btnSaveChanges);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  box->addLayout(buttons);

  connect(btnSaveReport, &QPushButton::clicked, this, [this] {
    save("Save Report", "report.json", "JSON *.json|*.json", pricefile::report_json(report_));
  });
  connect(btnSaveNotes, &QPushButton::clicked, this, [this] {
    save("Save Notes", "notes.csv", "CSV *.csv|*.csv", pricefile::notes_csv(report_));
  });
  connect(btnSaveChanges, &QPushButton::clicked, this, [this] {
    save("Save Changes", "changes.csv", "CSV *.csv|*.csv", pricefile::changes_csv(report_));
  });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void ReportWindow::save(const char* title, const char* name, const char* filter,
                        const std::string& text) {
  SaveDialog d{title, filter, name, folder_of(report_.sourceFile)};
  SaveDialogRunner run = saveDialog_;
  if (!run) run = [this](const SaveDialog& sd) { return platform_save(this, sd); };
  std::optional<std::string> path = run(d);
  if (!path) return;
  std::ofstream f(to_fs_path(*path), std::ios::binary);
  f << text;
  f.close();
  if (!f && messages_) messages_->error("Cannot write " + *path);
}

}  // namespace qm::app
