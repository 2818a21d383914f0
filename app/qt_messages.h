// Messages and questions as Qt message boxes, and the busy cursor.
#pragma once

#include <QWidget>

#include "core/messages.h"

namespace qm::app {

// The window a message box opens over: the topmost window kept on top when one is shown, else
// the active window, else fallback.
QWidget* message_owner(QWidget* fallback);

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
