// The few calls that differ between operating systems; the only place that may use them.
#pragma once

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
