#include "app/datalink/binders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "core/datetime.h"
#include "core/error.h"
#include "core/text.h"

namespace qm::datalink {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}
std::string ss(const QString& s) {
  return s.toStdString();
}

// Letters typed into an upper-case box become capitals where the user typed them.
void upper_in_place(QLineEdit* edit, QString& text) {
  const QString up = text.toUpper();
  if (up == text) return;
  const int pos = edit->cursorPosition();
  edit->setText(up);
  edit->setCursorPosition(std::min(pos, static_cast<int>(up.size())));
  text = up;
}

}  // namespace

// --- FieldBinder ---------------------------------------------------------------------------

FieldBinder::FieldBinder(DataSource& source, QObject* control, std::string fieldName)
    : QObject(control), fieldName_(std::move(fieldName)) {
  source.addLink(this);
}

tables::DbfField* FieldBinder::field() const {
  return dataSource() ? dataSource()->field(fieldName_) : nullptr;
}

void FieldBinder::dataEvent(DataEvent event, int fieldIndex) {
  if (event == DataEvent::StateChanged) return;
  if (event == DataEvent::FieldChanged) {
    const tables::DbfField* f = field();
    if (f && f->index() != fieldIndex) return;
  }
  refresh();
}

void FieldBinder::refresh() {
  if (writing_) return;
  updating_ = true;
  try {
    show(field());
  } catch (const Error&) {
    // A value the engine cannot read (a damaged memo) shows blank rather than stopping every
    // other control's refresh.
    show(nullptr);
  }
  updating_ = false;
}

template <typename F>
void FieldBinder::change(F&& write) {
  if (updating()) return;
  DataSource* src = dataSource();
  writing_ = true;
  bool written = false;
  try {
    if (src && src->beginEdit()) {
      if (tables::DbfField* f = field()) {
        write(*f);
        written = true;
      }
    }
  } catch (const std::exception& e) {
    writing_ = false;
    refresh();
    if (src) src->reportError(e);
    return;
  }
  writing_ = false;
  // Without a table to take it the control goes back to what the table shows.
  if (!written) refresh();
}

// --- LineEditBinder ------------------------------------------------------------------------

LineEditBinder::LineEditBinder(DataSource& source, QLineEdit* edit, std::string fieldName,
                               bool upperCase)
    : FieldBinder(source, edit, std::move(fieldName)), edit_(edit), upper_(upperCase) {
  connect(edit, &QLineEdit::textEdited, this, &LineEditBinder::typed);
  refresh();
}

void LineEditBinder::setText(const QString& text) {
  if (!edit_) return;
  {
    const QSignalBlocker block(edit_);
    edit_->setText(text);
  }
  typed(text);
}

void LineEditBinder::typed(const QString& typedText) {
  if (!edit_ || updating()) return;
  QString text = typedText;
  if (upper_) upper_in_place(edit_, text);
  const std::string value = ss(text);
  change([&](tables::DbfField& f) {
    if (store(f, value)) return;
    // Refused: the box keeps the text, the field keeps the value it showed.
    try {
      if (shown_.empty())
        f.clear();
      else if (f.asString() != shown_)
        f.setAsString(shown_);
    } catch (const Error&) {
    }
  });
}

void LineEditBinder::show(const tables::DbfField* f) {
  if (!edit_) return;
  const QString text = f ? shownText(*f) : QString();
  shown_ = f ? ss(text) : std::string();
  edit_->setReadOnly(f == nullptr);
  if (f && f->def().type == 'C' && f->def().length > 0)
    edit_->setMaxLength(f->def().length);
  else
    edit_->setMaxLength(32767);
  if (edit_->text() != text) edit_->setText(text);
}

QString LineEditBinder::shownText(const tables::DbfField& f) const {
  return qs(f.asString());
}

bool LineEditBinder::store(tables::DbfField& f, const std::string& text) {
  try {
    f.setAsString(text);
    return true;
  } catch (const Error&) {
    return false;
  }
}

// --- DateEditBinder ------------------------------------------------------------------------

DateEditBinder::DateEditBinder(DataSource& source, QLineEdit* edit, std::string fieldName)
    : LineEditBinder(source, edit, std::move(fieldName), false) {
  refresh();  // the base class showed the value before this class could format it
}

QString DateEditBinder::shownText(const tables::DbfField& f) const {
  if (f.isNull()) return {};
  return qs(format_short_date(f.asDateTime()));
}

