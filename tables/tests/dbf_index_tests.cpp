// Tables with a production index: opening it, moving and searching in tag order, adding a
// tag, and keeping every tag right through appends, edits and deletes (checked by Perl's
// XBase::Index as an independent reader).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

#include "core/error.h"
#include "core/paths.h"
#include "core/tests/run_process.h"
#include "tables/dbf_table.h"
#include "tables/mdx.h"
#include "tables/tests/test_util.h"

using namespace qm::tables;
using qm::tables::test::ScratchDir;

namespace {

bool perl_xbase() {
  return qm::testkit::program_succeeds({"perl", "-MXBase::Index", "-e1"});
}

std::string hex(std::string_view s) {
  static const char* d = "0123456789abcdef";
  std::string r;
  for (unsigned char c : s) r += d[c >> 4], r += d[c & 15];
  return r;
}

std::vector<std::pair<std::string, std::uint32_t>> perl_entries(const std::string& mdx,
                                                                const std::string& tag) {
  qm::testkit::Outcome run =
      qm::testkit::run_process({{"perl", QM_SOURCE_DIR "/tables/tests/mdx_keys.pl", mdx, tag}});
  EXPECT_EQ(run.code, 0) << run.err;
  std::istringstream in(run.out + run.err);
  std::vector<std::pair<std::string, std::uint32_t>> r;
  std::string line;
  while (std::getline(in, line)) {
    auto tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << "perl: " << line;
      continue;
    }
    r.emplace_back(line.substr(0, tab),
                   static_cast<std::uint32_t>(std::stoul(line.substr(tab + 1))));
  }
  return r;
}

std::string pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

// 45 fields as the registration lists have them, `file` first.
std::vector<FieldDef> filelist_fields() {
  std::vector<FieldDef> f = {{"file", 'C', 8, 0}, {"COMPANY", 'C', 30, 0}, {"UPDATE", 'C', 10, 0}};
  while (f.size() < 45) {
    std::string name = std::to_string(f.size());
    name.insert(name.begin(), 'F');
    f.push_back({name, 'C', 6, 0});
  }
  return f;
}

std::vector<FieldDef> vendor_fields() {
  return {{"CODE", 'C', 10, 0},      {"COMPANY", 'C', 40, 0},    {"ID", 'C', 10, 0},
          {"INVTLINK", 'C', 10, 0},  {"ALIASNAME1", 'C', 20, 0}, {"EXTRA2", 'C', 10, 0},
          {"US_COMPANY", 'L', 1, 0}, {"SERIAL_Y_N", 'C', 1, 0}};
}

void add_vendor(DbfTable& t, const std::string& code, const std::string& company,
                const std::string& id) {
  t.append();
  t.fieldByName("CODE").setAsString(code);
  t.fieldByName("COMPANY").setAsString(company);
  t.fieldByName("ID").setAsString(id);
  t.post();
}

std::vector<std::string> walk(DbfTable& t, const char* field) {
  std::vector<std::string> r;
  for (t.first(); !t.eof(); t.next()) r.push_back(t.fieldByName(field).asString());
  return r;
}

std::vector<std::string> walk_back(DbfTable& t, const char* field) {
  std::vector<std::string> r;
  t.last();
  while (t.recNo() != 0) {
    r.push_back(t.fieldByName(field).asString());
    t.prior();
    if (t.bof()) break;
  }
  return r;
}

}  // namespace

