// The wizard driven by the keyboard: Enter presses the focused button or the page's default
// one, Escape cancels a build, and Ctrl+End in the source grid reaches the sheet's last row.
#include <QKeyEvent>

#include "app/convert_window.h"

namespace qm::app {

void TfrmConvert::wireKeys() {
  DBGrid1->installEventFilter(this);
  connect(ntbMain, &QStackedWidget::currentChanged, this, [this] { followDefaultButton(); });
  followDefaultButton();
}

QPushButton* TfrmConvert::defaultButton() const {
  switch (ntbMain->currentIndex()) {
    case 0:
      return btnNextPage2;
    case 1:
      return btnNextPage3;
    case 2:
      return btnNextPage4;
    case 3:
      return Button1;
    default:
      return nullptr;
  }
}

void TfrmConvert::followDefaultButton() {
  QPushButton* now = defaultButton();
  for (QPushButton* b : {btnNextPage2, btnNextPage3, btnNextPage4, Button1})
    b->setDefault(b == now);
}

void TfrmConvert::keyPressEvent(QKeyEvent* e) {
  const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (e->key() == Qt::Key_Escape && building_) {
    cancelBuild();
    return;
  }
  if (!enter || !plain || building_) {
    QWidget::keyPressEvent(e);
    return;
  }
  // A focused button is pressed, as in a dialog; elsewhere on a page the default button is.
  if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled()) {
    focused->click();
    return;
  }
  QWidget* focus = focusWidget();
  const bool onWizard = !focus || focus == this || Panel2->isAncestorOf(focus) || focus == DBGrid1;
  QPushButton* b = defaultButton();
  if (onWizard && b && b->isEnabled() && b->isVisible()) {
    b->click();
    return;
  }
  QWidget::keyPressEvent(e);
}

bool TfrmConvert::eventFilter(QObject* watched, QEvent* e) {
  // The count belongs to the grid: the vendor panel takes the place of both.
  if (watched == DBGrid1 && (e->type() == QEvent::Show || e->type() == QEvent::Hide))
    lblRowCount->setVisible(e->type() == QEvent::Show);
  if (watched == DBGrid1 && e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    // The grid reads the sheet as it is scrolled; the end is where the last row is.
    if (k->key() == Qt::Key_End && (k->modifiers() & Qt::ControlModifier)) DataSource1->fetchAll();
  }
  return QWidget::eventFilter(watched, e);
}

}  // namespace qm::app
