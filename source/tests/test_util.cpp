#include "source/tests/test_util.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/paths.h"

namespace qm::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  fs::path p = fs::temp_directory_path() /
               ("qm-source-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  fs::create_directories(p);
  path_ = from_fs_path(p);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(to_fs_path(path_), ec);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
  std::string p = join_path(path_, name);
  std::ofstream(to_fs_path(p), std::ios::binary) << bytes;
  return p;
}

MachineScope::MachineScope(std::vector<std::string> versions, bool excel)
    : saved_(source::engine_machine()) {
  source::engine_machine().versions = std::move(versions);
  source::engine_machine().excel = excel;
}

MachineScope::~MachineScope() {
  source::engine_machine() = saved_;
}

std::string fixture(const std::string& name) {
  return std::string(QM_SOURCE_DIR) + "/source/tests/fixtures/" + name;
}

}  // namespace qm::test
