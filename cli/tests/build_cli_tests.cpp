// quillmere-import's configurations and builds, run as a program over a scratch program
// folder: price lists saved by spreadsheet software become registered price files, read back
// by our table engine and by SheetJS (a reader nobody here wrote).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "config/tests/test_folder.h"
#include "core/paths.h"
#include "core/tests/run_process.h"
#include "core/text.h"
#include "pricefile/tests/whole_tables.h"
#include "tables/dbf_table.h"

using namespace qm;
using qm::tables::DbfTable;

namespace {

// The separator the messages name: the platform's own.
const std::string kSep = separator_string();

using testkit::Outcome;

// Quotes a word for testkit::split_words.
std::string q(const std::string& s) {
  return "'" + s + "'";
}

std::string sample(const std::string& name) {
  return join_path(QM_SOURCE_DIR, "data/sample/" + name);
}

std::string fixture(const std::string& name) {
  return join_path(QM_SOURCE_DIR, "pricefile/tests/fixtures/" + name);
}

// FNV-1a of a file's bytes, to see that a build leaves its source as it was.
std::uint64_t file_hash(const std::string& path) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : testkit::read_bytes(path)) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::vector<std::string> split_lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The completion line, before the summary that follows it.
std::string first_line(const std::string& s) {
  return s.substr(0, s.find('\n') + 1);
}

// A program folder with the data files the build put beside the programs, an output folder and
// a copy of the sample Tessaro folder.
struct CliBuild : ::testing::Test {
  testkit::TestFolder tf;
  std::string prog = tf.folder("prog");
  std::string out = tf.folder("out");
  std::string data;

  void SetUp() override {
    for (const char* f : {"exprtwin.dbf", "flistwin.dbf", "filelwin.dbf"})
      testkit::put_data_file(prog, f);
    data = testkit::copy_sample_tessaro(tf);
  }

  Outcome run(const std::string& args, const std::string& stdinText = "") {
    std::vector<std::string> argv = {testkit::bin_file("quillmere-import"), "--program-folder",
                                     prog};
    for (auto& w : testkit::split_words(args)) argv.push_back(std::move(w));
    return testkit::run_process({argv, {}, stdinText});
  }

  // The sample configuration with some of its lines changed.
  std::string config(const std::map<std::string, std::string>& changes = {}) {
    std::string text = testkit::read_bytes(sample("acme-monthly.config"));
    for (const auto& [key, value] : changes) {
      size_t at = text.find("\n" + key + "=");
      if (at == std::string::npos) ADD_FAILURE() << "the sample configuration has no " << key;
      if (at == std::string::npos) continue;
      size_t end = text.find('\n', at + 1);
      text.replace(at + 1, end - at - 1, key + "=" + value);
    }
    return text;
  }
  void importConfig(const std::string& text) {
    std::string path = from_fs_path(tf.root() / "in.config");
    std::ofstream(to_fs_path(path), std::ios::binary) << text;
    Outcome r = run("config import " + q(path));
    ASSERT_EQ(r.code, 0) << r.err;
  }
  std::string buildArgs(const std::string& source) {
    return "build --config 'Acme Electrical monthly' --source " + q(source) + " --dest " + q(out) +
           " --manulist " + q(data);
  }
};

struct PricePart {
  std::string part, description, list, cost;
  friend bool operator==(const PricePart&, const PricePart&) = default;
  friend void PrintTo(const PricePart& p, std::ostream* os) {
    *os << "{" << p.part << " | " << p.description << " | " << p.list << " | " << p.cost << "}";
  }
};

std::vector<PricePart> read_price_file(const std::string& path) {
  DbfTable t;
  t.setFolder(folder_of(path));
  t.setTableName(file_name_of(path));
  t.open();
  std::vector<PricePart> r;
  for (t.first(); !t.eof(); t.next())
    r.push_back({t.fieldByName("PARTNUMBER").asString(), t.fieldByName("DESCRIPTN").asString(),
                 t.fieldByName("LISTPRICE").asString(), t.fieldByName("COST_OF_1").asString()});
  return r;
}

