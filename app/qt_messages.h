// Messages and questions as Qt message boxes, and the busy cursor.
#pragma once

#include <QWidget>

#include "core/messages.h"

namespace qm::app {

class QtMessages : public Messages {
 public:
  explicit QtMessages(QWidget* parent = nullptr) : parent_(parent) {}
  MsgAnswer show(MsgKind kind, MsgButtons buttons, const std::string& text) override;
  void beep() override;
  void setBusy(bool busy) override;

 private:
  QWidget* parent_;
};

}  // namespace qm::app