TEST(DbfIndex, AddIndexNeedsExclusiveUseAndMarksTheTable) {
  ScratchDir dir;
  test::make_table(dir, "filelist.dbf", filelist_fields());
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("filelist");
  t.open();
  for (const char* id : {"XYZ", "ABC", "MMM"}) {
    t.append();
    t.fieldByName("file").setAsString(id);
    t.post();
  }
  EXPECT_THROW(t.addIndex("file", "file"), qm::TableError);
  t.close();
  t.setExclusive(true);
  t.open();
  EXPECT_THROW(t.addIndex("file", "nosuch"), qm::TableError);
  t.addIndex("file", "file");
  t.close();
  t.setExclusive(false);

  std::string dbf = test::read_bytes(dir.file("filelist.dbf"));
  EXPECT_EQ(dbf[28], 1);
  EXPECT_EQ(dbf[68 + 37], 1);                                 // the `file` field's flag
  EXPECT_EQ(dbf[68 + 48 + 37], 0);                            // and no other
  EXPECT_EQ(t.tagNames(), std::vector<std::string>{"FILE"});  // read from the files, closed
  t.open();
  EXPECT_EQ(t.tagNames(), std::vector<std::string>{"FILE"});
  t.setIndexName("File");
  EXPECT_EQ(walk(t, "file"), (std::vector<std::string>{"ABC", "MMM", "XYZ"}));
  EXPECT_EQ(walk_back(t, "file"), (std::vector<std::string>{"XYZ", "MMM", "ABC"}));
  t.setIndexName("");
  EXPECT_EQ(walk(t, "file"), (std::vector<std::string>{"XYZ", "ABC", "MMM"}));
  try {
    t.setIndexName("company");
    ADD_FAILURE() << "unknown tag accepted";
  } catch (const qm::TableError& e) {
    EXPECT_NE(std::string(e.what()).find("company"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("filelist"), std::string::npos) << e.what();
  }
  t.close();

  // Without its index file the table does not open.
  std::filesystem::rename(dir.file("filelist.mdx"), dir.file("elsewhere.bin"));
  try {
    t.open();
    ADD_FAILURE() << "opened without its index";
  } catch (const qm::TableError& e) {
    EXPECT_NE(std::string(e.what()).find("filelist.mdx"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("filelist.dbf"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(t.active());
  // Found without regard to case.
  std::filesystem::rename(dir.file("elsewhere.bin"), dir.file("FILELIST.MDX"));
  t.open();
  EXPECT_EQ(t.tagNames().size(), 1u);
}

TEST(DbfIndex, FindOrAddUpdatesKeepTheFileTagRight) {
  ScratchDir dir;
  test::make_table(dir, "filelist.dbf", filelist_fields());
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("filelist.dbf");
  t.setExclusive(true);
  t.open();
  t.addIndex("file", "file");
  t.close();
  t.setExclusive(false);
  t.open();

  std::mt19937 rng(17);
  std::map<std::uint32_t, std::string> keyOf;  // record -> `file`
  for (int batch = 0; batch < 6; ++batch) {
    for (int u = 0; u < 60; ++u) {
      char id[8];
      std::snprintf(id, sizeof id, "M%03u", static_cast<unsigned>(rng() % 150));
      // Find or add, scanning from the first record as the registration does.
      t.first();
      while (!t.eof() && t.fieldByName("file").asString() != id) t.next();
      if (!t.eof()) {
        t.edit();
      } else {
        t.append();
        t.fieldByName("file").setAsString(id);
      }
      t.fieldByName("COMPANY").setAsString("Batch " + std::to_string(batch));
      t.post();
      keyOf[static_cast<std::uint32_t>(t.recNo())] = id;
      // Now and then a record changes its key, or is deleted (and stays indexed).
      if (u % 15 == 7) {
        t.edit();
        std::string moved = "R" + std::to_string(batch) + std::to_string(u);
        t.fieldByName("file").setAsString(moved);
        t.post();
        keyOf[static_cast<std::uint32_t>(t.recNo())] = moved;
      } else if (u % 20 == 3) {
        t.deleteRecord();
      }
    }
    std::vector<MdxEntry> want;
    for (const auto& [rec, key] : keyOf) want.push_back({pad(key, 8), rec});
    std::sort(want.begin(), want.end(), [](const MdxEntry& a, const MdxEntry& b) {
      return a.key != b.key ? a.key < b.key : a.recNo < b.recNo;
    });
    auto mdx = MdxFile::open(dir.file("filelist.mdx"), false);
    ASSERT_EQ(mdx.entries(0), want) << "batch " << batch;
    EXPECT_NO_THROW(mdx.check(0));
    if (perl_xbase()) {
      std::vector<std::pair<std::string, std::uint32_t>> hexWant;
      for (const auto& e : want) hexWant.emplace_back(hex(e.key), e.recNo);
      EXPECT_EQ(perl_entries(dir.file("filelist.mdx"), "FILE"), hexWant) << "batch " << batch;
    }
  }
  // In index order the live records come sorted; deleted ones are passed over.
  t.setIndexName("file");
  auto order = walk(t, "file");
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(static_cast<std::int64_t>(order.size()), t.recordCount());
}

TEST(DbfIndex, VendorTagsOrderAndNearestMatches) {
  ScratchDir dir;
  test::make_table(dir, "prvendor.DBF", vendor_fields());
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("prvendor.DBF");
  t.setExclusive(true);
  t.open();
  add_vendor(t, "V300", "ACME SUPPLY", "77");
  add_vendor(t, "V100", "ABBOT", "12");
  add_vendor(t, "V200", "ACE TOOLS", "5");
  t.addIndex("COMPANY", "COMPANY");
  t.addIndex("ID", "ID");
  t.addIndex("CODE", "CODE");
  add_vendor(t, "V050", "BETA WORKS", "90");  // after the tags: maintained, not rebuilt
  add_vendor(t, "V400", "ADAMS", "33");
  t.close();
  t.setExclusive(false);
  t.setIndexName("Company");
  t.open();  // opens in the chosen order
  EXPECT_EQ(t.fieldByName("COMPANY").asString(), "ABBOT");
  EXPECT_EQ(walk(t, "COMPANY"),
            (std::vector<std::string>{"ABBOT", "ACE TOOLS", "ACME SUPPLY", "ADAMS", "BETA WORKS"}));
  struct Case {
    const char* tag;
    const char* field;
    const char* typed;
    const char* lands;  // "" = at the end
  } cases[] = {
      {"company", "company", "A", "ABBOT"},
      {"company", "company", "AC", "ACE TOOLS"},
      {"company", "company", "ACM", "ACME SUPPLY"},
      {"company", "company", "B", "BETA WORKS"},
      {"company", "company", "Z", ""},
      {"id", "ID", "3", "33"},
      {"id", "ID", "8", "90"},
      {"code", "Code", "V1", "V100"},
      {"code", "Code", "V", "V050"},
      {"code", "Code", "V401", ""},
  };
  for (const auto& c : cases) {
    t.setIndexName(c.tag);
    t.setKey();
    t.fieldByName(c.field).setAsString(c.typed);
    t.gotoNearest();
    if (*c.lands) {
      EXPECT_FALSE(t.eof()) << c.tag << " " << c.typed;
      EXPECT_EQ(t.fieldByName(c.field).asString(), c.lands) << c.tag << " " << c.typed;
    } else {
      EXPECT_TRUE(t.eof()) << c.tag << " " << c.typed;
    }
  }
  t.setIndexName("code");
  t.setKey();
  t.fieldByName("code").setAsString("V200");
  EXPECT_TRUE(t.gotoKey());
  EXPECT_EQ(t.fieldByName("COMPANY").asString(), "ACE TOOLS");
  t.setKey();
  t.fieldByName("code").setAsString("V2");
  EXPECT_FALSE(t.gotoKey());
  EXPECT_EQ(t.fieldByName("COMPANY").asString(), "ACE TOOLS");  // stays where it was
  // An edit moves the record in the order of its tag.
  t.edit();
  t.fieldByName("CODE").setAsString("V999");
  t.post();
  EXPECT_EQ(walk(t, "CODE"), (std::vector<std::string>{"V050", "V100", "V300", "V400", "V999"}));
  if (perl_xbase()) {
    // Beside PRVENDOR.DBF the index is named in upper case too.
    std::string mdx = qm::resolve_path(dir.file("prvendor.mdx"));
    EXPECT_EQ(qm::file_name_of(mdx), "prvendor.MDX");
    auto codes = perl_entries(mdx, "CODE");
    ASSERT_EQ(codes.size(), 5u);
    EXPECT_EQ(codes.back().first, hex(pad("V999", 10)));
    EXPECT_EQ(perl_entries(mdx, "COMPANY").size(), 5u);
  }
}

TEST(DbfIndex, TagsOfOtherProgramsAreKeptOrRefused) {
  ScratchDir dir;
  test::make_table(dir, "prvendor.dbf", vendor_fields());
  {
    DbfTable t;
    t.setFolder(dir.str());
    t.setTableName("prvendor");
    t.open();
    add_vendor(t, "V1", "acme supply", "1");
    add_vendor(t, "V2", "Abbot", "2");
  }
  // An index another program made: UPPER() and a joined key, over the two records.
  auto make_index = [&](bool withUnknown) {
    auto m = MdxFile::create(dir.file("prvendor.mdx"), "PRVENDOR");
    m.addTag({"UCOMP", "UPPER(COMPANY)", KeyType::Character, 40, false},
             {{pad("ACME SUPPLY", 40), 1}, {pad("ABBOT", 40), 2}});
    m.addTag({"CODEID", "CODE+ID", KeyType::Character, 20, false},
             {{pad("V1", 10) + pad("1", 10), 1}, {pad("V2", 10) + pad("2", 10), 2}});
    if (withUnknown) m.addTag({"LEFT3", "LEFT(COMPANY,3)", KeyType::Character, 3, false}, {});
    std::string dbf = test::read_bytes(dir.file("prvendor.dbf"));
    dbf[28] = 1;
    test::write_bytes(dir.file("prvendor.dbf"), dbf);
  };
  make_index(false);
  DbfTable t;
  t.setFolder(dir.str());
  t.setTableName("prvendor");
  t.open();
  add_vendor(t, "V3", "Ace Tools", "3");
  t.setIndexName("ucomp");
  t.setKey();
  t.fieldByName("COMPANY").setAsString("ac");  // typed lower case, searched upper case
  t.gotoNearest();
  EXPECT_EQ(t.fieldByName("COMPANY").asString(), "Ace Tools");
  t.edit();
  t.fieldByName("COMPANY").setAsString("zeta");
  t.post();
  EXPECT_EQ(walk(t, "COMPANY"), (std::vector<std::string>{"Abbot", "acme supply", "zeta"}));
  t.close();
  {
    auto m = MdxFile::open(dir.file("prvendor.mdx"), false);
    EXPECT_EQ(m.entries(1), (std::vector<MdxEntry>{{pad("V1", 10) + pad("1", 10), 1},
                                                   {pad("V2", 10) + pad("2", 10), 2},
                                                   {pad("V3", 10) + pad("3", 10), 3}}));
    EXPECT_EQ(m.entries(0).back(), (MdxEntry{pad("ZETA", 40), 3}));
  }

  // A tag whose key this engine cannot compute: the table opens, the tag is refused by name,
  // and writes are refused rather than leaving the tag stale.
  make_index(true);
  t.open();
  EXPECT_EQ(t.tagNames().size(), 3u);
  try {
    t.setIndexName("left3");
    ADD_FAILURE() << "unusable tag chosen";
  } catch (const qm::TableError& e) {
    EXPECT_NE(std::string(e.what()).find("LEFT3"), std::string::npos) << e.what();
  }
  t.setIndexName("UCOMP");
  EXPECT_EQ(walk(t, "COMPANY").size(), 2u);  // the new index holds the first two only
  t.append();
  t.fieldByName("CODE").setAsString("V9");
  EXPECT_THROW(t.post(), qm::TableError);
}