bool have_sheetjs() {
  const char* modules = std::getenv("QM_NODE_MODULES");
  return modules && *modules && testkit::program_succeeds({"node", "--version"});
}

// The table as SheetJS reads it: one tab-separated line per row, field names first. SheetJS
// takes level-7 tables only with the memo version byte, so it reads a copy with byte 0 = 0x8C.
std::vector<std::string> sheetjs_rows(const testkit::TestFolder& tf, const std::string& table) {
  std::string bytes = testkit::read_bytes(table);
  bytes[0] = static_cast<char>(0x8C);
  std::string copy = from_fs_path(tf.root() / "sheetjs-copy.dbf");
  std::ofstream(to_fs_path(copy), std::ios::binary) << bytes;
  Outcome r = testkit::run_process(
      {{"node", join_path(QM_SOURCE_DIR, "tables/tests/sheetjs_read_dbf.js"), copy},
       {{"NODE_PATH", std::getenv("QM_NODE_MODULES")}}});
  EXPECT_EQ(r.code, 0) << r.err;
  return split_lines(r.out);
}

std::string list_value(const std::string& folder, const std::string& table, const char* id,
                       const char* field, std::int64_t* count = nullptr) {
  DbfTable t;
  t.setFolder(folder);
  t.setTableName(table);
  t.open();
  if (count) *count = t.recordCount();
  for (t.first(); !t.eof(); t.next())
    if (t.fieldByName("file").asString() == id) return t.fieldByName(field).asString();
  return "<no record>";
}

TEST_F(CliBuild, ConfigurationsExportImportAndList) {
  EXPECT_EQ(run("configs").out, "");
  importConfig(config());
  Outcome listed = run("configs");
  EXPECT_EQ(listed.code, 0);
  EXPECT_EQ(listed.out, testkit::platform_lines("Acme Electrical monthly\n"));
  // Export gives back the text it was imported from, to stdout or a file.
  Outcome exported = run("config export 'Acme Electrical monthly'");
  EXPECT_EQ(exported.code, 0) << exported.err;
  EXPECT_EQ(exported.out, testkit::platform_lines(config()));
  std::string file = from_fs_path(tf.root() / "out.config");
  EXPECT_EQ(run("config export 'Acme Electrical monthly' --out " + q(file)).code, 0);
  EXPECT_EQ(testkit::read_bytes(file), config());

  // The same name replaces; another name is added after it.
  importConfig(config({{"STARTEXPRT", "5"}}));
  importConfig(config({{"STORENAME", "Acme weekly"}}));
  EXPECT_EQ(run("configs").out, testkit::platform_lines("Acme Electrical monthly\nAcme weekly\n"));
  EXPECT_EQ(run("config export 'Acme Electrical monthly'").out,
            testkit::platform_lines(config({{"STARTEXPRT", "5"}})));

  Outcome missing = run("config export 'acme electrical monthly'");
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("acme electrical monthly"), std::string::npos);
  EXPECT_EQ(run("config import /nonexistent/x.config").code, 1);
  EXPECT_EQ(run("config").code, 2);
  EXPECT_EQ(run("config export").code, 2);
  EXPECT_EQ(run("config export A --out").code, 2);
  EXPECT_EQ(run("configs extra").code, 2);
}

// The proposal for the sample is the mapping its estimator wrote, and once named it is a
// configuration that imports and exports as it stands.
TEST_F(CliBuild, SuggestGivesTheSampleMappingAsAConfigurationToImport) {
  const std::string sampleText = config();
  const std::string mapping = sampleText.substr(sampleText.find("[Mapping]"));
  for (const std::string& source :
       {q(sample("acme-pricelist.xlsx")), q(sample("acme-pricelist.xlsx")) + " --no-header",
        q(sample("acme-pricelist.csv")) + " --header"}) {
    Outcome r = run("suggest " + source);
    ASSERT_EQ(r.code, 0) << source << ": " << r.err;
    EXPECT_EQ(r.out.substr(r.out.find("[Mapping]")), testkit::platform_lines(mapping)) << source;
    std::string named = r.out;
    named.replace(named.find("STORENAME=") + 10, 0, "Suggested");
    importConfig(named);
    EXPECT_EQ(run("config export Suggested").out, named) << source;
  }
  EXPECT_EQ(run("suggest").code, 2);
  EXPECT_EQ(run("suggest a.csv --sheet").code, 2);
  EXPECT_EQ(run("suggest /nonexistent/folder/p.csv").code, 1);
}

