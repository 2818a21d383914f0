#include "app/datalink/navigator.h"

#include <QHBoxLayout>
#include <QToolButton>

#include "core/messages.h"

namespace qm::datalink {

using tables::DbfTable;
using tables::TableState;

namespace {

struct ButtonText {
  const char* text;
  const char* tip;
};
constexpr ButtonText kTexts[kNavButtonCount] = {
    {"|<", "First record"},  {"<", "Prior record"},     {">", "Next record"},
    {">|", "Last record"},   {"+", "Insert record"},    {"-", "Delete record"},
    {"\u2713", "Post edit"}, {"\u2717", "Cancel edit"},
};

}  // namespace

const char* DbNavigator::deleteQuestion() {
  return "Delete this record?";
}

DbNavigator::DbNavigator(DataSource& source, Messages& messages, QWidget* parent)
    : QWidget(parent), messages_(messages) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int i = 0; i < kNavButtonCount; ++i) {
    auto* b = new QToolButton(this);
    b->setText(QString::fromUtf8(kTexts[i].text));
    b->setToolTip(QString::fromUtf8(kTexts[i].tip));
    b->setAutoRaise(false);
    layout->addWidget(b);
    buttons_[static_cast<size_t>(i)] = b;
    const NavButton nb = static_cast<NavButton>(i);
    connect(b, &QToolButton::clicked, this, [this, nb] { act(nb); });
  }
  source.addLink(this);
  updateButtons();
}

void DbNavigator::dataEvent(DataEvent /*event*/, int /*fieldIndex*/) {
  updateButtons();
}

void DbNavigator::updateButtons() {
  NavigatorState s = dataSource() ? navigator_state(*dataSource()) : NavigatorState{};
  if (rows_ && s.insert && !dataSource()->table()->editing()) {
    const int row = rows_->currentRow();
    if (row >= 0) {
      s.first = s.prior = row > 0;
      s.next = s.last = rows_->rowAfterCurrent();
    }
  }
  const bool on[kNavButtonCount] = {s.first,  s.prior,  s.next, s.last,
                                    s.insert, s.remove, s.post, s.cancel};
  for (int i = 0; i < kNavButtonCount; ++i) buttons_[static_cast<size_t>(i)]->setEnabled(on[i]);
}

void DbNavigator::followRows(TableModel* rows) {
  rows_ = rows;
  // The rows may change after this navigator heard of the table's event.
  connect(rows, &TableModel::currentRowChanged, this, [this] { updateButtons(); });
  connect(rows, &QAbstractItemModel::modelReset, this, [this] { updateButtons(); });
  connect(rows, &QAbstractItemModel::rowsInserted, this, [this] { updateButtons(); });
  connect(rows, &QAbstractItemModel::rowsRemoved, this, [this] { updateButtons(); });
  updateButtons();
}

void DbNavigator::press(NavButton b) {
  if (button(b)->isEnabled()) act(b);
}

void DbNavigator::act(NavButton b) {
  DataSource* src = dataSource();
  DbfTable* t = src ? src->table() : nullptr;
  if (!t || !src->active()) return;
  try {
    switch (b) {
      case NavButton::First:
        t->first();
        break;
      case NavButton::Prior:
        t->prior();
        break;
      case NavButton::Next:
        t->next();
        break;
      case NavButton::Last:
        t->last();
        break;
      // The engine's blank record: a record inserted here starts with every field empty.
      case NavButton::Insert:
        t->append();
        break;
      case NavButton::Delete:
        if (!messages_.askYesNo(MsgKind::Confirmation, deleteQuestion())) break;
        // A record not yet in the file is deleted by dropping it.
        if (t->state() == TableState::Insert)
          t->cancel();
        else
          t->deleteRecord();
        break;
      case NavButton::Post:
        t->post();
        break;
      case NavButton::Cancel:
        t->cancel();
        break;
    }
  } catch (const std::exception& e) {
    messages_.error(e.what());
  }
  updateButtons();
}

}  // namespace qm::datalink
