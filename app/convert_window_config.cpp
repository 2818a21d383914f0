// Pages 2 and 3, the page flow, the stored configuration listing and the column view.
#include <QCollator>
#include <QEvent>
#include <QSignalBlocker>

#include "app/convert_window.h"
#include "app/datalink/binders.h"
#include "app/datalink/table_model.h"
#include "app/screen_grid.h"
#include "app/splash_window.h"
#include "config/field_mapping.h"
#include "config/store.h"
#include "config/suggest_mapping.h"

namespace qm::app {

namespace {

using datalink::DataEvent;

// The configuration table's own events, as the window's handlers see them: every move, and
// every insert and delete, of the current configuration.
class StoreEvents : public QObject, public datalink::DataLink {
 public:
  explicit StoreEvents(TfrmConvert& w) : QObject(&w), w_(w) {}

  void dataEvent(DataEvent event, int) override {
    switch (event) {
      case DataEvent::Scrolled:
        w_.cdsStoreAfterScroll();
        break;
      case DataEvent::Inserted:
      case DataEvent::Deleted:
        w_.cdsStoreAfterDelete();
        break;
      default:
        break;
    }
  }

 private:
  TfrmConvert& w_;
};

// Keeps the listing over the whole client area while it is in front.
class ListingFill : public QObject {
 public:
  ListingFill(QWidget* window, QWidget* listing) : QObject(window), listing_(listing) {
    window->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::Resize && listing_->isVisible())
      listing_->setGeometry(static_cast<QWidget*>(watched)->rect());
    return false;
  }

 private:
  QWidget* listing_;
};

// The row of the selected entry of a single-selection list, -1 when none is selected.
int selected_row(const QListWidget* list) {
  const QList<QListWidgetItem*> sel = list->selectedItems();
  return sel.isEmpty() ? -1 : list->row(sel.first());
}

const char* const kListingColumns[] = {
    "STORENAME",  "FILENAME",   "CODE",       "PARAMETER", "SOURCE_ID", "DEPT",
    "UPDATEDATE", "EXPORTDBF",  "STARTEXPRT", "SHEET",     "COMPANY",   "PRICESHEET",
    "STREET",     "CITY",       "STATE",      "ZIP",       "PHONE",     "FAX",
    "APPENDDATA", "BREAKONROW", "SOURCE",     "ADDDESCRIP"};

// A name in page 2's list, ordered as the user's language orders words, without regard to
// case: "acme" before "Zeta".
class NameItem : public QListWidgetItem {
 public:
  explicit NameItem(const QString& text) : QListWidgetItem(text) {}
  bool operator<(const QListWidgetItem& other) const override {
    return collator().compare(text(), other.text()) < 0;
  }

 private:
  static const QCollator& collator() {
    static const QCollator c = [] {
      QCollator made;
      made.setCaseSensitivity(Qt::CaseInsensitive);
      made.setNumericMode(false);
      return made;
    }();
    return c;
  }
};

// Page 2's names list from the table, which ends on its last record.
void fill_config_names(TfrmConvert& w) {
  const QSignalBlocker quiet(w.lsbConfigNames);
  w.lsbConfigNames->clear();
  // One by one, so that the list puts each name in its sorted place.
  for (const std::string& name : config::configuration_names(w.cdsStore))
    w.lsbConfigNames->addItem(new NameItem(QString::fromStdString(name)));
}

}  // namespace

void TfrmConvert::wireConfigurationPages() {
  bindConfigurationControls();

  auto on = [this](QAbstractButton* b, void (TfrmConvert::*handler)()) {
    connect(b, &QAbstractButton::clicked, this,
            [this, handler] { guarded([=, this] { (this->*handler)(); }); });
  };
  on(btnNewConfig, &TfrmConvert::btnNewConfigClick);
  on(btnPrevious, &TfrmConvert::btnPreviousClick);
  on(btnDeleteConfig, &TfrmConvert::btnDeleteConfigClick);
  on(btnLookAtList, &TfrmConvert::btnLookAtListClick);
  on(Button3, &TfrmConvert::Button3Click);
  on(btnAdd, &TfrmConvert::btnAddClick);
  on(btnDelete, &TfrmConvert::btnDeleteClick);
  on(chkSort, &TfrmConvert::chkSortClick);
  on(btnViewSelect, &TfrmConvert::btnViewSelectClick);
  on(btnSuggest, &TfrmConvert::btnSuggestClick);
  connect(lsbConfigNames, &QListWidget::itemSelectionChanged, this,
          [this] { guarded([this] { lsbConfigNamesClick(); }); });
  connect(lstbFields, &QListWidget::itemSelectionChanged, this,
          [this] { guarded([this] { lstbFieldsClick(); }); });

  // Every Next and Back button goes where its tag says.
  for (QPushButton* b :
       {btnNextPage2, btnbackPage1, btnNextPage3, btnBackPage2, btnNextPage4, btnBackPage})
    connect(b, &QPushButton::clicked, this,
            [this, b] { guarded([=, this] { btnNextPage3Click(b); }); });
  connect(ntbMain, &QStackedWidget::currentChanged, this,
          [this] { guarded([this] { ntbMainPageChanged(); }); });

  new ListingFill(this, pnlLookList);
}

