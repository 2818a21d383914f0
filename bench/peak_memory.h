// The benchmarks' peak-memory figure.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace qm::bench {

// Peak resident memory from the kernel's process status (Linux); -1 elsewhere.
inline long peak_rss_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace qm::bench
