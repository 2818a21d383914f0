// Page 4's vendor group and the vendor panel.
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QSignalBlocker>

#include "app/convert_window.h"
#include "app/datalink/table_model.h"
#include "app/splash_window.h"
#include "core/paths.h"

namespace qm::app {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

std::string text_of(const QLineEdit* e) {
  return e->text().toStdString();
}

// "Description|pattern|..." as the Qt dialogs take it.
QString qt_filters(const std::string& filter) {
  QStringList r;
  const QStringList parts = qs(filter).split('|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    r << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
  return r.join(";;");
}

QString start_path(const std::string& folder, const std::string& fileName) {
  return qs(fileName.empty() ? folder : join_path(folder, fileName));
}

std::optional<std::string> platform_open(QWidget* parent, const OpenDialog& d) {
  QString chosen = QFileDialog::getOpenFileName(
      parent, qs(d.title), start_path(d.initialDir, d.fileName), qt_filters(d.filter));
  if (chosen.isEmpty()) return std::nullopt;
  // Qt names files with "/" on every platform; our messages use the platform's separator.
  return QDir::toNativeSeparators(chosen).toStdString();
}

std::optional<std::string> platform_save(QWidget* parent, const SaveDialog& d) {
  // Only the folder of the answer is kept, so an existing file is no reason to ask.
  QString chosen = QFileDialog::getSaveFileName(
      parent, qs(d.title), start_path(d.initialDir, d.fileName), qt_filters(d.filter), nullptr,
      QFileDialog::DontConfirmOverwrite);
  if (chosen.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(chosen).toStdString();
}

}  // namespace

void TfrmConvert::wireVendorPage() {
  DataSource3.setTable(&tblVendor);
  DataSource3.setMessages(owner_.shell().messages);
  auto* model = new datalink::TableModel(DataSource3,
                                         {{"CODE", "CODE", 0},
                                          {"COMPANY", "COMPANY", 188},
                                          {"ID", "ID", 97},
                                          {"INVTLINK", "Manufacturers ID", 92},
                                          {"ALIASNAME1", "Lit Vendor", 0}},
                                         false, DBGrid3);
  model->setObjectName("DataSource3");
  new datalink::GridLink(DBGrid3, model);
  DBGrid3->setSelectionBehavior(QAbstractItemView::SelectRows);
  DBGrid3->setSelectionMode(QAbstractItemView::SingleSelection);
  DBGrid3->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);

  connect(chkVendInfo, &QCheckBox::toggled, this,
          [this] { guarded([this] { chkVendInfoClick(); }); });
  connect(btnAlaLoc, &QPushButton::clicked, this,
          [this] { guarded([this] { btnAlaLocClick(); }); });
  connect(btnDest, &QPushButton::clicked, this, [this] { guarded([this] { btnDestClick(); }); });
  connect(Button4, &QPushButton::clicked, this, [this] { guarded([this] { Button4Click(); }); });
  // A radio button's click handler runs when it becomes the selected one.
  connect(chkCompany, &QRadioButton::toggled, this, [this](bool on) {
    if (on) guarded([this] { chkCompanyClick(); });
  });
  connect(chkID, &QRadioButton::toggled, this, [this](bool on) {
    if (on) guarded([this] { chkIDClick(); });
  });
  connect(chkCode, &QRadioButton::toggled, this, [this](bool on) {
    if (on) guarded([this] { chkCodeClick(); });
  });
  connect(Edit1, &QLineEdit::textChanged, this, [this] { guarded([this] { Edit1Change(); }); });
  connect(cmdTake, &QPushButton::clicked, this,
          [this] { guarded([this] { cmdTakeClick(cmdTake); }); });
  connect(Button6, &QPushButton::clicked, this,
          [this] { guarded([this] { cmdTakeClick(Button6); }); });
  connect(DBGrid3, &QTableView::doubleClicked, this,
          [this] { guarded([this] { DBGrid3DblClick(); }); });
}

void TfrmConvert::chkVendInfoClick() {
  pnlFinial->setVisible(chkVendInfo->isChecked());
}

void TfrmConvert::btnAlaLocClick() {
  // The dialog matches the name exactly: it is offered in the case the file has.
  const std::string folder = text_of(edtManlist);
  opd.fileName = folder.empty() ? "Manulist.dbf"
                                : file_name_of(resolve_path(join_path(folder, "Manulist.dbf")));
  opd.defaultExt = "*.dbf";
  opd.initialDir = text_of(edtManlist);
  opd.filter = "Dbase *.dbf|*.dbf";
  OpenDialogRunner run = owner_.shell().openDialog;
  if (!run) run = [this](const OpenDialog& d) { return platform_open(this, d); };
  std::optional<std::string> chosen;
  try {
    chosen = run(opd);
  } catch (...) {
    opd.defaultExt = "*.xls";
    throw;
  }
  // Page 1 shares the dialog and expects its workbooks again.
  opd.defaultExt = "*.xls";
  if (chosen) edtManlist->setText(qs(lookup::folder_of_choice(*chosen)));
}

void TfrmConvert::btnDestClick() {
  const std::string id = text_of(edeDBF);
  if (!lookup::check_destination_choice(id, text_of(edeStart), *owner_.shell().messages)) return;
  sd1.title = "Select a path to export your file.";
  sd1.filter = "Dbase *.dbf|*.dbf";
  sd1.fileName = lookup::proposed_file_name(id);
  sd1.initialDir = text_of(edtDestFolder);
  SaveDialogRunner run = owner_.shell().saveDialog;
  if (!run) run = [this](const SaveDialog& d) { return platform_save(this, d); };
  if (std::optional<std::string> chosen = run(sd1))
    edtDestFolder->setText(qs(lookup::folder_of_choice(*chosen)));
}

void TfrmConvert::syncVendorSelector() {
  QRadioButton* selected = vendorLookup.mode() == lookup::LookupMode::Code ? chkCode
                           : vendorLookup.mode() == lookup::LookupMode::Id ? chkID
                                                                           : chkCompany;
  if (!selected->isChecked()) {
    // The look-up has switched its mode already; the click handler must not run it again.
    QSignalBlocker quiet(selected);
    selected->setChecked(true);
  }
  if (Edit1->text() != qs(vendorLookup.findText())) {
    QSignalBlocker quiet(Edit1);
    Edit1->setText(qs(vendorLookup.findText()));
  }
}

void TfrmConvert::Button4Click() {
  const bool opened =
      vendorLookup.lookUp(text_of(edtManlist), text_of(dbeVendCode), *owner_.shell().messages);
  syncVendorSelector();
  if (!opened) return;
  DBGrid1->hide();
  pnlVendor->show();
  pnlVendor->raise();
}

void TfrmConvert::chooseVendorMode(lookup::LookupMode mode) {
  try {
    vendorLookup.chooseMode(mode);
  } catch (...) {
    syncVendorSelector();
    throw;
  }
  syncVendorSelector();
}

void TfrmConvert::chkCompanyClick() {
  chooseVendorMode(lookup::LookupMode::Company);
}

void TfrmConvert::chkIDClick() {
  chooseVendorMode(lookup::LookupMode::Id);
}

void TfrmConvert::chkCodeClick() {
  chooseVendorMode(lookup::LookupMode::Code);
}

void TfrmConvert::Edit1Change() {
  vendorLookup.setFindText(text_of(Edit1));
}

void TfrmConvert::cmdTakeClick(QObject* sender) {
  if (sender == cmdTake) vendorLookup.take(cdsStore);
  vendorLookup.closePanel();
  pnlVendor->hide();
  DBGrid1->show();
}

void TfrmConvert::DBGrid3DblClick() {
  cmdTakeClick(cmdTake);
}

}  // namespace qm::app
