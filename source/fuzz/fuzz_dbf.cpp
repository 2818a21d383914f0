// A dBase table of any bytes through the dBase source, every field of every record read,
// memos included. An input holding the line "--memo--" is split there: the bytes before it
// are the table, those after it its memo file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/error.h"
#include "source/dbf/dbf_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  static const fs::path dir = fs::temp_directory_path() / "qm-fuzz-dbf";
  fs::create_directories(dir);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSplit = "\n--memo--\n";
  auto split = bytes.find(kSplit);
  auto put = [](const fs::path& p, std::string_view b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
  };
  put(dir / "FUZZ.DBF", bytes.substr(0, split));
  std::error_code ec;
  if (split == std::string_view::npos)
    fs::remove(dir / "FUZZ.DBT", ec);
  else
    put(dir / "FUZZ.DBT", bytes.substr(split + kSplit.size()));
  try {
    auto db =
        qm::source::open_dbf_folder(dir.string(), qm::source::ConnectString::parse("dBase 5.0;"));
    auto rs = db->openRecordset("FUZZ.DBF");
    rs->recordCount();
    std::vector<qm::source::Cell> row;
    for (int n = 0; n < 100000 && rs->fetch(row); ++n) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (!rs->deferred(i)) continue;
        try {
          rs->readDeferred(i, row[i]);
        } catch (const qm::Error&) {
          // A damaged memo stops only its own field.
        }
      }
    }
  } catch (const qm::Error&) {
  }
  return 0;
}
