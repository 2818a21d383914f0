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

}  // namespace qm::platform
