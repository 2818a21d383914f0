// The one way messages and questions reach the user: a message box in the window, scripted
// answers in tests, flags and stderr in the command line. Logic never calls a UI toolkit.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace qm {

enum class MsgKind { Plain, Information, Warning, Error, Confirmation };
enum class MsgButtons { Ok, YesNo, YesCancel };
enum class MsgAnswer { Ok, Yes, No, Cancel };

class Messages {
 public:
  virtual ~Messages() = default;

  // Shows text (UTF-8; "\r\n" is a line break) and returns the button pressed.
  virtual MsgAnswer show(MsgKind kind, MsgButtons buttons, const std::string& text) = 0;
  virtual void beep() {}
  // Busy cursor on and off; long operations restore it on every way out.
  virtual void setBusy(bool /*busy*/) {}

  void plain(const std::string& text) { show(MsgKind::Plain, MsgButtons::Ok, text); }
  void information(const std::string& text) { show(MsgKind::Information, MsgButtons::Ok, text); }
  void warning(const std::string& text) { show(MsgKind::Warning, MsgButtons::Ok, text); }
  void error(const std::string& text) { show(MsgKind::Error, MsgButtons::Ok, text); }
  bool askYesNo(MsgKind kind, const std::string& text) {
    return show(kind, MsgButtons::YesNo, text) == MsgAnswer::Yes;
  }
  bool askYesCancel(MsgKind kind, const std::string& text) {
    return show(kind, MsgButtons::YesCancel, text) == MsgAnswer::Yes;
  }
};

// Sets the busy cursor for a scope and takes it off on every way out.
class BusyScope {
 public:
  explicit BusyScope(Messages& m) : m_(m) { m_.setBusy(true); }
  ~BusyScope() { m_.setBusy(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  Messages& m_;
};

// For tests: records every message and answers questions from a queue (Yes when it runs dry,
// unless defaultAnswer says otherwise).
class ScriptedMessages : public Messages {
 public:
  struct Shown {
    MsgKind kind;
    MsgButtons buttons;
    std::string text;
  };

  MsgAnswer show(MsgKind kind, MsgButtons buttons, const std::string& text) override;
  void beep() override { ++beeps; }
  void setBusy(bool busy) override { busyDepth += busy ? 1 : -1; }

  void answer(MsgAnswer a) { answers.push_back(a); }
  std::vector<std::string> texts() const;

  std::vector<Shown> shown;
  std::deque<MsgAnswer> answers;
  MsgAnswer defaultAnswer = MsgAnswer::Yes;
  int beeps = 0;
  int busyDepth = 0;
};

}  // namespace qm
