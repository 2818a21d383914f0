// The start window: picture, title, rights line and the Next button; the application's main
// window for the whole run.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/logic/save_dialog.h"
#include "app/logic/shell.h"
#include "app/logic/source_link.h"
#include "app/logic/source_page.h"
#include "core/messages.h"

namespace qm::app {

class TfrmConvert;

// What both windows share for the run.
struct AppShell {
  std::string programFolder;  // the folder AppFolder is set from
  Messages* messages = nullptr;
  std::function<void()> quit;                         // ends the program
  std::function<void()> probe = probe_source_engine;  // the throw-away engine check
  std::function<SourceComponents()> sources = make_source_components;
  OpenDialogRunner openDialog;  // empty: the platform's file dialog
  SaveDialogRunner saveDialog;  // empty: the platform's save dialog
  std::unique_ptr<TopLevel> topLevel;
};

// True the first time a window of the program becomes active after another one was (or after
// none was): the message boxes a window shows give the activation back to it without counting.
bool form_became_active(QWidget* form);

class TfrmSplash : public QWidget {
 public:
  explicit TfrmSplash(AppShell& shell);
  ~TfrmSplash() override;

  QLabel* Image1;
  QLabel* Label1;
  QLabel* Label2;
  QPushButton* btnNext;
  std::string VersionText;

  void FormCreate();
  void FormActivate();
  bool DAOMissing();
  void btnNextClick();
  TfrmConvert* frmConvert() const { return frmConvert_.get(); }
  AppShell& shell() { return shell_; }

 protected:
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  AppShell& shell_;
  std::unique_ptr<TfrmConvert> frmConvert_;
};

}  // namespace qm::app
