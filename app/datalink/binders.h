// Data-aware controls: ordinary Qt widgets bound to one field of a data source's current record.
//
// A binder is a child object of its widget and dies with it. Typing, ticking or choosing puts
// the table into edit state and writes the field at once, keystroke by keystroke, so a move, a
// post or a build always finds in the table what the control shows; the table's field is the
// truth, and every event of the data source makes the control show it again. Text set by the
// program through a binder's setText/setLines counts as typed.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <string>
#include <vector>

#include "app/datalink/data_source.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace qm::datalink {

class FieldBinder : public QObject, public DataLink {
  Q_OBJECT

 public:
  FieldBinder(DataSource& source, QObject* control, std::string fieldName);
  const std::string& fieldName() const { return fieldName_; }
  // The field as bound now; nullptr while the source is inactive or the table lacks it.
  tables::DbfField* field() const;

  void dataEvent(DataEvent event, int fieldIndex) override;
  // Shows the field's value (blank while inactive).
  void refresh();

 protected:
  virtual void show(const tables::DbfField* field) = 0;
  // Writes a value the user gave; runs `write` inside an edit of the current record and
  // reports table errors through the data source.
  template <typename F>
  void change(F&& write);
  bool updating() const { return updating_ || writing_; }

  std::string fieldName_;

 private:
  bool updating_ = false;  // the binder itself is putting the field's value in the control
  bool writing_ = false;   // the binder is writing; its own echo must not reset the control
};

// QLineEdit bound to a character, number or logical field, written as text. A value the field
// refuses (letters in a number field) stays in the box but leaves the field as it was shown.
class LineEditBinder : public FieldBinder {
  Q_OBJECT

 public:
  LineEditBinder(DataSource& source, QLineEdit* edit, std::string fieldName,
                 bool upperCase = false);
  QLineEdit* edit() const { return edit_; }
  bool upperCase() const { return upper_; }
  void setText(const QString& text);

 protected:
  void show(const tables::DbfField* field) override;
  virtual QString shownText(const tables::DbfField& field) const;
  // Stores text in the field; false when the field cannot take it.
  virtual bool store(tables::DbfField& field, const std::string& text);

 private:
  void typed(const QString& text);

  QPointer<QLineEdit> edit_;
  bool upper_;
  std::string shown_;  // the field's value as last shown, put back when a text is refused
};

// QLineEdit bound to a date field, shown in the short date format. A text that is not a date
// is kept in the box (the build reads the box) and leaves the field as it was shown; an empty
// box empties the field.
class DateEditBinder : public LineEditBinder {
  Q_OBJECT

 public:
  DateEditBinder(DataSource& source, QLineEdit* edit, std::string fieldName);

 protected:
  QString shownText(const tables::DbfField& field) const override;
  bool store(tables::DbfField& field, const std::string& text) override;
};

// QCheckBox bound to a logical field: ticked writes "True", unticked "False"; a blank
// logical value shows unticked. A character field takes the texts themselves.
class CheckBoxBinder : public FieldBinder {
  Q_OBJECT

 public:
  CheckBoxBinder(DataSource& source, QCheckBox* box, std::string fieldName);
  QCheckBox* box() const { return box_; }
  static constexpr const char* kChecked = "True";
  static constexpr const char* kUnchecked = "False";

 protected:
  void show(const tables::DbfField* field) override;

 private:
  void clicked(bool checked);
  QPointer<QCheckBox> box_;
};

// QComboBox (editable or not) bound to a character field; the items are the caller's (for
// example "Y" and "N"), and an editable box also takes any typed text.
class ComboBoxBinder : public FieldBinder {
  Q_OBJECT

 public:
  ComboBoxBinder(DataSource& source, QComboBox* combo, std::string fieldName,
                 const QStringList& items, bool upperCase = false);
  QComboBox* combo() const { return combo_; }

 protected:
  void show(const tables::DbfField* field) override;

 private:
  void typed(const QString& text);
  QPointer<QComboBox> combo_;
  bool upper_;
};

// QPlainTextEdit bound to a memo field, one line of the box per line of the memo.
class MemoBinder : public FieldBinder {
  Q_OBJECT

 public:
  MemoBinder(DataSource& source, QPlainTextEdit* memo, std::string fieldName);
  QPlainTextEdit* memo() const { return memo_; }
  // The box's lines (none for an empty box).
  std::vector<std::string> lines() const;
  void setLines(const std::vector<std::string>& lines);

 protected:
  void show(const tables::DbfField* field) override;

 private:
  void edited();
  QPointer<QPlainTextEdit> memo_;
};

}  // namespace qm::datalink
