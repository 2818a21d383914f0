// The one file that talks to the operating system directly.
#include "core/platform.h"

#include <chrono>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qm::platform {

#ifdef _WIN32
bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }
bool stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }
bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }
void flush_to_disk(std::FILE* f) {
  std::fflush(f);
  _commit(_fileno(f));
}
std::string executable_folder() {
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  std::filesystem::path p(std::wstring(buf, n));
  auto s = p.parent_path().u8string();
  return std::string(s.begin(), s.end()) + "\\";
}
#else
bool stdin_is_terminal() { return isatty(STDIN_FILENO) != 0; }
bool stdout_is_terminal() { return isatty(STDOUT_FILENO) != 0; }
bool stderr_is_terminal() { return isatty(STDERR_FILENO) != 0; }
void flush_to_disk(std::FILE* f) {
  std::fflush(f);
  fdatasync(fileno(f));
}
std::string executable_folder() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  auto s = p.parent_path().u8string();
  return std::string(s.begin(), s.end()) + "/";
}
#endif

unsigned long long tick_count_ms() {
  using namespace std::chrono;
  return static_cast<unsigned long long>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace qm::platform
