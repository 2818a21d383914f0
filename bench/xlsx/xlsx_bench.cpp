// Reads the rows of a workbook sheet through the RowReader and prints how many, how long it
// took and the peak memory of the process:
//   xlsx_bench FILE [--rows N] [--sheet I] [--dump N]
//   xlsx_bench FILE --inflate zlib|isal
// --rows stops after N rows (the open-and-peek case), --dump prints the first N rows.
// --inflate only inflates the first sheet's part and the shared strings with that inflater (the
// floor under every reader of the file, in this process) and prints the bytes and seconds.
#include <algorithm>
#include <chrono>
#include <cstdint>
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
#include "source/xlsx/zip_archive.h"

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

// Inflates the parts unzip -p is timed on, through the package's own part streams.
int inflate_only(const char* file, const char* kindName) {
  using namespace qm::source::xlsx;
  InflaterKind kind = std::strcmp(kindName, "isal") == 0 ? InflaterKind::Isal : InflaterKind::Zlib;
  const auto& have = available_inflaters();
  if ((kind == InflaterKind::Zlib && std::strcmp(kindName, "zlib") != 0) ||
      std::find(have.begin(), have.end(), kind) == have.end()) {
    std::fprintf(stderr, "this build has no inflater \"%s\"\n", kindName);
    return 2;
  }
  auto t0 = std::chrono::steady_clock::now();
  std::uint64_t bytes = 0;
  try {
    auto zip = ZipArchive::open_file(file, Limits(), kind);
    std::vector<char> buf(256 * 1024);
    for (const char* name : {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml"}) {
      auto at = zip->find(name);
      if (!at) continue;
      auto part = zip->open(*at, name);
      while (std::size_t n = part->read(buf.data(), buf.size())) bytes += n;
    }
  } catch (const qm::Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("inflater=%s bytes=%llu seconds=%.3f\n", inflater_name(kind),
              static_cast<unsigned long long>(bytes), secs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(
        stderr, "usage: xlsx_bench FILE [--rows N] [--sheet I] [--dump N] | --inflate zlib|isal\n");
    return 2;
  }
  if (argc == 4 && std::strcmp(argv[2], "--inflate") == 0) return inflate_only(argv[1], argv[3]);
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
