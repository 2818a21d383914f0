// The one file that talks to the operating system directly.
#include "core/platform.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
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

// --- Cancelling, locking and replacing files (the build's file safety) ---

namespace {
// Lock-free, so that a signal handler may set it.
std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

bool cancel_signalled() {
  return g_cancel.load(std::memory_order_relaxed);
}

#ifdef _WIN32
namespace {
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  // A second Ctrl+C is left to the default handler, which ends the process.
  if (g_cancel.exchange(true) && event == CTRL_C_EVENT) return FALSE;
  return TRUE;
}
void on_signal(int) {
  g_cancel.store(true);
}
}  // namespace

void catch_cancel_signals() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
  std::signal(SIGTERM, on_signal);
}
#else
namespace {
void on_signal(int) {
  g_cancel.store(true);
}
}  // namespace

void catch_cancel_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  // SA_RESETHAND: the second Ctrl+C ends the process. No SA_RESTART: a question waiting on
  // the terminal is interrupted and answered No.
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}
#endif

}  // namespace qm::platform
