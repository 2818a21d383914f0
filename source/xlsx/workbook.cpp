// The package around the sheets: _rels/.rels leads to the workbook part, whose relationships
// name the worksheets, the shared strings and the styles. Sheets are listed in the order of
// the workbook's sheets element; chart sheets, dialog sheets and macro sheets are left out.
#include <cstring>
#include <map>
#include <optional>

#include "source/reader.h"
#include "source/xlsx/errors.h"
#include "source/xlsx/number_formats.h"
#include "source/xlsx/shared_strings.h"
#include "source/xlsx/sheet_reader.h"
#include "source/xlsx/xlsx_reader.h"
#include "source/xlsx/xml_reader.h"
#include "source/xlsx/zip_archive.h"

namespace qm::source::xlsx {
namespace {

const char* attribute(const char** atts, const char* name) {
  for (int i = 0; atts[i]; i += 2) {
    const char* a = atts[i];
    const char* colon = std::strchr(a, ':');
    if (std::strcmp(colon ? colon + 1 : a, name) == 0) return atts[i + 1];
  }
  return nullptr;
}

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Resolves a relationship target against the folder of the part that holds it.
std::string resolve_target(const std::string& base, std::string target) {
  for (char& c : target)
    if (c == '\\') c = '/';
  std::string path = target.starts_with('/') ? target.substr(1) : base + target;
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string seg = path.substr(i, j - i);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    i = j + 1;
  }
  std::string r;
  for (const auto& p : parts) {
    if (!r.empty()) r += '/';
    r += p;
  }
  return r;
}

std::string folder_of_part(const std::string& part) {
  auto slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// The relationships part of a part: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
std::string rels_of(const std::string& part) {
  auto slash = part.rfind('/');
  std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
  return folder + "_rels/" + name + ".rels";
}

struct Relationship {
  std::string type, target;
};

template <class OnStart>
class SimpleHandler : public XmlHandler {
 public:
  explicit SimpleHandler(OnStart f) : f_(std::move(f)) {}
  void start(const char* name, const char** atts) override { f_(name, atts); }
  void end(const char*) override {}
  void text(const char*, int) override {}

 private:
  OnStart f_;
};

template <class OnStart>
void parse_part(ZipArchive& zip, std::uint64_t index, const std::string& where, OnStart f) {
  auto in = zip.open(index, where);
  SimpleHandler<OnStart> h(std::move(f));
  XmlReader xml(*in, h, zip.limits());
  while (xml.step()) {
  }
}

std::map<std::string, Relationship> read_rels(ZipArchive& zip, const std::string& part) {
  std::map<std::string, Relationship> rels;
  std::string relsName = rels_of(part);
  auto index = zip.find(relsName);
  if (!index) return rels;
  std::string base = folder_of_part(part);
  parse_part(zip, *index, "the relationships " + relsName,
             [&](const char* name, const char** atts) {
               if (std::strcmp(name, "Relationship") != 0) return;
               const char* id = attribute(atts, "Id");
               const char* type = attribute(atts, "Type");
               const char* target = attribute(atts, "Target");
               const char* mode = attribute(atts, "TargetMode");
               if (!id || !type || !target || (mode && std::strcmp(mode, "External") == 0)) return;
               if (rels.size() >= zip.limits().maxSheets * 2) {
                 raise(zip.file(), "the relationships " + relsName, "too many relationships");
               }
               rels[id] = Relationship{type, resolve_target(base, target)};
             });
  return rels;
}

class Workbook : public WorkbookReader {
 public:
  explicit Workbook(std::shared_ptr<ZipArchive> zip) : zip_(std::move(zip)) { load(); }

  std::vector<std::string> sheetNames() const override {
    std::vector<std::string> names;
    names.reserve(sheets_.size());
    for (const auto& s : sheets_) names.push_back(s.name);
    return names;
  }

  std::unique_ptr<RowReader> openSheet(int index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= sheets_.size()) {
      raise(zip_->file(), "",
            "there is no sheet number " + std::to_string(index + 1) + " (the workbook has " +
                std::to_string(sheets_.size()) + ")");
    }
    const Sheet& s = sheets_[static_cast<std::size_t>(index)];
    std::string where = "sheet \"" + s.name + "\"";
    auto part = zip_->find(s.part);
    if (!part) raise(zip_->file(), where, "the package has no part " + s.part + " for the sheet");
    SheetSource src;
    src.archive = zip_;
    src.strings = strings();
    src.styles = styles_;
    src.date1904 = date1904_;
    src.part = *part;
    src.where = std::move(where);
    return std::make_unique<SheetReader>(std::move(src));
  }

 private:
  struct Sheet {
    std::string name, part;
  };

  void load() {
    // The package's own relationships name the workbook part; xl/workbook.xml when they don't.
    std::string workbookPart = "xl/workbook.xml";
    for (const auto& [id, rel] : read_rels(*zip_, "")) {
      if (ends_with(rel.type, "/officeDocument")) workbookPart = rel.target;
    }
    auto wb = zip_->find(workbookPart);
    if (!wb) {
      raise(zip_->file(), "",
            zip_->find("xl/workbook.bin")
                ? "the file is an Excel binary workbook (.xlsb), which cannot be read"
                : "the package has no workbook part (" + workbookPart +
                      "); it is not an Excel 2007 (.xlsx) workbook");
    }
    auto rels = read_rels(*zip_, workbookPart);

    std::vector<std::pair<std::string, std::string>> listed;  // name, relationship id
    parse_part(*zip_, *wb, "the workbook part " + workbookPart,
               [&](const char* name, const char** atts) {
                 if (std::strcmp(name, "workbookPr") == 0) {
                   const char* v = attribute(atts, "date1904");
                   date1904_ = v && (std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0);
                 } else if (std::strcmp(name, "sheet") == 0) {
                   const char* n = attribute(atts, "name");
                   const char* id = attribute(atts, "id");
                   if (!n || !id) return;
                   if (listed.size() >= zip_->limits().maxSheets)
                     raise(zip_->file(), "the workbook part", "too many sheets");
                   listed.emplace_back(n, id);
                 }
               });
    for (const auto& [name, id] : listed) {
      auto it = rels.find(id);
      if (it == rels.end()) {
        raise(zip_->file(), "sheet \"" + name + "\"",
              "the workbook names no part for the sheet (relationship " + id + " is missing)");
      }
      if (ends_with(it->second.type, "/worksheet"))
        sheets_.push_back(Sheet{name, it->second.target});
    }

    std::string stringsPart, stylesPart;
    for (const auto& [id, rel] : rels) {
      if (ends_with(rel.type, "/sharedStrings")) stringsPart = rel.target;
      if (ends_with(rel.type, "/styles")) stylesPart = rel.target;
    }
    if (stringsPart.empty() && zip_->find("xl/sharedStrings.xml"))
      stringsPart = "xl/sharedStrings.xml";
    if (stylesPart.empty() && zip_->find("xl/styles.xml")) stylesPart = "xl/styles.xml";
    stringsPart_ = stringsPart;

    auto styles = std::make_shared<DateStyles>();
    if (!stylesPart.empty()) {
      if (auto idx = zip_->find(stylesPart)) {
        auto in = zip_->open(*idx, "the styles " + stylesPart);
        *styles = DateStyles::read(*in, zip_->limits());
      }
    }
    styles_ = std::move(styles);
  }

  // The shared strings are opened when a sheet first needs them and kept for every sheet.
  std::shared_ptr<SharedStrings> strings() {
    if (!strings_) {
      auto idx = stringsPart_.empty() ? std::nullopt : zip_->find(stringsPart_);
      if (idx) {
        strings_ = std::make_shared<SharedStrings>(
            zip_->open(*idx, "the shared strings " + stringsPart_), zip_->limits());
      } else {
        strings_ = std::make_shared<SharedStrings>(zip_->limits());
      }
    }
    return strings_;
  }

  std::shared_ptr<ZipArchive> zip_;
  std::vector<Sheet> sheets_;
  bool date1904_ = false;
  std::string stringsPart_;
  std::shared_ptr<const DateStyles> styles_;
  std::shared_ptr<SharedStrings> strings_;
};

}  // namespace

std::unique_ptr<WorkbookReader> open_workbook(const std::string& path, const Limits& limits) {
  return std::make_unique<Workbook>(ZipArchive::open_file(path, limits));
}

std::unique_ptr<WorkbookReader> open_workbook_bytes(const std::string& name, std::string bytes,
                                                    const Limits& limits) {
  return std::make_unique<Workbook>(ZipArchive::open_bytes(name, std::move(bytes), limits));
}

}  // namespace qm::source::xlsx

namespace qm::source {

std::unique_ptr<WorkbookReader> open_xlsx(const std::string& path) {
  return xlsx::open_workbook(path, xlsx::Limits{});
}

}  // namespace qm::source
