// The command line as Windows hands it over, mended where its quoting rules bite.
#pragma once

#include <streambuf>
#include <string>
#include <vector>

namespace qm::cli {

// On Windows `--program-folder "C:\Prices\"` reads `\"` as a quote inside the value, so the
// folder comes with a '"' and every argument after it in one piece. The value of a folder
// option (--program-folder, --dest, --manulist) that holds a '"' is cut there, given its
// closing separator back, and what followed is split at blanks into the arguments it was.
std::vector<std::string> mend_swallowed_quotes(std::vector<std::string> args, char separator);

// Windows takes "/" for "\" in a path, and so do we; but a message naming the file would then
// mix the two. Every path the user gave (the values of the folder and file options, the
// SOURCE of sheets, dump and suggest, the FILE of config import) is written with separator.
std::vector<std::string> native_path_arguments(std::vector<std::string> args, char separator);

// Writes every line break ("\n" or "\r\n") to the wrapped buffer as the platform's line
// ending, so that text-mode translation never doubles a "\r" and no output mixes the two.
class LineEndingBuf : public std::streambuf {
 public:
  LineEndingBuf(std::streambuf* out, std::string lineEnding)
      : out_(out), lineEnding_(std::move(lineEnding)) {}

 protected:
  int overflow(int c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool put(char c);
  std::streambuf* out_;
  std::string lineEnding_;
  bool pendingCr_ = false;
};

}  // namespace qm::cli
