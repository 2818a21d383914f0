#include "core/messages.h"

namespace qm {

MsgAnswer ScriptedMessages::show(MsgKind kind, MsgButtons buttons, const std::string& text) {
  shown.push_back({kind, buttons, text});
  if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
  MsgAnswer a = defaultAnswer;
  if (!answers.empty()) {
    a = answers.front();
    answers.pop_front();
  }
  return a;
}

std::vector<std::string> ScriptedMessages::texts() const {
  std::vector<std::string> r;
  for (const auto& s : shown) r.push_back(s.text);
  return r;
}

}  // namespace qm
