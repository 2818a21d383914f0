#include "app/splash_window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include "app/convert_window.h"

namespace qm::app {

bool form_became_active(QWidget* form) {
  static QPointer<QWidget> last;
  if (last == form) return false;
  last = form;
  return true;
}

TfrmSplash::TfrmSplash(AppShell& shell) : QWidget(nullptr, Qt::FramelessWindowHint), shell_(shell) {
  setObjectName("frmSplash");
  setFixedSize(516, 319);
  QFont font("MS Sans Serif");
  setFont(font);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(3, 3, 510, 255);
  Image1->setPixmap(QPixmap(":/splash.jpg"));

  Label1 = new QLabel(QString::fromUtf8(kTitle), this);
  Label1->setObjectName("Label1");
  QFont big = font;
  big.setBold(true);
  big.setPixelSize(24);
  // Where the original face is missing its substitute may run wider: keep the line whole.
  while (big.pixelSize() > 12 &&
         QFontMetrics(big).horizontalAdvance(QString::fromUtf8(kTitle)) > 502)
    big.setPixelSize(big.pixelSize() - 1);
  Label1->setFont(big);
  Label1->move(7, 269);
  Label1->adjustSize();

  Label2 = new QLabel(this);
  Label2->setObjectName("Label2");
  Label2->setGeometry(8, 300, 502, 16);
  Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label2->setWordWrap(true);

  btnNext = new QPushButton("Next -->", this);
  btnNext->setObjectName("btnNext");
  btnNext->setGeometry(442, 216, 57, 25);
  btnNext->setProperty("tag", 0);
  btnNext->raise();
  connect(btnNext, &QPushButton::clicked, this,
          [this] { shell_.topLevel->run([this] { btnNextClick(); }); });

  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
  shell_.topLevel->run([this] { FormCreate(); });
}

TfrmSplash::~TfrmSplash() = default;

void TfrmSplash::FormCreate() {
  VersionText = kVersionText;
  Label2->setText(QString::fromStdString(rights_line(VersionText)));
}

void TfrmSplash::FormActivate() {
  if (DAOMissing()) {
    btnNext->setText("&Close");
    btnNext->setProperty("tag", 1);
  }
}

bool TfrmSplash::DAOMissing() {
  return qm::app::DAOMissing(shell_.probe, *shell_.messages);
}

void TfrmSplash::btnNextClick() {
  if (btnNext->property("tag").toInt() != 0) {
    close();
    return;
  }
  frmConvert_ = std::make_unique<TfrmConvert>(*this);
  frmConvert_->show();
  hide();
}

void TfrmSplash::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && form_became_active(this))
    shell_.topLevel->run([this] { FormActivate(); });
}

void TfrmSplash::closeEvent(QCloseEvent* e) {
  e->accept();
  if (shell_.quit) shell_.quit();
}

}  // namespace qm::app
