// Small makers of the wizard's controls: each named for the tests and the handlers to find it.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

namespace qm::app::widgets {

// Typed letters become capitals, as in the upper-case edit boxes of the original.
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

template <class W>
W* named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

inline QPushButton* button(const char* name, const char* caption, QWidget* parent) {
  return named(new QPushButton(QString::fromUtf8(caption), parent), name);
}

inline QCheckBox* check(const char* name, const char* caption, QWidget* parent) {
  return named(new QCheckBox(QString::fromUtf8(caption), parent), name);
}

inline QLineEdit* edit(const char* name, QWidget* parent, bool upper = false) {
  auto* e = named(new QLineEdit(parent), name);
  if (upper) e->setValidator(new UpperCaseValidator(e));
  return e;
}

inline QLabel* label(const char* caption, QWidget* parent, QWidget* buddy = nullptr) {
  auto* l = new QLabel(QString::fromUtf8(caption), parent);
  if (buddy) l->setBuddy(buddy);
  return l;
}

}  // namespace qm::app::widgets