TEST_F(CliBuild, PriceListsSavedBySpreadsheetSoftwareBuildTheSamePriceFile) {
  importConfig(config());
  struct Source {
    std::string path;
    std::string startRow;
  } sources[] = {{sample("acme-pricelist.xlsx"), "2"},
                 {fixture("acme-pricelist.xls"), "2"},
                 {fixture("acme-pricelist-calc.csv"), "3"},
                 {sample("acme-pricelist.csv"), "3"},
                 {fixture("acme-parts.dbf"), "1"}};
  // Page 1 gives only a workbook its first row as field names; a text file's first row (the
  // list's title here) is a row like any other, so its parts begin a row later.
  std::vector<PricePart> first, last;
  for (const auto& s : sources) {
    SCOPED_TRACE(s.path);
    importConfig(config({{"STARTEXPRT", s.startRow}}));
    const std::uint64_t before = file_hash(s.path);
    Outcome r = run(buildArgs(s.path) + " --vendor-info");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(first_line(r.out), testkit::platform_lines("Import complete! 30 Records\n"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(file_hash(s.path), before);

    std::vector<PricePart> parts = read_price_file(out + "ACMELIST.dbf");
    ASSERT_EQ(parts.size(), 31u);
    EXPECT_EQ(parts[0], (PricePart{"0", "Update 11/1/2026 Price Sheet Nov 2026", "", ""}));
    EXPECT_EQ(parts[1],
              (PricePart{"AC-1001", "Duplex receptacle, 15A 125V, white", "2.49", "1.12"}));
    EXPECT_EQ(parts[17].part, "AC-5000");
    EXPECT_EQ(parts[17].list, "1234.5");
    EXPECT_EQ(parts[30], (PricePart{"AC-9000", "Discontinued item - call for price", "0", "0"}));
    if (first.empty()) first = parts;
    for (size_t i = 0; i < parts.size(); ++i) {
      PricePart want = first[i];
      // Calc's dBase export leaves a price that is no number ("USD 119.00") empty.
      if (ends_with(s.path, ".dbf") && want.list == "119") want.list = "0";
      EXPECT_EQ(parts[i], want) << i;
    }
    last = parts;

    // Registered: the file and date lists beside it, the sample manufacturer list, the vendor.
    std::int64_t count = 0;
    EXPECT_EQ(list_value(out, "filelist.dbf", "ACME", "COMPANY", &count), "Acme Electrical Supply");
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list_value(out, "datelist.dbf", "ACME", "pricesheet", &count), "Nov 2026");
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list_value(data, "manulist.dbf", "ACME", "SOURCE_ID"), "V1001");
  }

  if (!have_sheetjs()) GTEST_SKIP() << "QM_NODE_MODULES not set or node missing";
  std::vector<std::string> rows = sheetjs_rows(tf, out + "ACMELIST.dbf");
  ASSERT_EQ(rows.size(), 32u);
  auto cells = [](const std::string& line) {
    std::vector<std::string> c;
    size_t pos = 0;
    for (size_t tab; (tab = line.find('\t', pos)) != std::string::npos; pos = tab + 1)
      c.push_back(line.substr(pos, tab - pos));
    c.push_back(line.substr(pos));
    return c;
  };
  std::vector<std::string> names = cells(rows[0]);
  auto at = [&](const std::vector<std::string>& row, const char* name) {
    for (size_t i = 0; i < names.size(); ++i)
      if (iequals(names[i], name)) return i < row.size() ? row[i] : std::string();
    return std::string("<no field>");
  };
  for (size_t i = 0; i < last.size(); ++i) {
    std::vector<std::string> row = cells(rows[i + 1]);
    EXPECT_EQ(at(row, "PARTNUMBER"), last[i].part);
    EXPECT_EQ(at(row, "DESCRIPTN"), last[i].description);
    EXPECT_EQ(at(row, "DEPT"), "ACME");
    if (i > 0) {
      EXPECT_DOUBLE_EQ(std::stod(at(row, "LISTPRICE")), std::stod(last[i].list));
    }
  }
  std::vector<std::string> fileList = sheetjs_rows(tf, out + "filelist.dbf");
  ASSERT_EQ(fileList.size(), 2u);
  EXPECT_EQ(cells(fileList[1])[0], "ACME");
}

