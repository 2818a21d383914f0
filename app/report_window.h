// The report of a build in a window: the wizard's "Preview" (a dry run) and page 1's
// "Details" (the build that ran) both show it. Summary, the first records as stored, the
// notes and the changes against the previous price file, with a histogram of the price
// changes in percent; the report saved as JSON, notes and changes as CSV.
#pragma once

#include <QDialog>
#include <QWidget>

#include "app/logic/save_dialog.h"
#include "core/messages.h"
#include "pricefile/build_report.h"

class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace qm::app {

// Bars of the price changes in percent, one per percent, the ends holding everything beyond.
class ChangeHistogram : public QWidget {
 public:
  ChangeHistogram(const pricefile::Comparison* comparison, QWidget* parent);
  QSize sizeHint() const override { return {420, 120}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  const pricefile::Comparison* comparison_;
};

class ReportWindow : public QDialog {
 public:
  // saveDialog empty: the platform's dialog. A file that cannot be written is told through
  // messages.
  ReportWindow(pricefile::BuildReport report, SaveDialogRunner saveDialog, Messages* messages,
               QWidget* parent);

  const pricefile::BuildReport& report() const { return report_; }

  QLabel* lblSummary;
  QTabWidget* tabReport;
  QTableWidget* grdRecords;
  QTableWidget* grdNotes;
  QTableWidget* grdChanges;
  ChangeHistogram* histChanges;
  QPushButton* btnSaveReport;
  QPushButton* btnSaveNotes;
  QPushButton* btnSaveChanges;
  QPushButton* btnClose;

 private:
  void save(const char* title, const char* name, const char* filter, const std::string& text);

  pricefile::BuildReport report_;
  SaveDialogRunner saveDialog_;
  Messages* messages_;
};

// The one line of counts page 1 shows under "Import complete!".
std::string report_counts_line(const pricefile::BuildReport& report);

}  // namespace qm::app
