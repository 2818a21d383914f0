// Start-up and closing of the wizard window, and page 1's handlers.
#include "app/convert_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QScreen>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "app/datalink/binders.h"
#include "app/splash_window.h"
#include "app/widget_makers.h"
#include "core/datetime.h"
#include "core/paths.h"

namespace qm::app {

namespace {

using widgets::named;

QStringList to_qt(const std::vector<std::string>& v) {
  QStringList r;
  for (const auto& s : v) r << QString::fromStdString(s);
  return r;
}

std::vector<std::string> items_of(const QListWidget* w) {
  std::vector<std::string> r;
  for (int i = 0; i < w->count(); ++i) r.push_back(w->item(i)->text().toStdString());
  return r;
}

void set_items(QListWidget* w, const std::vector<std::string>& items) {
  if (items_of(w) == items) return;
  w->clear();
  w->addItems(to_qt(items));
}

std::optional<std::string> platform_open_dialog(QWidget* parent, const OpenDialog& d) {
  QStringList filters;
  for (const auto& f : dialog_filters(d.filter)) {
    QStringList pats = to_qt(f.patterns);
    filters << QString::fromStdString(f.description) + " (" + pats.join(' ') + ")";
  }
  QString start = QString::fromStdString(d.initialDir);
  if (!d.fileName.empty()) start = QString::fromStdString(join_path(d.initialDir, d.fileName));
  QString chosen = QFileDialog::getOpenFileName(parent, QString::fromStdString(d.title), start,
                                                filters.join(";;"));
  if (chosen.isEmpty()) return std::nullopt;
  // Qt names files with "/" on every platform; our messages use the platform's separator.
  return QDir::toNativeSeparators(chosen).toStdString();
}

}  // namespace

TfrmConvert::TfrmConvert(TfrmSplash& owner) : QWidget(nullptr), owner_(owner) {
  setObjectName("frmConvert");
  setWindowTitle("Quillmere");
  AppShell& shell = owner_.shell();
  SourceComponents sc = shell.sources();
  SourceDB = std::move(sc.db);
  SourceTable = std::move(sc.table);
  tblFields.setTableName("flistwin.dbf");
  tblVendor.setTableName("prvendor.DBF");

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  Panel2 = named(new QFrame(this), "Panel2");
  Panel2->setFrameShape(QFrame::StyledPanel);
  // As tall as the tallest page asks; the grid below takes what is left.
  Panel2->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  auto* p2 = new QVBoxLayout(Panel2);
  p2->setContentsMargins(4, 4, 4, 4);
  ntbMain = named(new QStackedWidget(Panel2), "ntbMain");
  p2->addWidget(ntbMain);
  const char* pageNames[] = {"Page1", "Page2", "Page3", "Page4"};
  QWidget* pages[4];
  for (int i = 0; i < 4; ++i) {
    pages[i] = named(new QWidget(ntbMain), pageNames[i]);
    ntbMain->addWidget(pages[i]);
  }
  buildPage1(pages[0]);
  buildPage2(pages[1]);
  buildPage3(pages[2]);
  buildPage4(pages[3]);
  outer->addWidget(Panel2);

  DBGrid1 = named(new QTableView(this), "DBGrid1");
  DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  DBGrid1->setTabKeyNavigation(false);  // Tab goes on to the next control
  DataSource1 = named(new SourceRowsModel(this), "DataSource1");
  DBGrid1->setModel(DataSource1);
  DBGrid1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  connect(DataSource1, &QAbstractItemModel::modelReset, this, [this] {
    int ch = DBGrid1->fontMetrics().averageCharWidth();
    for (int c = 0; c < DataSource1->columnCount(); ++c)
      DBGrid1->setColumnWidth(c, DataSource1->displayWidth(c) * ch + 8);
  });
  outer->addWidget(DBGrid1, 1);
  lblRowCount = named(new QLabel(this), "lblRowCount");
  lblRowCount->setContentsMargins(6, 2, 6, 2);
  outer->addWidget(lblRowCount);
  connect(DataSource1, &QAbstractItemModel::modelReset, this, [this] { showRowCount(); });
  connect(DataSource1, &QAbstractItemModel::rowsInserted, this, [this] { showRowCount(); });

  buildVendorPanel();
  outer->addWidget(pnlVendor, 1);
  buildLookList(this);

  // Start-up, closing and page 1 here; the other pages in their own files.
  connect(btnBrowse, &QPushButton::clicked, this,
          [this] { guarded([this] { btnOpenFileClick(); }); });
  connect(btnOpenSourceFile, &QPushButton::clicked, this,
          [this] { guarded([this] { btnOpenSourceFileClick(); }); });
  connect(cmbSheets, qOverload<int>(&QComboBox::activated), this,
          [this](int) { guarded([this] { cmbSheets1Change(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { guarded([this] { Button2Click(); }); });
  connect(dttimDueDate, &QDateEdit::dateChanged, this,
          [this] { guarded([this] { dttimDueDateChange(); }); });
  wireConfigurationPages();
  wireVendorPage();
  wireBuild();
  wireKeys();

  resize(defaultSize());
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TfrmConvert::~TfrmConvert() {
  DataSource1->setDataset(nullptr);
}

void TfrmConvert::guarded(const std::function<void()>& handler) {
  owner_.shell().topLevel->run(handler);
}

void TfrmConvert::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (sized_) return;
  sized_ = true;
  // The default size is the outer size; the frame comes off the client area, and a small
  // screen takes what it can show.
  const QSize frame = frameGeometry().size() - size();
  QSize outer = defaultSize();
  if (QScreen* s = screen()) outer = outer.boundedTo(s->availableGeometry().size());
  resize(outer - frame);
}

void TfrmConvert::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && form_became_active(this))
    guarded([this] { FormActivate(); });
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && !pnlLookList->isHidden())
    guarded([this] { refreshListing(); });
}

void TfrmConvert::closeEvent(QCloseEvent* e) {
  if (building_) {
    // The build runs inside this call's caller; the window closes once it has stopped.
    e->ignore();
    if (closeAfterBuild_) return;
    if (owner_.shell().messages->askYesNo(MsgKind::Confirmation,
                                          "A price file is being built. Cancel the build?")) {
      closeAfterBuild_ = true;
      cancelBuild();
    }
    return;
  }
  e->accept();
  guarded([this] { FormClose(); });
}

void TfrmConvert::showPage(const QString& name) {
  if (auto* page = ntbMain->findChild<QWidget*>(name)) ntbMain->setCurrentWidget(page);
}

void TfrmConvert::FormActivate() {
  if (firstActivated_) return;
  setWindowTitle(QString("Quillmere ") + QString::fromStdString(owner_.VersionText));
  firstActivated_ = true;
  {
    QSignalBlocker quiet(dttimDueDate);
    Ymd t = ymd_from_day(today().day);
    dttimDueDate->setDate(QDate(t.year, t.month, t.day));
  }
  showPage("Page1");
  AppFolder = owner_.shell().programFolder;
  if (!ends_with_separator(AppFolder)) AppFolder += path_separator();
  settings = std::make_unique<IniFile>(AppFolder + "Convert.ini");

  Settings s = read_settings(*settings, AppFolder);
  restorePlacement();
  UseOlderExcelDrivers->setChecked(s.useOlderExcelDrivers);
  edtDestFolder->setText(QString::fromStdString(s.destFolder));
  edtDir->setText(QString::fromStdString(s.sourceFolder));
  edtFileName->setText(QString::fromStdString(s.sourceFile));
  edtManlist->setText(QString::fromStdString(s.manulist));
  tblFields.setFolder(s.flist);
  cdsStore.setFolder(AppFolder);
  cdsStore.setTableName("storelst.dbf");
  chkMakeFirstRecordHeaderFields->setChecked(s.makeFirstRecordHeaderFields);
  chkVendInfo->setChecked(s.vendorInfo);
  pnlFinial->setVisible(chkVendInfo->isChecked());

  StoreTables st{cdsStore, tblFields, DataSource2, *settings, AppFolder};
  prepare_store(st);

  Messages& m = *owner_.shell().messages;
  if (tblFields.exists()) {
    cmbFields->clear();
    cmbFields->addItems(to_qt(destination_fields(tblFields)));
    warn_about_engine_version(SourceDB->versionInUse(), m);
  } else {
    m.error(flistwin_missing_message(AppFolder));
  }
}

void TfrmConvert::restorePlacement() {
  const std::optional<WindowPlacement> p = read_window_placement(*settings);
  if (!p) return;
  const QRect kept(p->left, p->top, p->width, p->height);
  // A place on a screen that is gone (a second monitor unplugged) would hide the window.
  QScreen* on = QGuiApplication::screenAt(kept.center());
  if (!on) return;
  const QRect room = on->availableGeometry();
  setGeometry(QRect(kept.topLeft(), kept.size().boundedTo(room.size())));
  if (p->maximized) showMaximized();
}

void TfrmConvert::showRowCount() {
  const long long shown = DataSource1->rowCount();
  const long long total = DataSource1->knownRows();
  QString text;
  if (DataSource1->columnCount() == 0)
    text.clear();
  else if (!DataSource1->canFetchMore({}))
    text = QString("%1 rows").arg(shown);
  else if (total >= 0)
    text = QString("%1 of %2 rows shown").arg(shown).arg(total);
  else
    text = QString("%1 rows shown, more to come").arg(shown);
  lblRowCount->setText(text);
  // Room for the widest row number, so that numbers are never cut after scrolling.
  const long long widest = std::max(shown, total);
  const QFontMetrics fm(DBGrid1->verticalHeader()->font());
  DBGrid1->verticalHeader()->setMinimumWidth(fm.horizontalAdvance(QString::number(widest)) +
                                             fm.averageCharWidth() * 2);
}

void TfrmConvert::ErrorDAO() {
  owner_.shell().topLevel->ErrorDAO();
}

void TfrmConvert::FormClose() {
  ErrorDAO();
  if (SourceDB && SourceDB->connected()) {
    SourceTable->close();
    SourceDB->setConnected(false);
  }
  DataSource1->setDataset(nullptr);
  SourceTable.reset();
  SourceDB.reset();
  cdsStore.close();
  if (settings) {
    Settings s;
    s.sourceFolder = edtDir->text().toStdString();
    s.sourceFile = edtFileName->text().toStdString();
    s.destFolder = edtDestFolder->text().toStdString();
    s.manulist = edtManlist->text().toStdString();
    s.vendorInfo = chkVendInfo->isChecked();
    s.makeFirstRecordHeaderFields = chkMakeFirstRecordHeaderFields->isChecked();
    s.useOlderExcelDrivers = UseOlderExcelDrivers->isChecked();
    write_settings(*settings, s);
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    write_window_placement(*settings, WindowPlacement{normal.x(), normal.y(), normal.width(),
                                                      normal.height(), isMaximized()});
  }
  settings.reset();
  owner_.close();
}

void TfrmConvert::dttimDueDateChange() {
  QDate d = dttimDueDate->date();
  DateTime dt{day_from_ymd(d.year(), d.month(), d.day()), 0};
  const QString text = QString::fromStdString(format_short_date(dt));
  // Through the field's link, so that the picked date reaches the record as typing would.
  if (auto* link = txtUpdate->findChild<datalink::DateEditBinder*>())
    link->setText(text);
  else
    txtUpdate->setText(text);
}

SourcePage TfrmConvert::readSourcePage() const {
  SourcePage p;
  p.edtDir = edtDir->text().toStdString();
  p.edtFileName = edtFileName->text().toStdString();
  p.headerChecked = chkMakeFirstRecordHeaderFields->isChecked();
  p.headerEnabled = chkMakeFirstRecordHeaderFields->isEnabled();
  p.useOlderExcelDrivers = UseOlderExcelDrivers->isChecked();
  p.grpExcelVisible = !grpExcel->isHidden();
  p.grpExcelEnabled = grpExcel->isEnabled();
  for (int i = 0; i < cmbSheets->count(); ++i)
    p.sheets.push_back(cmbSheets->itemText(i).toStdString());
  p.sheetText = cmbSheets->currentText().toStdString();
  p.btnNextPage2Enabled = btnNextPage2->isEnabled();
  p.lblCompleteVisible = !lblComplete->isHidden();
  p.lstbFields = items_of(lstbFields);
  p.lstFields = items_of(lstFields);
  p.caption = windowTitle().toStdString();
  return p;
}

void TfrmConvert::writeSourcePage(const SourcePage& p) {
  edtDir->setText(QString::fromStdString(p.edtDir));
  edtFileName->setText(QString::fromStdString(p.edtFileName));
  chkMakeFirstRecordHeaderFields->setEnabled(p.headerEnabled);
  grpExcel->setVisible(p.grpExcelVisible);
  grpExcel->setEnabled(p.grpExcelEnabled);
  {
    QSignalBlocker quiet(cmbSheets);
    std::vector<std::string> now;
    for (int i = 0; i < cmbSheets->count(); ++i)
      now.push_back(cmbSheets->itemText(i).toStdString());
    if (now != p.sheets) {
      cmbSheets->clear();
      cmbSheets->addItems(to_qt(p.sheets));
    }
    int at = cmbSheets->findText(QString::fromStdString(p.sheetText), Qt::MatchExactly);
    if (at >= 0) cmbSheets->setCurrentIndex(at);
    cmbSheets->setEditText(QString::fromStdString(p.sheetText));
  }
  btnNextPage2->setEnabled(p.btnNextPage2Enabled);
  lblComplete->setVisible(p.lblCompleteVisible);
  set_items(lstbFields, p.lstbFields);
  set_items(lstFields, p.lstFields);
  setWindowTitle(QString::fromStdString(p.caption));
}

SourceContext TfrmConvert::sourceContext() {
  return SourceContext{*SourceDB, *SourceTable, *owner_.shell().messages, owner_.VersionText};
}

void TfrmConvert::sourceRowsChanged() {
  const bool open = SourceTable && SourceTable->active();
  DataSource1->setKnownRows(open ? SourceTable->knownRecordCount() : -1);
  DataSource1->setDataset(open ? SourceTable.get() : nullptr);
}

void TfrmConvert::btnOpenFileClick() {
  SourcePage p = readSourcePage();
  SourceContext c = sourceContext();
  OpenDialogRunner run = owner_.shell().openDialog;
  if (!run) run = [this](const OpenDialog& d) { return platform_open_dialog(this, d); };
  try {
    qm::app::btnOpenFileClick(p, c, opd, run);
  } catch (...) {
    writeSourcePage(p);
    sourceRowsChanged();
    throw;
  }
  writeSourcePage(p);
  sourceRowsChanged();
}

void TfrmConvert::onSourcePage(const std::function<void(SourcePage&, SourceContext&)>& handler) {
  SourcePage p = readSourcePage();
  SourceContext c = sourceContext();
  // The page shows what the handler got to, even when it stops with an error.
  try {
    handler(p, c);
  } catch (...) {
    writeSourcePage(p);
    sourceRowsChanged();
    throw;
  }
  writeSourcePage(p);
  sourceRowsChanged();
}

void TfrmConvert::btnOpenSourceFileClick() {
  onSourcePage(qm::app::btnOpenSourceFileClick);
}

void TfrmConvert::cmbSheets1Change() {
  onSourcePage(qm::app::cmbSheets1Change);
}

void TfrmConvert::Button2Click() {
  onSourcePage(qm::app::Button2Click);
}

void TfrmConvert::load_field_list() {
  SourcePage p = readSourcePage();
  SourceContext c = sourceContext();
  qm::app::load_field_list(p, c);
  writeSourcePage(p);
}

void TfrmConvert::setcaption() {
  SourcePage p = readSourcePage();
  qm::app::setcaption(p, sourceContext());
  writeSourcePage(p);
}

}  // namespace qm::app