TEST_F(CliBuild, RefusedAndStoppedBuildsExitOneWithTheMessageOnStderr) {
  {
    std::string text = config();
    text.replace(text.find("DESCRIPTN=1\n"), 12, "");
    importConfig(text);
  }
  const std::string src = sample("acme-pricelist.xlsx");
  // The question is answered Cancel without --yes when nobody is at a terminal.
  Outcome no = run(buildArgs(src));
  EXPECT_EQ(no.code, 1);
  EXPECT_EQ(no.out, "");
  EXPECT_NE(no.err.find("DESCRIPTN is not selected, would you like to continue!"),
            std::string::npos)
      << no.err;
  EXPECT_FALSE(file_exists(out + "ACMELIST.dbf"));
  Outcome yes = run(buildArgs(src) + " --yes");
  EXPECT_EQ(yes.code, 0) << yes.err;
  EXPECT_EQ(first_line(yes.out), testkit::platform_lines("Import complete! 30 Records\n"));
  // Without --vendor-info (and Convert.ini saying nothing) no list is touched.
  EXPECT_FALSE(file_exists(out + "filelist.dbf"));
  EXPECT_EQ(list_value(data, "manulist.dbf", "ACME", "file"), "<no record>");

  // The destination folder comes from Convert.ini when not given, and is checked as typed.
  std::ofstream(to_fs_path(prog + "Convert.ini"))
      << "[DestFolder]\r\nFile=" << out.substr(0, out.size() - 1) << "\r\n";
  Outcome noSlash = run("build --config 'Acme Electrical monthly' --yes --source " + q(src));
  EXPECT_EQ(noSlash.code, 1);
  EXPECT_NE(noSlash.err.find("You must have \"" + kSep + "\" at the end of the Destination Path!"),
            std::string::npos)
      << noSlash.err;

  Outcome unknown = run("build --config Nope --source " + q(src));
  EXPECT_EQ(unknown.code, 1);
  EXPECT_NE(unknown.err.find("Nope"), std::string::npos);
  Outcome badSource = run(buildArgs(join_path(out, "missing.csv")) + " --yes");
  EXPECT_EQ(badSource.code, 1);
  EXPECT_NE(badSource.err.find("missing.csv"), std::string::npos) << badSource.err;
  Outcome badSheet = run(buildArgs(src) + " --yes --sheet 'Nope$'");
  EXPECT_EQ(badSheet.code, 1);
  EXPECT_NE(badSheet.err.find("Nope$"), std::string::npos) << badSheet.err;

  // A walk that meets an error is stopped: the configuration's part column is not there.
  importConfig(config({{"PARTNUMBER", "40"}}));
  Outcome stopped = run(buildArgs(src) + " --yes");
  EXPECT_EQ(stopped.code, 1);
  EXPECT_NE(stopped.err.find("Error: "), std::string::npos) << stopped.err;

  for (const char* bad : {"build --source x.csv", "build --config A",
                          "build --config A --source x.csv --header --no-header",
                          "build --config A --source x.csv --frobnicate",
                          "build --config A --config B --source x.csv"})
    EXPECT_EQ(run(bad).code, 2) << bad;
}

