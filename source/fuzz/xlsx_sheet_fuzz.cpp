// Feeds arbitrary bytes to the workbook reader as the XML of a sheet (and, from the same bytes,
// of its shared strings and styles), inside a package built here without compression, so the
// fuzzer works on the XML itself rather than on deflated bytes. Anything but a clean result
// or a DatabaseError is a fault.
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/error.h"
#include "source/xlsx/xlsx_reader.h"

namespace {

std::string stored_zip(const std::map<std::string, std::string>& parts) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &err);
  zip_source_keep(src);
  zip_t* za = zip_open_from_source(src, ZIP_TRUNCATE, &err);
  for (const auto& [name, data] : parts) {
    // libzip does not free the buffer of an empty source: an empty part gets none.
    void* copy = nullptr;
    if (!data.empty()) {
      copy = std::malloc(data.size());
      std::memcpy(copy, data.data(), data.size());
    }
    zip_source_t* s = zip_source_buffer(za, copy, data.size(), copy ? 1 : 0);
    zip_int64_t i = zip_file_add(za, name.c_str(), s, ZIP_FL_ENC_UTF_8);
    if (i < 0) {
      zip_source_free(s);
      continue;
    }
    zip_set_file_compression(za, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
  }
  zip_close(za);
  zip_source_open(src);
  zip_source_seek(src, 0, SEEK_END);
  auto size = zip_source_tell(src);
  zip_source_seek(src, 0, SEEK_SET);
  std::string out(static_cast<std::size_t>(size), '\0');
  zip_source_read(src, out.data(), static_cast<zip_uint64_t>(size));
  zip_source_close(src);
  zip_source_free(src);
  zip_error_fini(&err);
  return out;
}

const char* const kWorkbook =
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
    "<sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
const char* const kRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
const char* const kStrings =
    "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>a</t></si>"
    "<si><r><t>b</t></r><r><t>c</t></r></si></sst>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qm::source;
  std::string xml(reinterpret_cast<const char*>(data), size);
  xlsx::Limits limits;
  limits.maxPartBytes = 16u << 20;
  limits.maxTokenBytes = 64u << 10;
  limits.maxCellBytes = 64u << 10;
  // The first byte chooses which part gets the bytes: the sheet, or the shared strings.
  bool asStrings = !xml.empty() && (xml[0] & 1) && xml[0] != '<';
  std::map<std::string, std::string> parts = {
      {"xl/workbook.xml", kWorkbook},
      {"xl/_rels/workbook.xml.rels", kRels},
      {"xl/worksheets/sheet1.xml",
       asStrings ? "<worksheet><sheetData><row><c t=\"s\"><v>0</v></c><c t=\"s\"><v>3</v></c>"
                   "</row></sheetData></worksheet>"
                 : xml},
      {"xl/sharedStrings.xml", asStrings ? xml.substr(1) : kStrings},
  };
  try {
    auto wb = xlsx::open_workbook_bytes("fuzz.xlsx", stored_zip(parts), limits);
    std::vector<Cell> cells;
    auto sheet = wb->openSheet(0);
    for (int rows = 0; sheet->nextRow(cells) && rows < 100000; ++rows) {
    }
  } catch (const qm::DatabaseError&) {
  }
  return 0;
}
