// quillmere: the price list import wizard.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <string_view>

#include "app/qt_messages.h"
#include "app/splash_window.h"
#include "core/paths.h"
#include "core/platform.h"

namespace {

// Asks only for text: the options or the version, which need no window.
bool wants_text_only(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "-h" || a == "--help" || a == "--help-all" || a == "-?" || a == "-v" ||
        a == "--version")
      return true;
  }
  return false;
}

void describe(QCommandLineParser& cli, const QCommandLineOption& folder) {
  cli.setApplicationDescription(
      "The Quillmere Price List Import Tool. Keeps Convert.ini and storelst.dbf in the program "
      "folder, next to exprtwin.dbf, exprtwin.dbt and flistwin.dbf.");
  cli.addHelpOption();
  cli.addVersionOption();
  cli.addOption(folder);
}

}  // namespace

int main(int argc, char** argv) {
  QCommandLineOption folder("program-folder",
                            "Use DIR as the program folder instead of the folder of this program "
                            "(where Convert.ini, storelst.dbf and the data files are).",
                            "DIR");
  // Without a display QApplication cannot start; --help and --version must still answer.
  if (wants_text_only(argc, argv)) {
    QCoreApplication text(argc, argv);
    QCoreApplication::setApplicationName("quillmere");
    QCoreApplication::setApplicationVersion(qm::app::kVersionText);
    QCommandLineParser help;
    describe(help, folder);
    help.process(text);  // prints and exits when asked for text
  }
  QCommandLineParser cli;
  QApplication app(argc, argv);
  QApplication::setApplicationName("quillmere");
  QApplication::setApplicationVersion(qm::app::kVersionText);
  describe(cli, folder);
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