TEST_F(CliBuild, AddToExistingAndTheStartRowComeFromTheConfiguration) {
  importConfig(config({{"APPENDDATA", "True"}, {"STARTEXPRT", "30"}}));
  const std::string src = sample("acme-pricelist.csv");
  ASSERT_EQ(first_line(run(buildArgs(src)).out),
            testkit::platform_lines("Import complete! 3 Records\n"));
  ASSERT_EQ(first_line(run(buildArgs(src)).out),
            testkit::platform_lines("Import complete! 3 Records\n"));
  std::vector<PricePart> parts = read_price_file(out + "ACMELIST.dbf");
  ASSERT_EQ(parts.size(), 8u);
  EXPECT_EQ(parts[1].part, "AC-8000");
  EXPECT_EQ(parts[4].part, "0");
  EXPECT_EQ(parts[7].part, "AC-9000");
}

std::string companion_dbt(const std::string& dbf) {
  return dbf.substr(0, dbf.size() - 4) + ".dbt";
}

// Every file under the folders with the hash of its bytes.
std::map<std::string, std::uint64_t> files_under(const std::vector<std::string>& folders) {
  std::map<std::string, std::uint64_t> m;
  for (const std::string& f : folders)
    for (const auto& e : std::filesystem::recursive_directory_iterator(to_fs_path(f)))
      if (e.is_regular_file()) m[from_fs_path(e.path())] = file_hash(from_fs_path(e.path()));
  return m;
}

nlohmann::json read_json(const std::string& path) {
  return nlohmann::json::parse(testkit::read_bytes(path));
}

// Part records of a price file by part number (the heading record left out).
std::map<std::string, PricePart> parts_by_number(const std::string& path) {
  std::map<std::string, PricePart> m;
  for (const PricePart& p : read_price_file(path))
    if (p.part != "0") m.emplace(p.part, p);
  return m;
}

TEST_F(CliBuild, ADryRunWritesNothingAndReportsWhatTheBuildAfterItReports) {
  struct Source {
    std::string path, startRow;
    bool addToExisting;
  } sources[] = {{sample("acme-pricelist.xlsx"), "2", false},
                 {fixture("acme-pricelist.xls"), "2", false},
                 {sample("acme-pricelist.csv"), "3", true},
                 {fixture("acme-parts.dbf"), "1", false}};
  const std::string dryPath = from_fs_path(tf.root() / "dry.json");
  const std::string realPath = from_fs_path(tf.root() / "real.json");
  for (const Source& s : sources) {
    SCOPED_TRACE(s.path);
    importConfig(
        config({{"STARTEXPRT", s.startRow}, {"APPENDDATA", s.addToExisting ? "True" : "False"}}));
    const auto before = files_under({prog, out, data});
    Outcome dry = run(buildArgs(s.path) + " --vendor-info --dry-run --report " + q(dryPath));
    ASSERT_EQ(dry.code, 0) << dry.err;
    EXPECT_EQ(files_under({prog, out, data}), before);
    Outcome real = run(buildArgs(s.path) + " --vendor-info --report " + q(realPath));
    ASSERT_EQ(real.code, 0) << real.err;

    nlohmann::json d = read_json(dryPath), r = read_json(realPath);
    EXPECT_EQ(d["dry_run"], true);
    EXPECT_EQ(r["dry_run"], false);
    d.erase("dry_run");
    r.erase("dry_run");
    EXPECT_EQ(d, r);

    std::int64_t outcomes = 0;
    for (const auto& [name, n] : r["rows"]["outcomes"].items()) outcomes += n.get<std::int64_t>();
    EXPECT_EQ(r["rows"]["total"], outcomes);
    EXPECT_EQ(r["source"]["rows"], outcomes);
    const auto& rec = r["records"];
    EXPECT_EQ(rec["total"], rec["heading"].get<std::int64_t>() + rec["parts"].get<std::int64_t>());
    EXPECT_EQ(real.out, testkit::platform_lines("Import complete! " +
                                                std::to_string(rec["parts"].get<std::int64_t>()) +
                                                " Records\n"));
    const std::int64_t inFile =
        rec["before"].get<std::int64_t>() + rec["total"].get<std::int64_t>();
    if (have_sheetjs()) {
      EXPECT_EQ(static_cast<std::int64_t>(sheetjs_rows(tf, out + "ACMELIST.dbf").size()) - 1,
                inFile);
    }
    EXPECT_EQ(static_cast<std::int64_t>(read_price_file(out + "ACMELIST.dbf").size()), inFile);
  }
}

