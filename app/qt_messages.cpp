#include "app/qt_messages.h"

#include <QApplication>
#include <QMessageBox>

namespace qm::app {

QWidget* message_owner(QWidget* fallback) {
  // A window kept on top (the column view) would hide a box owned by any other window, and
  // the program would look hung; the box belongs to the topmost such window.
  QWidget* onTop = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && !w->isMinimized() && (w->windowFlags() & Qt::WindowStaysOnTopHint))
      onTop = w;
  if (onTop) return onTop;
  if (QWidget* active = QApplication::activeWindow()) return active;
  return fallback;
}

MsgAnswer QtMessages::show(MsgKind kind, MsgButtons buttons, const std::string& text) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case MsgKind::Plain:
      icon = QMessageBox::NoIcon;
      break;
    case MsgKind::Information:
      icon = QMessageBox::Information;
      break;
    case MsgKind::Warning:
      icon = QMessageBox::Warning;
      break;
    case MsgKind::Error:
      icon = QMessageBox::Critical;
      break;
    case MsgKind::Confirmation:
      icon = QMessageBox::Question;
      break;
  }
  QMessageBox::StandardButtons b = QMessageBox::Ok;
  if (buttons == MsgButtons::YesNo) b = QMessageBox::Yes | QMessageBox::No;
  if (buttons == MsgButtons::YesCancel) b = QMessageBox::Yes | QMessageBox::Cancel;
  QString body = QString::fromStdString(text).replace("\r\n", "\n");
  QWidget* owner = message_owner(parent_);
  QMessageBox box(icon, QStringLiteral("Quillmere"), body, b, owner);
  if (owner && (owner->windowFlags() & Qt::WindowStaysOnTopHint))
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  // A question is answered with the mouse or Enter; the busy cursor must not hide that.
  bool busy = QApplication::overrideCursor() != nullptr;
  if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
  int r = box.exec();
  if (busy) QApplication::restoreOverrideCursor();
  switch (r) {
    case QMessageBox::Yes:
      return MsgAnswer::Yes;
    case QMessageBox::No:
      return MsgAnswer::No;
    case QMessageBox::Cancel:
      return MsgAnswer::Cancel;
    default:
      break;
  }
  // Closing a question without an answer leaves everything as it was.
  return buttons == MsgButtons::Ok      ? MsgAnswer::Ok
         : buttons == MsgButtons::YesNo ? MsgAnswer::No
                                        : MsgAnswer::Cancel;
}

void QtMessages::beep() {
  QApplication::beep();
}

void QtMessages::setBusy(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

}  // namespace qm::app
