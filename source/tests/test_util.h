#pragma once

#include <string>
#include <vector>

#include "source/dao_engine.h"

namespace qm::test {

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  // Writes bytes to name inside the folder and returns the full path.
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

// Pretends another machine for a scope.
class MachineScope {
 public:
  MachineScope(std::vector<std::string> versions, bool excel = true);
  ~MachineScope();

 private:
  source::EngineMachine saved_;
};

std::string fixture(const std::string& name);

}  // namespace qm::test