TEST_F(CliBuild, NextMonthsListReportsExactlyThePartsAddedRemovedAndChanged) {
  importConfig(config({{"STARTEXPRT", "3"}}));
  ASSERT_EQ(run(buildArgs(sample("acme-pricelist.csv"))).code, 0);
  const std::string lastMonth = from_fs_path(tf.root() / "LASTLIST.dbf");
  copy_file_replace(out + "ACMELIST.dbf", lastMonth);
  if (file_exists(out + "ACMELIST.dbt"))
    copy_file_replace(out + "ACMELIST.dbt", companion_dbt(lastMonth));

  std::string text = testkit::read_bytes(sample("acme-pricelist.csv"));
  auto change = [&](const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
  };
  change("AC-1002,\"Duplex receptacle, 20A 125V, ivory\",$3.95,$1.78,EA,012345600024,0.13\n", "");
  change("AC-1101,3-way switch 15A,$3.29", "AC-1101,3-way switch 15A,$329.00");
  change("Single pole switch 15A", "Single pole switch 20A");
  change("AC-9000,", "AC-7777,New part,$5.00,$2.00,EA,,\nAC-9000,");
  const std::string next = from_fs_path(tf.root() / "next-month.csv");
  std::ofstream(to_fs_path(next), std::ios::binary) << text;
  const std::string reportPath = from_fs_path(tf.root() / "report.json");
  Outcome r = run(buildArgs(next) + " --report " + q(reportPath));
  ASSERT_EQ(r.code, 0) << r.err;

  // The two files as another reader sees them.
  const auto was = parts_by_number(lastMonth), now = parts_by_number(out + "ACMELIST.dbf");
  std::int64_t added = 0, removed = 0, changed = 0, unchanged = 0;
  for (const auto& [part, p] : now) {
    auto it = was.find(part);
    if (it == was.end())
      ++added;
    else if (it->second == p)
      ++unchanged;
    else
      ++changed;
  }
  for (const auto& [part, p] : was) removed += now.count(part) == 0;
  const nlohmann::json c = read_json(reportPath)["comparison"];
  ASSERT_TRUE(c.is_object()) << c;
  EXPECT_EQ(c["previous_records"], static_cast<std::int64_t>(was.size()));
  EXPECT_EQ(c["added"], added);
  EXPECT_EQ(c["removed"], removed);
  EXPECT_EQ(c["changed"], changed);
  EXPECT_EQ(c["unchanged"], unchanged);
  EXPECT_EQ(c["duplicates"], 0);
  EXPECT_EQ((std::vector<std::int64_t>{added, removed, changed}),
            (std::vector<std::int64_t>{1, 1, 2}));
  // Each change names its field with both values; the hundredfold price comes first.
  ASSERT_EQ(c["changes"].size(), 2u);
  for (const auto& ch : c["changes"]) {
    const PricePart& a = was.at(ch["part"]);
    const PricePart& b = now.at(ch["part"]);
    const std::string field = ch["field"];
    EXPECT_EQ(ch["old"], field == "DESCRIPTN" ? a.description : a.list);
    EXPECT_EQ(ch["new"], field == "DESCRIPTN" ? b.description : b.list);
  }
  ASSERT_EQ(c["suspicious"].size(), 1u);
  EXPECT_EQ(c["suspicious"][0]["part"], "AC-1101");
  EXPECT_EQ(c["suspicious"][0]["field"], "LISTPRICE");
}

TEST_F(CliBuild, NulBytesLeftOutOfATextSourceAreNamedInTheReport) {
  importConfig(config({{"STARTEXPRT", "3"}}));
  std::string text = testkit::read_bytes(sample("acme-pricelist.csv"));
  const std::size_t at = text.find("Single pole switch");
  ASSERT_NE(at, std::string::npos);
  text.insert(at + 6, std::string(1, '\0'));
  const std::string src = from_fs_path(tf.root() / "with-nul.csv");
  std::ofstream(to_fs_path(src), std::ios::binary) << text;
  const std::string reportPath = from_fs_path(tf.root() / "with-nul.json");
  Outcome r = run(buildArgs(src) + " --report " + q(reportPath));
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json notes = read_json(reportPath)["source"]["notes"];
  ASSERT_EQ(notes.size(), 1u) << notes;
  EXPECT_NE(notes[0].get<std::string>().find("1 NUL byte"), std::string::npos) << notes;
  bool found = false;
  for (const PricePart& p : read_price_file(out + "ACMELIST.dbf"))
    found = found || p.description.rfind("Single pole switch", 0) == 0;
  EXPECT_TRUE(found);
}