void TfrmConvert::bindConfigurationControls() {
  using namespace datalink;
  DataSource& ds = DataSource2;
  ds.setTable(&cdsStore);
  ds.setMessages(owner_.shell().messages);

  // Page 4.
  new LineEditBinder(ds, edeDBF, "EXPORTDBF", true);
  new LineEditBinder(ds, txtCompany, "Company");
  new LineEditBinder(ds, dbeSaveAsName, "StoreName");
  new CheckBoxBinder(ds, chkAddToExisting, "APPENDDATA");
  new LineEditBinder(ds, edeStart, "STARTEXPRT");
  new DateEditBinder(ds, txtUpdate, "UpdateDate");
  new LineEditBinder(ds, txtPriceSheet, "Pricesheet");
  new LineEditBinder(ds, DBEdit1, "SOURCE");
  new LineEditBinder(ds, dbeVendCode, "Code", true);
  new LineEditBinder(ds, dbeVendSource, "Source_ID", true);
  new LineEditBinder(ds, txtDept, "DEPT", true);
  new LineEditBinder(ds, dbeParam, "Parameter", true);
  new LineEditBinder(ds, DBEdit2, "SHEET");
  new CheckBoxBinder(ds, DBCheckBox1, "US_CANADA");
  new LineEditBinder(ds, DBEdit4, "CONVERSION");
  new CheckBoxBinder(ds, DBCheckBox2, "CABLE");
  new ComboBoxBinder(ds, DBComboBox1, "SERIALNUM", {"Y", "N"});
  new CheckBoxBinder(ds, DBCheckBox3, "CONTRACTPR");

  // Page 3. The memo's link comes before the window's own, so that a move has refreshed the
  // memo by the time the mapping list is loaded from it.
  new CheckBoxBinder(ds, chkRowBreak, "BREAKONROW");
  new CheckBoxBinder(ds, chkAddTitletoDesc, "ADDDESCRIP");
  lstbNewLink_ = new MemoBinder(ds, lstbNew, "FIELDSLIST");
  ds.addLink(new StoreEvents(*this));

  // The listing.
  std::vector<GridColumn> cols;
  for (const char* f : kListingColumns) cols.push_back(GridColumn{f, {}, 0});
  DBGrid2Model_ = new TableModel(ds, std::move(cols), true, DBGrid2);
  new GridLink(DBGrid2, DBGrid2Model_);
  DBNavigator1->followRows(DBGrid2Model_);
}

std::vector<std::string> TfrmConvert::mappingLines() const {
  std::vector<std::string> r;
  for (int i = 0; i < lstbNew2->count(); ++i) r.push_back(lstbNew2->item(i)->text().toStdString());
  return r;
}

void TfrmConvert::followMappingLength() {
  btnNextPage4->setEnabled(lstbNew2->count() > 0);
}

void TfrmConvert::refreshColumnView() {
  if (tag == 1 && frmScreenGrid) frmScreenGrid->refresh_columns();
}

// --- Page flow ------------------------------------------------------------------------------

void TfrmConvert::btnNextPage3Click(QObject* sender) {
  const int page = sender ? sender->property("tag").toInt() : 0;
  if (page < 1 || page > 4) return;
  showPage(QString("Page%1").arg(page));
}

void TfrmConvert::ntbMainPageChanged() {
  const QString page = ntbMain->currentWidget() ? ntbMain->currentWidget()->objectName() : "";
  if (page == "Page2") load_config_list();
  btnNextPage4->setEnabled(page == "Page3" && lstbNew2->count() > 0);
  btnSuggest->setEnabled(page == "Page3" && SourceTable && SourceTable->active());
  if (page == "Page4") pnlFinial->setVisible(chkVendInfo->isChecked());
}

// --- Page 2 ---------------------------------------------------------------------------------

void TfrmConvert::btnNewConfigClick() {
  btnNextPage3->setEnabled(true);
  {
    const QSignalBlocker quiet(lsbConfigNames);
    lsbConfigNames->clear();
  }
  config::new_configuration(cdsStore);
}

void TfrmConvert::btnPreviousClick() {
  load_config_list();
}

