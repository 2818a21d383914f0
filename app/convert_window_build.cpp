// The build of the price file from page 4.
#include <QBoxLayout>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "app/convert_window.h"
#include "app/logic/build_link.h"
#include "app/report_window.h"
#include "app/splash_window.h"
#include "pricefile/build_file.h"

namespace qm::app {

namespace {

std::string text_of(const QLineEdit* e) {
  return e->text().toStdString();
}

pricefile::BuildPage read_build_page(const TfrmConvert& w) {
  pricefile::BuildPage p;
  p.manufacturer = text_of(w.edeDBF);
  p.destFolder = text_of(w.edtDestFolder);
  p.company = text_of(w.txtCompany);
  p.saveName = text_of(w.dbeSaveAsName);
  p.addToExisting = w.chkAddToExisting->isChecked();
  p.startRow = text_of(w.edeStart);
  p.updateDate = text_of(w.txtUpdate);
  p.priceSheet = text_of(w.txtPriceSheet);
  p.vendorInfo = w.chkVendInfo->isChecked();
  p.manulistFolder = text_of(w.edtManlist);
  p.vendorCode = text_of(w.dbeVendCode);
  p.vendorId = text_of(w.dbeVendSource);
  p.dept = text_of(w.txtDept);
  p.parameter = text_of(w.dbeParam);
  p.sourceLit = text_of(w.DBEdit2);
  p.usCanada = w.DBCheckBox1->isChecked();
  p.conversion = text_of(w.DBEdit4);
  p.cable = w.DBCheckBox2->isChecked();
  p.serialNum = w.DBComboBox1->currentText().toStdString();
  p.contractPr = w.DBCheckBox3->isChecked();
  p.multipleTabs = w.MultipleTabs->isChecked();
  p.rowBreak = w.chkRowBreak->isChecked();
  p.addTitleToDesc = w.chkAddTitletoDesc->isChecked();
  p.sheetCount = w.cmbSheets->count();
  for (int i = 0; i < w.lstbNew2->count(); ++i)
    p.mapping.push_back(w.lstbNew2->item(i)->text().toStdString());
  return p;
}

// Shows the progress with its Cancel, and keeps the pages and grid from being used, for the
// build's length; puts everything back on every way out.
struct ProgressShown {
  TfrmConvert& w;
  bool& building;
  explicit ProgressShown(TfrmConvert& window, bool& flag) : w(window), building(flag) {
    building = true;
    w.prgBuild->setRange(0, 0);
    w.prgBuild->setValue(0);
    w.prgBuild->setFormat(QString());
    w.btnCancelBuild->setEnabled(true);
    w.pnlProgress->setVisible(true);
    w.Panel2->setEnabled(false);
    w.DBGrid1->setEnabled(false);
    w.btnCancelBuild->setFocus();
  }
  ~ProgressShown() {
    building = false;
    w.pnlProgress->setVisible(false);
    w.Panel2->setEnabled(true);
    w.DBGrid1->setEnabled(true);
  }
};

}  // namespace

void TfrmConvert::wireBuild() {
  pnlProgress = new QWidget(this);
  pnlProgress->setObjectName("pnlProgress");
  auto* row = new QHBoxLayout(pnlProgress);
  row->setContentsMargins(6, 2, 6, 2);
  prgBuild = new QProgressBar(pnlProgress);
  prgBuild->setObjectName("prgBuild");
  prgBuild->setTextVisible(true);
  btnCancelBuild = new QPushButton("Cancel", pnlProgress);
  btnCancelBuild->setObjectName("btnCancelBuild");
  row->addWidget(prgBuild, 1);
  row->addWidget(btnCancelBuild);
  pnlProgress->setVisible(false);
  if (auto* box = qobject_cast<QBoxLayout*>(layout())) box->insertWidget(1, pnlProgress);
  connect(Button1, &QPushButton::clicked, this, [this] { guarded([this] { btnExportClick(); }); });
  connect(btnPreview, &QPushButton::clicked, this,
          [this] { guarded([this] { btnPreviewClick(); }); });
  connect(btnDetails, &QPushButton::clicked, this, [this] { showReport(lastReport_); });
  connect(btnCancelBuild, &QPushButton::clicked, this, [this] { cancelBuild(); });
}

void TfrmConvert::cancelBuild() {
  if (!building_) return;
  cancelRequested_ = true;
  btnCancelBuild->setEnabled(false);
}

void TfrmConvert::closeIfAsked() {
  // Closing was asked for during the build; it happens once the build has returned.
  if (!closeAfterBuild_) return;
  closeAfterBuild_ = false;
  QTimer::singleShot(0, this, [this] { close(); });
}

void TfrmConvert::btnPreviewClick() {
  pricefile::BuildResult result = runBuild(true);
  if (result.outcome == pricefile::BuildOutcome::Refused ||
      result.outcome == pricefile::BuildOutcome::Cancelled)
    return;
  showReport(result.report);
}

void TfrmConvert::showReport(const pricefile::BuildReport& report) {
  auto* w = new ReportWindow(report, owner_.shell().saveDialog, owner_.shell().messages, this);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->open();
}

void TfrmConvert::btnExportClick() {
  pricefile::BuildResult result = runBuild(false);
  if (result.outcome != pricefile::BuildOutcome::Complete) return;
  lblComplete->setText(QString::fromStdString(result.completion));
  lblComplete->setVisible(true);
  lastReport_ = std::move(result.report);
  lblReportCounts->setText(QString::fromStdString(report_counts_line(lastReport_)));
  lblReportCounts->setVisible(true);
  btnDetails->setVisible(true);
  btnNextPage2->setEnabled(false);
}

pricefile::BuildResult TfrmConvert::runBuild(bool dryRun) {
  pricefile::BuildPage page = read_build_page(*this);
  SourceBuildLink link(*SourceDB, *SourceTable);
  link.source().fileName = text_of(edtDir) + text_of(edtFileName);
  link.source().tableName = SourceTable->tableName();
  link.source().firstSheetRow =
      pricefile::first_sheet_row(text_of(edtFileName), chkMakeFirstRecordHeaderFields->isChecked());
  pricefile::BuildTables tables{cdsStore, tblFields, tblExport, tblVendor};
  pricefile::DefaultSettings noSettings;
  std::unique_ptr<pricefile::IniSettings> ini;
  if (settings) ini = std::make_unique<pricefile::IniSettings>(*settings);
  pricefile::BuildEnvironment env{
      *owner_.shell().messages, AppFolder,
      ini ? static_cast<const pricefile::SettingsSource&>(*ini) : noSettings};
  env.showPage = [this](const std::string& name) { showPage(QString::fromStdString(name)); };
  env.dryRun = dryRun;
  env.progress = [this](std::int64_t rows, std::int64_t sheetRows) {
    if (sheetRows > 0) {
      const int total = static_cast<int>(std::min<std::int64_t>(sheetRows, INT_MAX));
      prgBuild->setRange(0, total);
      prgBuild->setValue(static_cast<int>(std::min<std::int64_t>(rows, total)));
      prgBuild->setFormat(QString("%1 of %2 rows (%p%)").arg(rows).arg(sheetRows));
    } else {
      prgBuild->setRange(0, 0);
      prgBuild->setFormat(QString("%1 rows").arg(rows));
    }
    // The walk does not return to the event loop; the bar is drawn now.
    prgBuild->repaint();
  };
  cancelRequested_ = false;
  QElapsedTimer sinceEvents;
  env.cancelled = [this, &sinceEvents] {
    // Cancel, Escape and closing the window reach the window while the walk runs.
    if (!sinceEvents.isValid() || sinceEvents.elapsed() >= 40) {
      QCoreApplication::processEvents();
      sinceEvents.restart();
    }
    return cancelRequested_;
  };
  lblBuildState->clear();

  // The grid reads the source table forward as it scrolls; the walk moves that table.
  DataSource1->setDataset(nullptr);
  pricefile::BuildResult result;
  {
    ProgressShown shown(*this, building_);
    try {
      result = pricefile::build_file(page, link.source(), tables, env);
    } catch (...) {
      sourceRowsChanged();
      closeIfAsked();
      throw;
    }
  }
  sourceRowsChanged();
  if (result.outcome == pricefile::BuildOutcome::Cancelled) {
    showPage("Page4");
    lblBuildState->setText("Build cancelled");
  }
  closeIfAsked();
  return result;
}

}  // namespace qm::app
