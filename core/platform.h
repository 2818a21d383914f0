// The few calls that differ between operating systems; the only place that may use them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace qm::platform {

bool stdin_is_terminal();
bool stdout_is_terminal();
bool stderr_is_terminal();
// Pushes written data of an open stdio file to the disk.
void flush_to_disk(std::FILE* f);
// Folder of the running executable, with a trailing separator.
std::string executable_folder();
// Milliseconds since some fixed point, for naming and progress throttling.
unsigned long long tick_count_ms();
// The calling thread from now on gives way to the process's other threads when cores are
// short, for work that may wait rather than slow down the work others wait for. It is still
// given a share, so that a busy machine never leaves it, and whoever waits for it, stalled.
void lower_this_thread_priority();
// Memory about to be filled for the first time and kept a while (a table of a million
// parts): asks for it in large pages where the system gives them, so that it costs one fault
// per 2 MiB instead of one per page. Only the whole large pages inside [at, at + bytes) are
// concerned; elsewhere, and where the system lacks them, nothing changes.
void advise_large_pages(void* at, std::size_t bytes);
inline constexpr std::size_t kLargePageBytes = std::size_t(2) << 20;

// --- Cancelling, locking and replacing files (the build's file safety) ---

// From now on Ctrl+C and SIGTERM (on Windows also Ctrl+Break and closing the console) set a
// flag that cancel_signalled() reports instead of ending the process, so that a build stops
// between records and leaves its files whole. A second Ctrl+C ends the process as usual.
void catch_cancel_signals();
bool cancel_signalled();

enum class LockResult { Locked, InUse, Failed };

// An operating-system lock on a file, held while the object lives: advisory and per open file
// (a second lock from the same process conflicts as one from another process does), on a byte
// far past any data so that readers are never blocked. Exclusive conflicts with every other
// lock, shared only with exclusive ones.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Locks a file of its own at path, created when missing; never waits. Failed when the file
  // cannot be made or opened.
  LockResult lockPath(const std::string& path, bool exclusive);
  // Locks an open stdio file, which the caller keeps open longer than the lock. Slots are
  // separate bytes, locked independently; with wait, waits for the lock instead of failing.
  LockResult lockOpenFile(std::FILE* f, bool exclusive, int slot = 0, bool wait = false);
  // Gives the lock up; with removeFile, the file of lockPath is deleted in a way that no other
  // process can be left holding a lock on a file that no longer has a name.
  void release(bool removeFile = false);
  bool held() const { return handle_ != kNone; }
  // For a lock of lockOpenFile: true when another open of the file holds a lock on the same
  // slot. May give the lock up for a moment to find out.
  bool othersHold(std::FILE* f);

 private:
  static constexpr long long kNone = -1;
  long long handle_ = kNone;
  bool ownsHandle_ = false;
  int slot_ = 0;
  std::string path_;
};

// Why path (an existing file) could not be replaced or deleted, in words for the user ("NAME
// is read-only"), or empty when nothing speaks against it.
std::string why_file_cannot_be_replaced(const std::string& path);
// True when files can be made, renamed and deleted in folder.
bool folder_writable(const std::string& folder);
// Puts from in the place of to in one step (to may exist); the name change reaches the disk
// before it returns. False with the system's reason in error on failure.
bool replace_file(const std::string& from, const std::string& to, std::string& error);
// Pushes a closed file's data to the disk (before it is renamed into place); false when the
// file cannot be opened or the system reports that its data did not reach the disk.
bool sync_file(const std::string& path);
// Pushes an open file's data to the disk, waiting for it; false when the system reports a
// failure. Safe beside writes to the same file from another thread.
bool sync_open_file(std::FILE* f);
// For tests: while on, both syncs report a failure, as a disk that lost the data would; the
// paths that must then fail a build cannot be reached otherwise.
void fail_syncs_for_testing(bool on);
// Asks the system to start writing bytes [from, to) of an open file to the disk now, without
// waiting for it: a later sync of a large file written in one go then waits only for its tail.
// Where the system has no such call, nothing happens.
void start_writing_to_disk(std::FILE* f, unsigned long long from, unsigned long long to);
// Cuts an open file to size bytes; false on failure.
bool truncate_open_file(std::FILE* f, unsigned long long size);

// Names, arguments and the console. Text is UTF-8 everywhere inside the program; on Windows
// these turn it into the system's UTF-16 and back.
//
// Opens a file named in UTF-8 with a std::fopen mode; nullptr (errno set) when it fails.
std::FILE* open_file(const std::string& path, const char* mode);
// The command line's arguments after the program's name, in UTF-8 (on Windows read again from
// the UTF-16 command line, since argv holds them in the ANSI code page).
std::vector<std::string> arguments(int argc, char** argv);
// Standard output and error take bytes as written (no "\n" to "\r\n" translation), and a
// Windows console shows UTF-8 text as such; a pipe gets the bytes unchanged.
void set_up_console();
// The platform's line ending in text the program writes for people: "\r\n" on Windows.
const char* line_ending();

}  // namespace qm::platform
