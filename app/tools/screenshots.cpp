// Saves pictures of the start window and of page 1 of the wizard, as a user first sees them,
// into the folder given: splash.png and page1.png. Runs over a scratch program folder.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include "app/convert_window.h"
#include "app/splash_window.h"
#include "core/messages.h"
#include "tables/dbf_table.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir scratch;
  std::string folder = QDir(scratch.path()).absolutePath().toStdString() + "/";
  {
    qm::tables::DbfTable t;
    t.setFolder(folder);
    t.setTableName("flistwin.dbf");
    t.setFieldDefs({{"DEPT", 'C', 4, 0}, {"PARTNUMBER", 'C', 20, 0}, {"DESCRIPTN", 'C', 60, 0}});
    t.setTableLevel(7);
    t.createTable();
  }
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
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  w->grab().save(out + "/page1.png");
  return 0;
}