// Every file below the folders but a staging folder a killed build left for the next one.
std::map<std::string, std::string> kept_files(const std::vector<std::string>& folders) {
  std::map<std::string, std::string> r;
  for (const auto& f : folders)
    for (const auto& [name, bytes] : testkit::folder_bytes(f))
      if (name.find(".building") == std::string::npos) r[f + name] = bytes;
  return r;
}

TEST_F(CliBuild, ASignalledOrKilledBuildLeavesEveryFileAsItWasAndASecondIsRefused) {
  importConfig(config({{"STARTEXPRT", "3"}}));
  ASSERT_EQ(run(buildArgs(sample("acme-pricelist.csv")) + " --vendor-info").code, 0);
  // A list long enough that the build is still walking when it is stopped.
  const std::string big = from_fs_path(tf.root() / "big.csv");
  {
    std::ofstream f(to_fs_path(big), std::ios::binary);
    f << "Big list\nPart Number,Description,List Price,Net Cost,Unit,UPC,Weight (lb)\n";
    for (int i = 0; i < 400000; ++i)
      f << "BG-" << i << ",Part number " << i << ",$" << i % 97 << ".25,$1.10,EA,0,0.1\n";
  }
  const std::string staged = out + "ACMELIST.building" + separator_string() + "ACMELIST.dbf";
  using Stop = testkit::Command::Stop;
  struct Case {
    const char* what;
    Stop stop;
    const char* message;  // empty: killed, says nothing
  } cases[] = {
#ifndef _WIN32
      {"SIGTERM", Stop::Terminate, "Build cancelled"},
      {"SIGINT", Stop::Interrupt, "Build cancelled"},
#endif
      {"killed", Stop::Kill, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = kept_files({out, data});
    std::vector<std::string> argv = {testkit::bin_file("quillmere-import"), "--program-folder",
                                     prog};
    for (auto& w : testkit::split_words(buildArgs(big) + " --vendor-info"))
      argv.push_back(std::move(w));
    testkit::Command cmd{argv};
    cmd.stop = c.stop;
    bool refused = false;
    // Stopped once the walk has written part of the new file, however fast the machine is.
    cmd.stop_when = [&](std::string_view) {
      std::error_code ec;
      if (std::filesystem::file_size(to_fs_path(staged), ec) < 256 * 1024 || ec) return false;
      // A second build of the same file meanwhile is refused and changes nothing.
      Outcome second = run(buildArgs(sample("acme-pricelist.csv")) + " --vendor-info");
      EXPECT_EQ(second.code, 1);
      EXPECT_NE(second.err.find("ACMELIST.dbf is in use by another import"), std::string::npos)
          << second.err;
      refused = true;
      return true;
    };
    const Outcome r = testkit::run_process(cmd);
    ASSERT_TRUE(r.stopped) << "the build ended before it was stopped: " << r.err;
    EXPECT_TRUE(refused);
    if (*c.message) {
      EXPECT_EQ(r.code, 1);
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.code, -1);
    }
    EXPECT_EQ(kept_files({out, data}), before);
    for (const auto& [path, bytes] : kept_files({out, data}))
      if (iequals(extension_of(path), ".dbf")) {
        EXPECT_EQ(testkit::why_not_whole(path), "");
      }
  }
  // The next build clears what the killed one left and completes.
  ASSERT_EQ(run(buildArgs(sample("acme-pricelist.csv")) + " --vendor-info").code, 0);
  EXPECT_FALSE(std::filesystem::exists(to_fs_path(out + "ACMELIST.building")));
}

}  // namespace
