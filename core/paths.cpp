#include "core/paths.h"

#include <system_error>

#include "core/error.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace qm {

char path_separator() {
  return static_cast<char>(fs::path::preferred_separator);
}
std::string separator_string() {
  return std::string(1, path_separator());
}

static bool is_sep(char c) {
  return c == '/' || c == path_separator();
}

bool ends_with_separator(std::string_view folder) {
  return !folder.empty() && is_sep(folder.back());
}

std::string join_path(std::string_view folder, std::string_view name) {
  std::string r(folder);
  if (!r.empty() && !is_sep(r.back())) r += path_separator();
  r += name;
  return r;
}

std::string folder_of(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (is_sep(path[i - 1])) return std::string(path.substr(0, i));
  return {};
}

std::string file_name_of(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (is_sep(path[i - 1])) return std::string(path.substr(i));
  return std::string(path);
}

std::string extension_of(std::string_view path) {
  std::string name = file_name_of(path);
  auto p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

fs::path to_fs_path(std::string_view utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string from_fs_path(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::string resolve_path(std::string_view path) {
  std::error_code ec;
  fs::path p = to_fs_path(path);
  if (p.empty() || fs::exists(p, ec)) return std::string(path);
  fs::path cur;
  bool first = true;
  for (const fs::path& part : p) {
    fs::path next = first ? part : cur / part;
    first = false;
    if (part == part.root_name() || part == part.root_directory() || part == "." || part == ".." ||
        fs::exists(next, ec)) {
      cur = next;
      continue;
    }
    // Look the component up without regard to case in the folder reached so far.
    fs::path dir = cur.empty() ? fs::path(".") : cur;
    bool found = false;
    std::string want = from_fs_path(part);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      std::string have = from_fs_path(it->path().filename());
      if (iequals(have, want)) {
        cur = cur.empty() ? it->path().filename() : cur / it->path().filename();
        found = true;
        break;
      }
    }
    if (!found) return std::string(path);
  }
  return from_fs_path(cur);
}

bool file_exists(std::string_view path) {
  std::error_code ec;
  return fs::is_regular_file(to_fs_path(resolve_path(path)), ec);
}

bool delete_file(std::string_view path) {
  std::error_code ec;
  return fs::remove(to_fs_path(resolve_path(path)), ec);
}

void copy_file_replace(std::string_view from, std::string_view to) {
  std::error_code ec;
  fs::path src = to_fs_path(resolve_path(from));
  fs::path dst = to_fs_path(resolve_path(to));
  fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec);
  if (ec)
    throw Error("Cannot copy " + std::string(from) + " to " + std::string(to) + ": " +
                ec.message());
}

bool rename_file(std::string_view from, std::string_view to) {
  std::error_code ec;
  fs::rename(to_fs_path(resolve_path(from)), to_fs_path(to), ec);
  return !ec;
}

}  // namespace qm
