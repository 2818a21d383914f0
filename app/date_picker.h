// The date box of page 4 with its calendar: one tab stop, and a date that changes only when
// the user picks or types one.
#pragma once

#include <QDateEdit>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionComboBox>

namespace qm::app {

class DatePicker : public QDateEdit {
 public:
  explicit DatePicker(QWidget* parent = nullptr) : QDateEdit(parent) { setCalendarPopup(true); }

 protected:
  // Tab leaves the box instead of walking its day, month and year.
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }

  // With the calendar shown as a drop-down, the spin box still steps the date on a press
  // outside the arrow: on the frame's one pixel the date changed unseen.
  void mousePressEvent(QMouseEvent* e) override {
    QStyleOptionComboBox opt;
    opt.initFrom(this);
    opt.editable = true;
    opt.frame = true;
    opt.subControls = QStyle::SC_All;
    const QRect arrow =
        style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow, this);
    if (arrow.contains(e->position().toPoint())) {
      QDateEdit::mousePressEvent(e);
      return;
    }
    setFocus(Qt::MouseFocusReason);
    e->accept();
  }
};

}  // namespace qm::app