void TfrmConvert::load_config_list() {
  fill_config_names(*this);
  btnNextPage3->setEnabled(selected_row(lsbConfigNames) >= 0);
}

void TfrmConvert::lsbConfigNamesClick() {
  const int row = selected_row(lsbConfigNames);
  if (row < 0) return;
  config::find_configuration(cdsStore, lsbConfigNames->item(row)->text().toStdString());
  btnNextPage3->setEnabled(true);
}

void TfrmConvert::btnDeleteConfigClick() {
  const int row = selected_row(lsbConfigNames);
  std::string name;
  if (row >= 0) name = lsbConfigNames->item(row)->text().toStdString();
  const config::DeleteOutcome done = config::ask_and_delete_configuration(
      cdsStore, row >= 0 ? &name : nullptr, *owner_.shell().messages);
  if (done == config::DeleteOutcome::Refused || done == config::DeleteOutcome::Declined) return;
  fill_config_names(*this);
  if (selected_row(lsbConfigNames) < 0) btnNextPage3->setEnabled(false);
}

void TfrmConvert::cdsStoreAfterScroll() {
  lstbNew2->clear();
  // The memo shows the new record whichever link the table told first.
  if (lstbNewLink_) {
    lstbNewLink_->refresh();
    for (const std::string& l : lstbNewLink_->lines()) lstbNew2->addItem(QString::fromStdString(l));
  }
  refreshColumnView();
}

void TfrmConvert::cdsStoreAfterDelete() {
  lstbNew2->clear();
  refreshColumnView();
}

// --- The listing ----------------------------------------------------------------------------

void TfrmConvert::btnLookAtListClick() {
  refreshListing();
  pnlLookList->setGeometry(rect());
  pnlLookList->show();
  pnlLookList->raise();
}

void TfrmConvert::refreshListing() {
  // Another program may have changed the table since the rows were read.
  if (DBGrid2Model_) DBGrid2Model_->refresh();
  DBNavigator1->updateButtons();
}

void TfrmConvert::Button3Click() {
  // Behind the wizard it would still show through the panels' unpainted parts.
  pnlLookList->lower();
  pnlLookList->hide();
}

// --- Page 3 ---------------------------------------------------------------------------------

void TfrmConvert::btnAddClick() {
  config::AddMappingRequest r;
  std::string field;
  if (const int row = selected_row(cmbFields); row >= 0) {
    field = cmbFields->item(row)->text().toStdString();
    r.field = &field;
  }
  r.column = selected_row(lstbFields);
  r.rowBreak = chkRowBreak->isChecked();
  r.constant = txtConstant->text().toStdString();
  const config::AddMappingResult done =
      config::add_mapping_line(mappingLines(), r, *owner_.shell().messages);
  if (!done.added) return;
  lstbNew2->addItem(QString::fromStdString(done.line));
  if (done.clearConstant) txtConstant->clear();
  refreshColumnView();
  followMappingLength();
}

void TfrmConvert::btnDeleteClick() {
  const int row = selected_row(lstbNew2);
  if (!config::confirm_remove_mapping_line(mappingLines(), row, *owner_.shell().messages)) return;
  delete lstbNew2->takeItem(row);
  refreshColumnView();
  followMappingLength();
}

void TfrmConvert::chkSortClick() {
  // Enabling keeps later entries in place; the present ones are sorted once. Disabling leaves
  // the order as it is.
  cmbFields->setSortingEnabled(chkSort->isChecked());
  if (chkSort->isChecked()) cmbFields->sortItems(Qt::AscendingOrder);
}

void TfrmConvert::lstbFieldsClick() {
  const int row = selected_row(lstbFields);
  if (row >= 0 && row < lstFields->count()) lstFields->setCurrentRow(row);
}

void TfrmConvert::btnSuggestClick() {
  if (!SourceTable || !SourceTable->active()) return;
  config::SuggestOptions options;
  for (int i = 0; i < cmbFields->count(); ++i)
    options.fields.push_back(cmbFields->item(i)->text().toStdString());
  options.rowBreak = chkRowBreak->isChecked();
  const std::vector<std::string> lines =
      config::suggest_mapping(*SourceTable, mappingLines(), options);
  // The sample moved the table under the grid, which reads on from where the table stands.
  DataSource1->reload();
  for (const std::string& l : lines) lstbNew2->addItem(QString::fromStdString(l));
  refreshColumnView();
  followMappingLength();
}

void TfrmConvert::btnViewSelectClick() {
  if (tag != 0) return;
  frmScreenGrid = new TfrmScreenGrid(*this);
  frmScreenGrid->show();
  tag = 1;
}

}  // namespace qm::app
