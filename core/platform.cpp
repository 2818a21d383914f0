// The one file that talks to the operating system directly.
#include "core/platform.h"

#include <chrono>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace qm::platform {

#ifdef _WIN32
bool stdin_is_terminal() {
  return _isatty(_fileno(stdin)) != 0;
}
bool stdout_is_terminal() {
  return _isatty(_fileno(stdout)) != 0;
}
bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}
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
bool stdin_is_terminal() {
  return isatty(STDIN_FILENO) != 0;
}
bool stdout_is_terminal() {
  return isatty(STDOUT_FILENO) != 0;
}
bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) != 0;
}
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

#ifdef _WIN32
namespace {
std::wstring to_wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}
std::string to_utf8(const wchar_t* w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.pop_back();
  return s;
}
}  // namespace

std::FILE* open_file(const std::string& path, const char* mode) {
  return _wfopen(to_wide(path).c_str(), to_wide(mode).c_str());
}
std::vector<std::string> arguments(int argc, char** argv) {
  int n = 0;
  wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n);
  std::vector<std::string> r;
  if (!w) {
    r.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
    return r;
  }
  for (int i = 1; i < n; ++i) r.push_back(to_utf8(w[i]));
  LocalFree(w);
  return r;
}
void set_up_console() {
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // Only a console has a code page to set; a pipe or file takes the UTF-8 bytes as they are.
  if (stdout_is_terminal() || stderr_is_terminal()) SetConsoleOutputCP(CP_UTF8);
}
const char* line_ending() {
  return "\r\n";
}
#else
std::FILE* open_file(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}
std::vector<std::string> arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}
void set_up_console() {}
const char* line_ending() {
  return "\n";
}
#endif

}  // namespace qm::platform