bool DateEditBinder::store(tables::DbfField& f, const std::string& text) {
  if (trim(text).empty()) {
    f.clear();
    return true;
  }
  DateTime dt;
  if (!parse_date(text, dt)) return false;
  try {
    f.setAsDateTime(DateTime{dt.day, 0});
    return true;
  } catch (const Error&) {
    return false;
  }
}

// --- CheckBoxBinder ------------------------------------------------------------------------

CheckBoxBinder::CheckBoxBinder(DataSource& source, QCheckBox* box, std::string fieldName)
    : FieldBinder(source, box, std::move(fieldName)), box_(box) {
  box->setTristate(false);
  connect(box, &QCheckBox::clicked, this, &CheckBoxBinder::clicked);
  refresh();
}

void CheckBoxBinder::show(const tables::DbfField* f) {
  if (!box_) return;
  bool checked = false;
  if (f && !f->isNull()) {
    checked = f->def().type == 'L' ? f->asBoolean() : iequals(trim(f->asString()), kChecked);
  }
  box_->setChecked(checked);
}

void CheckBoxBinder::clicked(bool checked) {
  change([&](tables::DbfField& f) {
    if (f.def().type == 'L')
      f.setAsBoolean(checked);
    else
      f.setAsString(checked ? kChecked : kUnchecked);
  });
}

// --- ComboBoxBinder ------------------------------------------------------------------------

ComboBoxBinder::ComboBoxBinder(DataSource& source, QComboBox* combo, std::string fieldName,
                               const QStringList& items, bool upperCase)
    : FieldBinder(source, combo, std::move(fieldName)), combo_(combo), upper_(upperCase) {
  {
    const QSignalBlocker block(combo);
    combo->clear();
    combo->addItems(items);
  }
  if (combo->isEditable() && combo->lineEdit())
    connect(combo->lineEdit(), &QLineEdit::textEdited, this, &ComboBoxBinder::typed);
  connect(combo, &QComboBox::activated, this,
          [this](int index) { typed(combo_ ? combo_->itemText(index) : QString()); });
  refresh();
}

void ComboBoxBinder::show(const tables::DbfField* f) {
  if (!combo_) return;
  const QString text = f ? qs(f->asString()) : QString();
  const QSignalBlocker block(combo_);
  const int i = combo_->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
  combo_->setCurrentIndex(i);
  if (combo_->isEditable()) combo_->setEditText(text);
}

void ComboBoxBinder::typed(const QString& typedText) {
  if (!combo_ || updating()) return;
  QString text = typedText;
  if (upper_ && combo_->lineEdit()) upper_in_place(combo_->lineEdit(), text);
  const std::string value = ss(text);
  change([&](tables::DbfField& f) { f.setAsString(value); });
}

// --- MemoBinder ----------------------------------------------------------------------------

MemoBinder::MemoBinder(DataSource& source, QPlainTextEdit* memo, std::string fieldName)
    : FieldBinder(source, memo, std::move(fieldName)), memo_(memo) {
  connect(memo, &QPlainTextEdit::textChanged, this, &MemoBinder::edited);
  refresh();
}

std::vector<std::string> MemoBinder::lines() const {
  std::vector<std::string> r;
  if (!memo_) return r;
  const QString text = memo_->toPlainText();
  if (text.isEmpty()) return r;
  for (const QString& l : text.split(QLatin1Char('\n'))) r.push_back(ss(l));
  return r;
}

void MemoBinder::setLines(const std::vector<std::string>& lines) {
  if (!memo_) return;
  QStringList l;
  for (const auto& s : lines) l << qs(s);
  memo_->setPlainText(l.join(QLatin1Char('\n')));  // textChanged writes the field
}

void MemoBinder::show(const tables::DbfField* f) {
  if (!memo_) return;
  QStringList l;
  if (f)
    for (const auto& s : f->lines()) l << qs(s);
  const QString text = l.join(QLatin1Char('\n'));
  memo_->setReadOnly(f == nullptr);
  if (memo_->toPlainText() != text) memo_->setPlainText(text);
}

void MemoBinder::edited() {
  if (!memo_ || updating()) return;
  const std::vector<std::string> l = lines();
  change([&](tables::DbfField& f) { f.setLines(l); });
}

}  // namespace qm::datalink
