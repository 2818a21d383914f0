#include "cli/arguments.h"

#include <algorithm>

namespace qm::cli {

std::vector<std::string> mend_swallowed_quotes(std::vector<std::string> args, char separator) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    const std::string& option = args[i];
    if (option != "--program-folder" && option != "--dest" && option != "--manulist") continue;
    std::string value = args[i + 1];
    std::size_t quote = value.find('"');
    if (quote == std::string::npos) continue;
    std::vector<std::string> rest;
    std::string word;
    for (char c : value.substr(quote + 1)) {
      if (c == ' ' || c == '\t') {
        if (!word.empty()) rest.push_back(word);
        word.clear();
      } else if (c != '"') {
        word += c;
      }
    }
    if (!word.empty()) rest.push_back(word);
    args[i + 1] = value.substr(0, quote) + separator;
    args.insert(args.begin() + static_cast<long>(i) + 2, rest.begin(), rest.end());
  }
  return args;
}

std::vector<std::string> native_path_arguments(std::vector<std::string> args, char separator) {
  auto native = [&](std::string& path) { std::replace(path.begin(), path.end(), '/', separator); };
  bool verbSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--program-folder" || a == "--dest" || a == "--manulist" || a == "--source" ||
        a == "--report" || a == "--out") {
      if (hasValue) native(args[++i]);
      continue;
    }
    if (verbSeen || a.rfind("--", 0) == 0) continue;
    verbSeen = true;
    if (hasValue && (a == "sheets" || a == "dump" || a == "suggest")) native(args[i + 1]);
    if (a == "config" && hasValue && args[i + 1] == "import" && i + 2 < args.size())
      native(args[i + 2]);
  }
  return args;
}

bool LineEndingBuf::put(char c) {
  if (pendingCr_) {
    pendingCr_ = false;
    if (c == '\n')
      return out_->sputn(lineEnding_.data(), static_cast<std::streamsize>(lineEnding_.size())) ==
             static_cast<std::streamsize>(lineEnding_.size());
    if (out_->sputc('\r') == traits_type::eof()) return false;
  }
  if (c == '\r') {
    // A progress line's lone "\r" goes out as it is; only "\r\n" is a line break.
    pendingCr_ = true;
    return true;
  }
  if (c == '\n')
    return out_->sputn(lineEnding_.data(), static_cast<std::streamsize>(lineEnding_.size())) ==
           static_cast<std::streamsize>(lineEnding_.size());
  return out_->sputc(c) != traits_type::eof();
}

int LineEndingBuf::overflow(int c) {
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  return put(static_cast<char>(c)) ? c : traits_type::eof();
}

std::streamsize LineEndingBuf::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize i = 0; i < n; ++i)
    if (!put(s[i])) return i;
  return n;
}

int LineEndingBuf::sync() {
  if (pendingCr_) {
    pendingCr_ = false;
    if (out_->sputc('\r') == traits_type::eof()) return -1;
  }
  return out_->pubsync();
}

}  // namespace qm::cli
