// Opens a source file and times: the open with the first 100 records, then the walk over every
// record reading every field's text.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "bench/open_source.h"
#include "bench/peak_memory.h"
#include "core/paths.h"

namespace {

using qm::bench::peak_rss_kib;

double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: bench_source FILE\n";
    return 2;
  }
  std::string path = argv[1];
  auto t0 = std::chrono::steady_clock::now();
  qm::source::TDaoDatabase db;
  qm::source::TDaoTable t;
  qm::bench::open_source_file(db, t, path);
  std::size_t bytes = 0;
  long records = 0;
  for (; !t.eof() && records < 100; t.next(), ++records)
    for (int i = 0; i < t.fieldCount(); ++i) bytes += t.field(i).asString().size();
  double first100 = since(t0);
  for (; !t.eof(); t.next(), ++records)
    for (int i = 0; i < t.fieldCount(); ++i) bytes += t.field(i).asString().size();
  double all = since(t0);
  std::printf(
      "%-40s open+100 records %.3f s   all %ld records %.3f s   peak RSS %ld MiB   (%zu text "
      "bytes)\n",
      qm::file_name_of(path).c_str(), first100, records, all, peak_rss_kib() / 1024, bytes);
  return 0;
}
