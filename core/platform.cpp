// The one file that talks to the operating system directly.
#include "core/platform.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "core/paths.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
void lower_this_thread_priority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}
// Large pages on Windows need a privilege that users do not hold.
void advise_large_pages(void*, std::size_t) {}
#else
void advise_large_pages(void* at, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLarge = kLargePageBytes;
  const auto from = reinterpret_cast<std::uintptr_t>(at);
  const std::uintptr_t first = (from + kLarge - 1) & ~(kLarge - 1);
  const std::uintptr_t last = (from + bytes) & ~(kLarge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)at;
  (void)bytes;
#endif
}

void lower_this_thread_priority() {
  // A thread's own nice value (Linux keeps one per thread); not raised back, since the thread
  // ends with its work. A refusal leaves it as it was, which costs time only.
#ifdef __linux__
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
#endif
}
#endif

// --- Cancelling, locking and replacing files (the build's file safety) ---

namespace {
// Lock-free, so that a signal handler may set it.
std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

bool cancel_signalled() {
  return g_cancel.load(std::memory_order_relaxed);
}

namespace {
std::atomic<bool> g_failSyncs{false};
}  // namespace

void fail_syncs_for_testing(bool on) {
  g_failSyncs.store(on);
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

namespace {
// dBase engines lock bytes near the top of the 32-bit range; a byte well above any file
// keeps out of their way and of every real record.
constexpr unsigned long long kLockOffset = 0x7FFFFFFF00000000ull;
}  // namespace

FileLock::~FileLock() {
  release();
}

FileLock::FileLock(FileLock&& other) noexcept
    : handle_(std::exchange(other.handle_, kNone)),
      ownsHandle_(other.ownsHandle_),
      slot_(other.slot_),
      path_(std::move(other.path_)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    release();
    handle_ = std::exchange(other.handle_, kNone);
    ownsHandle_ = other.ownsHandle_;
    slot_ = other.slot_;
    path_ = std::move(other.path_);
  }
  return *this;
}

#ifdef _WIN32
namespace {
LockResult lock_handle(HANDLE h, bool exclusive, int slot = 0, bool wait = false) {
  OVERLAPPED ov{};
  const unsigned long long at = kLockOffset + static_cast<unsigned long long>(slot);
  ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(at >> 32);
  DWORD flags = (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY) | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(h, flags, 0, 1, 0, &ov)) return LockResult::Locked;
  DWORD e = GetLastError();
  return e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING ? LockResult::InUse
                                                            : LockResult::Failed;
}
void unlock_handle(HANDLE h, int slot) {
  OVERLAPPED ov{};
  const unsigned long long at = kLockOffset + static_cast<unsigned long long>(slot);
  ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(at >> 32);
  UnlockFileEx(h, 0, 1, 0, &ov);
}
}  // namespace

