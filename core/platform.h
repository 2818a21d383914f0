// The few calls that differ between operating systems; the only place that may use them.
#pragma once

#include <cstdio>
#include <string>

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

// --- Cancelling, locking and replacing files (the build's file safety) ---

// From now on Ctrl+C and SIGTERM (on Windows also Ctrl+Break and closing the console) set a
// flag that cancel_signalled() reports instead of ending the process, so that a build stops
// between records and leaves its files whole. A second Ctrl+C ends the process as usual.
void catch_cancel_signals();
bool cancel_signalled();

}  // namespace qm::platform
