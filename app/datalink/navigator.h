// The record navigator of a data source: First, Prior, Next, Last, Insert, Delete, Post and
// Cancel buttons whose enabled states follow the table. Delete asks first.
#pragma once

#include <QWidget>
#include <array>

#include "app/datalink/data_source.h"

#include <QToolButton>

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

 private:
  void act(NavButton b);

  Messages& messages_;
  std::array<QToolButton*, kNavButtonCount> buttons_{};
};

}  // namespace qm::datalink