LockResult FileLock::lockPath(const std::string& path, bool exclusive) {
  release();
  // No FILE_SHARE_DELETE: while anyone has it open the file cannot lose its name.
  HANDLE h = CreateFileW(to_fs_path(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_SHARING_VIOLATION ? LockResult::InUse : LockResult::Failed;
  LockResult r = lock_handle(h, exclusive);
  if (r != LockResult::Locked) {
    CloseHandle(h);
    return r;
  }
  handle_ = reinterpret_cast<long long>(h);
  ownsHandle_ = true;
  slot_ = 0;
  path_ = path;
  return r;
}

LockResult FileLock::lockOpenFile(std::FILE* f, bool exclusive, int slot, bool wait) {
  release();
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  LockResult r = lock_handle(h, exclusive, slot, wait);
  if (r == LockResult::Locked) {
    handle_ = reinterpret_cast<long long>(h);
    ownsHandle_ = false;
    slot_ = slot;
  }
  return r;
}

void FileLock::release(bool removeFile) {
  if (handle_ == kNone) return;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  unlock_handle(h, slot_);
  if (ownsHandle_) {
    CloseHandle(h);
    // Fails harmlessly when another process has opened it meanwhile: it is theirs now.
    if (removeFile) DeleteFileW(to_fs_path(path_).c_str());
  }
  handle_ = kNone;
}

std::string why_file_cannot_be_replaced(const std::string& path) {
  DWORD a = GetFileAttributesW(to_fs_path(path).c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
    return file_name_of(path) + " is read-only";
  // A file open without leave to delete it (the project system reading it) cannot be renamed
  // over; found now, before the build, rather than half way through putting the set in place.
  HANDLE h = CreateFileW(to_fs_path(path).c_str(), DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION)
      return file_name_of(path) + " is open in another program";
  } else {
    CloseHandle(h);
  }
  return {};
}

bool folder_writable(const std::string& folder) {
  DWORD a = GetFileAttributesW(to_fs_path(folder).c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // Folder attributes do not say whether files may be made in it; trying does.
  std::wstring probe = to_fs_path(join_path(folder, "~qm-probe.tmp")).wstring();
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  CloseHandle(h);
  return true;
}

bool replace_file(const std::string& from, const std::string& to, std::string& error) {
  // A virus scanner or indexer opens a new file for a moment; it is given a second to let go.
  DWORD e = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (MoveFileExW(to_fs_path(from).c_str(), to_fs_path(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    e = GetLastError();
    if (e != ERROR_SHARING_VIOLATION && e != ERROR_LOCK_VIOLATION) break;
    Sleep(50);
  }
  error = std::system_category().message(static_cast<int>(e));
  return false;
}

bool sync_file(const std::string& path) {
  if (g_failSyncs.load()) return false;
  HANDLE h =
      CreateFileW(to_fs_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool synced = FlushFileBuffers(h) != 0;
  CloseHandle(h);
  return synced;
}

bool sync_open_file(std::FILE* f) {
  if (g_failSyncs.load()) return false;
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
}

bool FileLock::othersHold(std::FILE* f) {
  if (handle_ == kNone) return true;
  // Windows cannot ask; a lock of our own conflicts even on our handle, so try the strongest.
  const int slot = slot_;
  release();
  const bool alone = lockOpenFile(f, true, slot) == LockResult::Locked;
  release();
  lockOpenFile(f, false, slot, true);
  return !alone;
}

// FlushFileBuffers waits; Windows writes a file's cached pages out soon enough by itself.
void start_writing_to_disk(std::FILE*, unsigned long long, unsigned long long) {}

bool truncate_open_file(std::FILE* f, unsigned long long size) {
  std::fflush(f);
  return _chsize_s(_fileno(f), static_cast<long long>(size)) == 0;
}
#else
namespace {
LockResult lock_fd(int fd, bool exclusive, bool lock, int slot = 0, bool wait = false) {
  struct flock fl {};
  fl.l_type = static_cast<short>(!lock ? F_UNLCK : exclusive ? F_WRLCK : F_RDLCK);
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(kLockOffset + static_cast<unsigned long long>(slot));
  fl.l_len = 1;
#ifdef F_OFD_SETLK
  // Locks of the open file rather than of the process: closing another handle on the same
  // file (a second table object reading it) does not drop them, and they conflict within one
  // process too.
  const int cmd = wait ? F_OFD_SETLKW : F_OFD_SETLK;
#else
  const int cmd = wait ? F_SETLKW : F_SETLK;
#endif
  int rc;
  while ((rc = fcntl(fd, cmd, &fl)) != 0 && errno == EINTR) {
  }
  if (rc == 0) return LockResult::Locked;
  return errno == EACCES || errno == EAGAIN ? LockResult::InUse : LockResult::Failed;
}
}  // namespace

LockResult FileLock::lockPath(const std::string& path, bool exclusive) {
  release();
  // The file may lose its name between our open and our lock (its holder removing it); a lock
  // on a nameless file would guard nothing, so try again on the file the name has now.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return LockResult::Failed;
    LockResult r = lock_fd(fd, exclusive, true);
    if (r != LockResult::Locked) {
      ::close(fd);
      return r;
    }
    struct stat held {
    }, named{};
    if (fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      handle_ = fd;
      ownsHandle_ = true;
      slot_ = 0;
      path_ = path;
      return r;
    }
    ::close(fd);
  }
  return LockResult::InUse;
}

LockResult FileLock::lockOpenFile(std::FILE* f, bool exclusive, int slot, bool wait) {
  release();
  int fd = fileno(f);
  LockResult r = lock_fd(fd, exclusive, true, slot, wait);
  if (r == LockResult::Locked) {
    handle_ = fd;
    ownsHandle_ = false;
    slot_ = slot;
  }
  return r;
}

void FileLock::release(bool removeFile) {
  if (handle_ == kNone) return;
  int fd = static_cast<int>(handle_);
  // Removed while still locked, so that whoever opens the name next makes a new file.
  if (ownsHandle_ && removeFile) ::unlink(path_.c_str());
  lock_fd(fd, false, false, slot_);
  if (ownsHandle_) ::close(fd);
  handle_ = kNone;
}

std::string why_file_cannot_be_replaced(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  // Without any write permission the file is read-only to us, even where the system would let
  // an administrator write it.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
    return file_name_of(path) + " is read-only";
  return {};
}

bool folder_writable(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
         ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool replace_file(const std::string& from, const std::string& to, std::string& error) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  std::string folder = folder_of(to);
  int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
  return true;
}

namespace {
// EINVAL: a file that cannot be synced holds nothing a sync could lose.
bool data_synced(int fd) {
  return fdatasync(fd) == 0 || errno == EINVAL;
}
}  // namespace

bool sync_file(const std::string& path) {
  if (g_failSyncs.load()) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = data_synced(fd);
  ::close(fd);
  return synced;
}

bool sync_open_file(std::FILE* f) {
  if (g_failSyncs.load()) return false;
  return data_synced(fileno(f));
}

bool FileLock::othersHold(std::FILE* f) {
  if (handle_ == kNone) return true;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(kLockOffset + static_cast<unsigned long long>(slot_));
  fl.l_len = 1;
#ifdef F_OFD_GETLK
  // Our own lock is of this open file and does not count.
  if (fcntl(fileno(f), F_OFD_GETLK, &fl) != 0) return true;
#else
  if (fcntl(fileno(f), F_GETLK, &fl) != 0) return true;
#endif
  return fl.l_type != F_UNLCK;
}

void start_writing_to_disk(std::FILE* f, unsigned long long from, unsigned long long to) {
#ifdef __linux__
  if (to > from)
    sync_file_range(fileno(f), static_cast<off_t>(from), static_cast<off_t>(to - from),
                    SYNC_FILE_RANGE_WRITE);
#else
  (void)f;
  (void)from;
  (void)to;
#endif
}

bool truncate_open_file(std::FILE* f, unsigned long long size) {
  std::fflush(f);
  return ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
}
#endif

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
