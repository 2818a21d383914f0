// Starts a program for a test without a shell, so that the same call works on every
// platform: arguments go over as they are, the environment is changed only for the child,
// and its output is caught in files.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::testkit {

struct Command {
  // args[0] is the program: a path, or a name looked up in PATH.
  std::vector<std::string> args;
  // Variables set (to the value given, which may be empty) for the child only.
  std::vector<std::pair<std::string, std::string>> env = {};
  std::string input = {};      // the child's standard input
  double timeout_seconds = 0;  // killed after this long; 0: waits for it
  // Asked every few milliseconds with what the child has written so far: once it says yes,
  // the child is stopped with `stop`, as a user or the system would stop a running program
  // (on Windows always killed: it has no signals).
  std::function<bool(std::string_view out)> stop_when = {};
  enum class Stop { Interrupt, Terminate, Kill } stop = Stop::Kill;
};

struct Outcome {
  int code = -1;  // the exit code; -1 when it could not start or was killed
  bool started = false;
  bool stopped = false;            // stop_when said yes (or the timeout passed) while it ran
  std::string out = {}, err = {};  // what it wrote, byte for byte
};

Outcome run_process(const Command& c);
// Whether the program starts and exits with 0 (for skipping a test when a tool is missing).
bool program_succeeds(const std::vector<std::string>& args);
// Words of a test's command text: blanks separate, single and double quotes group (no
// escapes), so that a test can keep its arguments in one readable line.
std::vector<std::string> split_words(std::string_view text);
// A text as the command-line programs write it here: every line break ("\n" or "\r\n") as
// this platform's line ending, "\r\n" on Windows and "\n" elsewhere.
std::string platform_lines(std::string_view text);

}  // namespace qm::testkit
