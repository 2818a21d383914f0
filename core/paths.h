// Paths as texts (UTF-8) and file operations that find names without regard to case, as a
// Tessaro folder copied from Windows may say PRVENDOR.DBF, Manulist.dbf or .DBT.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qm {

// The platform's path separator, which the program's "\" stands for.
char path_separator();
std::string separator_string();
bool ends_with_separator(std::string_view folder);
// folder + separator (when missing) + name.
std::string join_path(std::string_view folder, std::string_view name);
// Folder part of a path including its trailing separator; empty when there is none.
std::string folder_of(std::string_view path);
// File name part of a path (after the last separator).
std::string file_name_of(std::string_view path);
// Extension from the last point, point included ("" when none).
std::string extension_of(std::string_view path);

std::filesystem::path to_fs_path(std::string_view utf8);
std::string from_fs_path(const std::filesystem::path& p);

// The existing file that path names, looking each component up without regard to case when
// the exact name is missing. Returns path unchanged when nothing matches.
std::string resolve_path(std::string_view path);
bool file_exists(std::string_view path);
// The operations below resolve their arguments as above; a missing source is no error for
// delete. Errors raise qm::Error naming the file.
bool delete_file(std::string_view path);
void copy_file_replace(std::string_view from, std::string_view to);
bool rename_file(std::string_view from, std::string_view to);

}  // namespace qm
