// Reads the rows of a workbook sheet through the RowReader and prints how many, how long it
// took and the peak memory of the process:
//   xlsx_bench FILE [--rows N] [--sheet I] [--dump N]
// --rows stops after N rows (the open-and-peek case), --dump prints the first N rows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/peak_memory.h"
#include "core/error.h"
#include "core/text.h"
#include "source/reader.h"

namespace {

using qm::bench::peak_rss_kib;

std::string show(const qm::source::Cell& c) {
  using K = qm::source::Cell::Kind;
  switch (c.kind) {
    case K::Empty:
      return "";
    case K::Text:
      return c.text;
    case K::Number:
      return qm::format_general(c.number);
    case K::Boolean:
      return c.boolean ? "TRUE" : "FALSE";
    case K::DateTime: {
      std::string s = qm::format_general(c.number);
      s.insert(s.begin(), '@');
      return s;
    }
    case K::Error:
      return c.text;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: xlsx_bench FILE [--rows N] [--sheet I] [--dump N]\n");
    return 2;
  }
  long long limit = -1, dump = 0;
  int sheet = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rows") == 0)
      limit = std::atoll(argv[i + 1]);
    else if (std::strcmp(argv[i], "--sheet") == 0)
      sheet = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--dump") == 0)
      dump = std::atoll(argv[i + 1]);
  }
  auto t0 = std::chrono::steady_clock::now();
  long long rows = 0, cells = 0;
  try {
    auto wb = qm::source::open_xlsx(argv[1]);
    auto reader = wb->openSheet(sheet);
    std::vector<qm::source::Cell> row;
    while ((limit < 0 || rows < limit) && reader->nextRow(row)) {
      if (rows < dump) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
          if (i) line += '|';
          line += show(row[i]);
        }
        std::printf("%lld: %s\n", rows, line.c_str());
      }
      ++rows;
      for (const auto& c : row) cells += c.kind != qm::source::Cell::Kind::Empty;
    }
  } catch (const qm::Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("rows=%lld cells=%lld seconds=%.3f peak_rss_mib=%.1f\n", rows, cells, secs,
              peak_rss_kib() / 1024.0);
  return 0;
}
