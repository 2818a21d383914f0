// quillmere: the price list import wizard.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include "app/qt_messages.h"
#include "app/splash_window.h"
#include "core/paths.h"
#include "core/platform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("quillmere");
  QApplication::setApplicationVersion(qm::app::kVersionText);

  QCommandLineParser cli;
  cli.setApplicationDescription(
      "The Quillmere Price List Import Tool. Keeps Convert.ini and storelst.dbf in the program "
      "folder, next to exprtwin.dbf, exprtwin.dbt and flistwin.dbf.");
  cli.addHelpOption();
  cli.addVersionOption();
  QCommandLineOption folder("program-folder",
                            "Use DIR as the program folder instead of the folder of this program "
                            "(where Convert.ini, storelst.dbf and the data files are).",
                            "DIR");
  cli.addOption(folder);
  cli.process(app);

  qm::app::QtMessages messages;
  qm::app::AppShell shell;
  shell.programFolder = qm::platform::executable_folder();
  if (cli.isSet(folder))
    shell.programFolder =
        QDir(cli.value(folder)).absolutePath().toStdString() + qm::separator_string();
  shell.messages = &messages;
  shell.quit = [] { QCoreApplication::quit(); };
  shell.topLevel = std::make_unique<qm::app::TopLevel>(messages, shell.quit);

  qm::app::TfrmSplash frmSplash(shell);
  frmSplash.show();
  return app.exec();
}
