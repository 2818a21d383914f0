#include "pricefile/staged_table.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/error.h"
#include "core/paths.h"

namespace qm::pricefile {

namespace fs = std::filesystem;

namespace {

// The memo before the index before the table: the table file, which readers open first, is
// the last to change.
const char* const kExtensions[] = {".dbt", ".mdx", ".dbf"};
const char* const kLockName = "lock";
const char* const kReadyName = "ready";

std::string stem_of(const std::string& path) {
  const std::string ext = extension_of(path);
  return path.substr(0, path.size() - ext.size());
}

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(to_fs_path(path), ec);
}

}  // namespace

std::vector<std::string> table_file_set(const std::string& dbfPath) {
  std::vector<std::string> r;
  for (const char* ext : kExtensions) r.push_back(stem_of(dbfPath) + ext);
  return r;
}

StagedTable::StagedTable(std::string finalPath)
    : finalPath_(std::move(finalPath)), folder_(stem_of(finalPath_) + ".building") {
  folder_ += path_separator();
}

StagedTable::~StagedTable() {
  if (!begun_) return;
  // A complete new set stays for the next import to put in place.
  if (ready_ && !committed_) return;
  clearStaging();
  lock_.release(true);
  std::error_code ec;
  fs::remove(to_fs_path(folder_), ec);
}

std::string StagedTable::stagedPath() const {
  return folder_ + file_name_of(finalPath_);
}

std::string StagedTable::finalFile(const std::string& stagedFile) const {
  // An old file named in other letter case (ACMELIST.DBT) is the one to replace.
  return resolve_path(folder_of(finalPath_) + file_name_of(stagedFile));
}

void StagedTable::begin(Messages& messages) {
  const std::string name = file_name_of(finalPath_);
  const std::string dest = folder_of(finalPath_);
  const std::string cannotWrite = "the folder " + dest + " cannot be written";
  if (!platform::folder_writable(dest.empty() ? "." : dest)) throw Error(cannotWrite);
  // The staging folder may vanish between our look and our lock, as its last holder removes
  // it; then it is made again.
  platform::LockResult locked = platform::LockResult::Failed;
  for (int attempt = 0; attempt < 3 && locked == platform::LockResult::Failed; ++attempt) {
    std::error_code ec;
    fs::create_directory(to_fs_path(folder_), ec);
    locked = lock_.lockPath(folder_ + kLockName, true);
  }
  if (locked == platform::LockResult::InUse) throw Error(name + " is in use by another import");
  if (locked != platform::LockResult::Locked) throw Error(cannotWrite);
  begun_ = true;

  if (exists(folder_ + kReadyName)) {
    std::vector<std::string> newSet;
    std::ifstream in(to_fs_path(folder_ + kReadyName));
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) newSet.push_back(line);
    finishSwap(newSet);
    messages.information("The interrupted import of " + name +
                         " was put in place before this one.");
  }
  clearStaging();

  for (const std::string& f : table_file_set(finalPath_)) {
    const std::string old = resolve_path(f);
    if (!exists(old)) continue;
    std::string why = platform::why_file_cannot_be_replaced(old);
    if (!why.empty()) throw Error(why);
  }
}

void StagedTable::copyOld() {
  for (const std::string& f : table_file_set(finalPath_)) {
    const std::string old = resolve_path(f);
    if (!exists(old)) continue;
    std::error_code ec;
    fs::copy_file(to_fs_path(old), to_fs_path(folder_ + file_name_of(f)),
                  fs::copy_options::overwrite_existing, ec);
    if (ec) throw Error("Cannot copy " + old + ": " + ec.message());
  }
}

void StagedTable::prepare() {
  if (ready_) return;
  const auto sync = [](const std::string& f) {
    if (!platform::sync_file(f)) throw Error("Cannot write " + f + " to the disk");
  };
  newSet_.clear();
  for (const std::string& f : table_file_set(stagedPath())) {
    if (!exists(f)) continue;
    sync(f);
    newSet_.push_back(file_name_of(f));
  }
  step("synced");
  {
    std::ofstream out(to_fs_path(folder_ + kReadyName), std::ios::binary | std::ios::trunc);
    for (const std::string& n : newSet_) out << n << "\n";
    out.close();
    if (!out) throw Error("Cannot write to " + folder_ + kReadyName);
  }
  sync(folder_ + kReadyName);
  ready_ = true;
  step("ready");
}

void StagedTable::commit() {
  prepare();
  finishSwap(newSet_);
  committed_ = true;
}

void StagedTable::finishSwap(const std::vector<std::string>& newSet) {
  auto inNewSet = [&](const std::string& n) {
    return std::find(newSet.begin(), newSet.end(), n) != newSet.end();
  };
  const std::vector<std::string> staged = table_file_set(stagedPath());
  for (std::size_t i = 0; i < staged.size(); ++i) {
    const std::string n = file_name_of(staged[i]);
    // Already moved when an earlier attempt got this far.
    if (!inNewSet(n) || !exists(staged[i])) continue;
    std::string error;
    if (!platform::replace_file(staged[i], finalFile(staged[i]), error))
      throw Error("Cannot put " + n + " in place: " + error);
    step(std::string("renamed ") + kExtensions[i]);
  }
  // An old memo or index the new table does not have would be taken for its own.
  for (const std::string& f : staged) {
    const std::string n = file_name_of(f);
    if (inNewSet(n)) continue;
    std::error_code ec;
    const std::string old = finalFile(f);
    if (exists(old)) fs::remove(to_fs_path(old), ec);
  }
}

void StagedTable::clearStaging() {
  std::error_code ec;
  // The ready mark goes last: whatever of the new set it names and is still here must stay
  // until it is in place.
  for (const std::string& f : table_file_set(stagedPath())) fs::remove(to_fs_path(f), ec);
  for (fs::directory_iterator it(to_fs_path(folder_), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string n = from_fs_path(it->path().filename());
    if (n != kLockName && n != kReadyName) fs::remove_all(it->path(), ec);
  }
  fs::remove(to_fs_path(folder_ + kReadyName), ec);
}

}  // namespace qm::pricefile
