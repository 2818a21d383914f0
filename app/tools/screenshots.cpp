// Saves pictures of the start window and of the wizard into the folder given: splash.png,
// page1.png to page4.png (page 4 with the vendor group shown), listing.png (the stored
// configuration listing) and vendor.png (the vendor panel over the sample Tessaro vendor table).
// Runs over a scratch program folder; the sample price list and Tessaro folder are those the build
// leaves beside the programs.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>

#include "app/convert_window.h"
#include "app/splash_window.h"
#include "core/messages.h"
#include "core/paths.h"
#include "tables/dbf_table.h"

namespace {

void settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir scratch;
  std::string folder = QDir(scratch.path()).absolutePath().toStdString() + "/";
  // The sample Tessaro folder, copied so that nothing of the build's is touched.
  const std::string bin = QCoreApplication::applicationDirPath().toStdString();
  const std::string sample = qm::join_path(bin, "sample");
  std::filesystem::copy(qm::to_fs_path(qm::join_path(sample, "Tessaro")),
                        qm::to_fs_path(folder + "Tessaro"),
                        std::filesystem::copy_options::recursive);
  const std::string manulist = qm::resolve_path(folder + "Tessaro/Data") + "/";
  // The program folder's own data files, as the build writes them.
  for (const char* f : {"exprtwin.dbf", "exprtwin.dbt", "flistwin.dbf", "flistwin.dbt"})
    if (qm::file_exists(qm::join_path(bin, f)))
      qm::copy_file_replace(qm::join_path(bin, f), folder + f);

  qm::ScriptedMessages messages;
  qm::app::AppShell shell;
  shell.programFolder = folder;
  shell.messages = &messages;
  shell.quit = [] {};
  shell.topLevel = std::make_unique<qm::app::TopLevel>(messages, shell.quit);
  qm::app::TfrmSplash splash(shell);
  splash.show();
  QApplication::processEvents();
  splash.grab().save(out + "/splash.png");
  splash.btnNext->click();
  auto* w = splash.frmConvert();
  QApplication::setActiveWindow(w);
  w->edtDir->setText("/data/prices/");
  w->edtFileName->setText("acme-2026.xlsx");
  settle();
  w->grab().save(out + "/page1.png");

  // The sample price list opened, so that the source grid and the field lists have content.
  w->edtDir->setText(QString::fromStdString(sample + "/"));
  w->edtFileName->setText("acme-pricelist.csv");
  w->btnOpenSourceFile->click();
  w->cdsStore.append();
  w->cdsStore.fieldByName("STORENAME").setAsString("Acme monthly list");
  w->cdsStore.post();
  w->showPage("Page2");
  settle();
  if (auto found = w->lsbConfigNames->findItems("Acme monthly list", Qt::MatchExactly);
      !found.isEmpty())
    w->lsbConfigNames->setCurrentItem(found.front());
  settle();
  w->grab().save(out + "/page2.png");
  w->btnLookAtList->click();
  settle();
  w->grab().save(out + "/listing.png");
  w->Button3->click();
  w->showPage("Page3");
  // A few links of the sample list's columns, as a user would make them.
  for (auto [column, field] : {std::pair{0, "PARTNUMBER"}, {1, "DESCRIPTN"}, {3, "LISTPRICE"}}) {
    auto dest = w->cmbFields->findItems(field, Qt::MatchExactly);
    if (dest.isEmpty() || column >= w->lstbFields->count()) continue;
    w->lstbFields->setCurrentRow(column);
    w->cmbFields->setCurrentItem(dest.front());
    w->btnAdd->click();
  }
  settle();
  w->grab().save(out + "/page3.png");

  w->showPage("Page4");
  w->edeDBF->setText("ACM");
  w->edtDestFolder->setText("/data/tessaro/prices/");
  w->txtCompany->setText("Acme Electrical Supply");
  w->dbeSaveAsName->setText("Acme monthly list");
  w->edeStart->setText("1");
  w->txtPriceSheet->setText("December 2026");
  w->chkVendInfo->setChecked(true);
  w->edtManlist->setText(QString::fromStdString(manulist));
  settle();
  w->grab().save(out + "/page4.png");

  w->dbeVendCode->setText("DLT004");
  w->Button4->click();
  settle();
  w->grab().save(out + "/vendor.png");
  for (const auto& m : messages.texts()) fprintf(stderr, "message: %s\n", m.c_str());
  return w->pnlVendor->isHidden() ? 1 : 0;
}
