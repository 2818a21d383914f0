// The record navigator of a data source: First, Prior, Next, Last, Insert, Delete, Post and
// Cancel buttons whose enabled states follow the table. Delete asks first.
#pragma once

#include <QWidget>
#include <array>

#include "app/datalink/data_source.h"

#include <QPointer>
#include <QToolButton>

#include "app/datalink/table_model.h"

namespace qm {
class Messages;
}

namespace qm::datalink {

enum class NavButton { First, Prior, Next, Last, Insert, Delete, Post, Cancel };
inline constexpr int kNavButtonCount = 8;

class DbNavigator : public QWidget, public DataLink {
  Q_OBJECT

 public:
  DbNavigator(DataSource& source, Messages& messages, QWidget* parent = nullptr);

  QToolButton* button(NavButton b) const { return buttons_[static_cast<size_t>(b)]; }
  // Does what pressing the button does, when it is enabled.
  void press(NavButton b);
  static const char* deleteQuestion();

  void dataEvent(DataEvent event, int fieldIndex) override;
  void updateButtons();
  // The grid's rows over the same source, which know where the current record stands in the
  // order: on the last record Next and Last are off, on the first First and Prior, as the
  // table's own end flags only tell after a move has run past the end.
  void followRows(TableModel* rows);

 private:
  void act(NavButton b);

  Messages& messages_;
  std::array<QToolButton*, kNavButtonCount> buttons_{};
  QPointer<TableModel> rows_;
};

}  // namespace qm::datalink
