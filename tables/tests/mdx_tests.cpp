// The production index: key formats and expressions, and trees built, grown and shrunk here,
// read back by Perl's XBase::Index as an independent reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "core/error.h"
#include "core/tests/run_process.h"
#include "tables/mdx.h"

using namespace qm::tables;
namespace fs = std::filesystem;

namespace {

fs::path temp_dir() {
  fs::path d =
      fs::temp_directory_path() /
      ("qm_mdx_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

bool perl_xbase() {
  static int ok = -1;
  if (ok < 0) ok = qm::testkit::program_succeeds({"perl", "-MXBase::Index", "-e1"});
  return ok == 1;
}

std::string hex(std::string_view s) {
  static const char* d = "0123456789abcdef";
  std::string r;
  for (unsigned char c : s) r += d[c >> 4], r += d[c & 15];
  return r;
}

// Entries as Perl reads them: (hex key, record) from the start or from the first key >= start.
std::vector<std::pair<std::string, std::uint32_t>> perl_entries(
    const fs::path& mdx, const std::string& tag, const std::string* start = nullptr) {
  std::vector<std::string> cmd = {"perl", QM_SOURCE_DIR "/tables/tests/mdx_keys.pl", mdx.string(),
                                  tag};
  if (start) cmd.push_back(*start);
  qm::testkit::Outcome run = qm::testkit::run_process({cmd});
  int rc = run.code;
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
  EXPECT_EQ(rc, 0) << run.err;
  return r;
}

std::vector<std::pair<std::string, std::uint32_t>> as_hex(const std::vector<MdxEntry>& es) {
  std::vector<std::pair<std::string, std::uint32_t>> r;
  for (const auto& e : es) r.emplace_back(hex(e.key), e.recNo);
  return r;
}

std::string pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

// The expected content of a character tag: (key, record) sorted.
using Model = std::set<std::pair<std::string, std::uint32_t>>;
std::vector<MdxEntry> model_entries(const Model& m) {
  std::vector<MdxEntry> r;
  for (const auto& [k, rn] : m) r.push_back({k, rn});
  return r;
}

std::string random_key(std::mt19937& rng, size_t len) {
  std::string s;
  size_t n = 1 + rng() % len;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('A' + rng() % 6);
  return pad(s, len);
}

void expect_perl_agrees(const fs::path& mdx, MdxFile& f, int tag, const Model& model) {
  auto ours = f.entries(tag);
  ASSERT_EQ(ours, model_entries(model));
  EXPECT_NO_THROW(f.check(tag));
  EXPECT_EQ(f.tags()[tag].name.size() > 0, true);
  if (!perl_xbase()) return;
  EXPECT_EQ(perl_entries(mdx, f.tags()[tag].name), as_hex(ours));
}

std::uint32_t header_pages(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  unsigned char h[36];
  in.read(reinterpret_cast<char*>(h), 36);
  return h[32] | h[33] << 8 | h[34] << 16 | std::uint32_t(h[35]) << 24;
}

}  // namespace

// --- keys ---

TEST(MdxKeys, NumericKeyBytes) {
  struct Case {
    const char* text;
    std::vector<int> bytes;  // leading bytes; the rest are zero
  } cases[] = {
      {"12.5", {0x36, 0x0D, 0x12, 0x50}},
      {"  12.50", {0x36, 0x0D, 0x12, 0x50}},
      {"0", {0x34, 0x01}},
      {"", {0x34, 0x01}},
      {"-0.00", {0x34, 0x01}},
      {"100", {0x37, 0x0D, 0x10, 0x00}},
      {"-12.5", {0x36, 0x8D, 0x12, 0x50}},
      {"0.00123", {0x32, 0x15, 0x12, 0x30}},
      {"7", {0x35, 0x05, 0x70}},
  };
  for (const auto& c : cases) {
    std::string k = numeric_key(c.text);
    ASSERT_EQ(k.size(), 12u);
    std::string want(12, '\0');
    for (size_t i = 0; i < c.bytes.size(); ++i) want[i] = static_cast<char>(c.bytes[i]);
    EXPECT_EQ(hex(k), hex(want)) << c.text;
  }
}

TEST(MdxKeys, NumericOrderIsByValue) {
  std::vector<double> values = {-1000, -12.5, -12.25, -1,   -0.5, -0.001, 0,   0.001, 0.05,
                                0.5,   0.75,  1,      9.99, 10,   12.5,   100, 1e6,   123456789.25};
  for (double a : values)
    for (double b : values) {
      std::ostringstream sa, sb;
      sa.precision(12), sb.precision(12);
      sa << std::fixed << a, sb << std::fixed << b;
      int c = compare_keys(KeyType::Numeric, numeric_key(sa.str()), numeric_key(sb.str()));
      EXPECT_EQ(c, a < b ? -1 : (a > b ? 1 : 0)) << a << " vs " << b;
    }
  for (const char* t : {"12.5", "-0.001", "0", "100", "123456789.25", "-7"})
    EXPECT_EQ(numeric_key_text(numeric_key(t)), t);
}

TEST(MdxKeys, DateKeys) {
  EXPECT_DOUBLE_EQ(date_key_value(date_key("20000101")), 2451545.0);
  EXPECT_DOUBLE_EQ(date_key_value(date_key("19700101")), 2440588.0);
  EXPECT_DOUBLE_EQ(date_key_value(date_key("        ")), 0.0);
  EXPECT_DOUBLE_EQ(date_key_value(date_key("20230230")), 0.0);
  EXPECT_LT(compare_keys(KeyType::Date, date_key("19991231"), date_key("20000101")), 0);
  EXPECT_LT(compare_keys(KeyType::Date, date_key(""), date_key("19000101")), 0);
}

TEST(MdxKeys, UpperCaseInCodePages) {
  EXPECT_EQ(upper_in_codepage("abc xyz 09", 1252), "ABC XYZ 09");
  EXPECT_EQ(upper_in_codepage("\xE9\xFF\x9A\xF7", 1252), "\xC9\x9F\x8A\xF7");  // é ÿ š ÷
  EXPECT_EQ(upper_in_codepage("\x84\x81", 437), "\x8E\x9A");                   // ä ü
  EXPECT_EQ(upper_in_codepage("\xA0\x84", 850), "\xB5\x8E");                   // á ä
  EXPECT_EQ(upper_in_codepage("\xE9", 866), "\xE9");
}

TEST(MdxKeys, Expressions) {
  std::vector<KeyField> fields = {
      {"COMPANY", 'C', 1, 6, 0}, {"code", 'C', 7, 3, 0}, {"PRICE", 'N', 10, 6, 2},
      {"DAY", 'D', 16, 8, 0},    {"OK", 'L', 24, 1, 0},
  };
  std::string record =
      " acme! x1  12.50"
      "20240301"
      "T";
  struct Case {
    const char* expr;
    KeyType type;
    int length;
    std::string key;
    int single;
  } cases[] = {
      {"COMPANY", KeyType::Character, 6, "acme! ", 0},
      {"upper( company )", KeyType::Character, 6, "ACME! ", -1},
      {"CODE+COMPANY", KeyType::Character, 9, "x1 acme! ", -1},
      {"UPPER(CODE)+UPPER(COMPANY)", KeyType::Character, 9, "X1 ACME! ", -1},
      {"UPPER(CODE + 'z')", KeyType::Character, 4, "X1 Z", -1},
      {"DTOS(DAY)+CODE", KeyType::Character, 11, "20240301x1 ", -1},
      {"PRICE", KeyType::Numeric, 12, numeric_key("12.5"), 2},
      {"day", KeyType::Date, 8, date_key("20240301"), 3},
  };
  for (const auto& c : cases) {
    std::string why;
    auto e = KeyExpression::compile(c.expr, fields, &why);
    ASSERT_TRUE(e) << c.expr << ": " << why;
    EXPECT_EQ(e->type(), c.type) << c.expr;
    EXPECT_EQ(e->length(), c.length) << c.expr;
    EXPECT_EQ(e->evaluate(record, 1252), c.key) << c.expr;
    EXPECT_EQ(e->singleField(), c.single) << c.expr;
  }
  for (const char* bad : {"LEFT(COMPANY,3)", "COMPANY-CODE", "NOSUCH", "PRICE+CODE", "OK",
                          "UPPER(PRICE)", "UPPER(COMPANY", "COMPANY CODE", "'open", ""}) {
    std::string why;
    EXPECT_FALSE(KeyExpression::compile(bad, fields, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

// --- trees ---

TEST(MdxTree, BulkBuiltTreesOfOneTwoAndThreeLevels) {
  auto dir = temp_dir();
  struct Case {
    int keyLength;
    int count;
    int depth;
  } cases[] = {{10, 40, 1}, {10, 400, 2}, {10, 5000, 3}, {50, 1000, 3}};
  std::mt19937 rng(7);
  for (const auto& c : cases) {
    fs::path p = dir / ("t" + std::to_string(c.count) + ".mdx");
    auto f = MdxFile::create(p.string(), "T");
    Model model;
    std::vector<MdxEntry> in;
    for (int i = 1; i <= c.count; ++i) {
      std::string k = random_key(rng, c.keyLength);
      model.insert({k, i});
      in.push_back({k, static_cast<std::uint32_t>(i)});
    }
    int tag = f.addTag({"NAME", "NAME", KeyType::Character, c.keyLength}, in);
    EXPECT_EQ(f.depth(tag), c.depth) << c.count;
    expect_perl_agrees(p, f, tag, model);
    EXPECT_EQ(header_pages(p) * 512, fs::file_size(p));
  }
}

TEST(MdxTree, InsertsSplitLeavesAndRootAndAgreeWithPerl) {
  auto dir = temp_dir();
  std::mt19937 rng(11);
  for (bool sequential : {true, false}) {
    fs::path p = dir / (sequential ? "seq.mdx" : "rand.mdx");
    auto f = MdxFile::create(p.string(), "T");
    int tag = f.addTag({"NAME", "NAME", KeyType::Character, 30}, {});
    EXPECT_EQ(f.depth(tag), 1);
    Model model;
    std::uint32_t rec = 0;
    for (int batch = 0; batch < 6; ++batch) {
      for (int i = 0; i < 250; ++i) {
        ++rec;
        char buf[16];
        std::snprintf(buf, sizeof buf, "K%06u", rec);
        std::string k = sequential ? pad(buf, 30) : random_key(rng, 30);
        f.insert(tag, k, rec);
        model.insert({k, rec});
      }
      expect_perl_agrees(p, f, tag, model);
      EXPECT_EQ(header_pages(p) * 512, fs::file_size(p));
    }
    // 1500 keys of 34-byte items: 29 per node, so the root has split into three levels.
    EXPECT_EQ(f.depth(tag), 3);
    // Reopened, the file reads the same.
    auto again = MdxFile::open(p.string());
    EXPECT_EQ(again.entries(0), model_entries(model));
  }
}

TEST(MdxTree, DeletesAndMovedKeysKeepOrderAndSeparators) {
  auto dir = temp_dir();
  fs::path p = dir / "edit.mdx";
  std::mt19937 rng(5);
  auto f = MdxFile::create(p.string(), "T");
  Model model;
  std::vector<MdxEntry> in;
  std::vector<std::string> keyOf(1201);
  for (std::uint32_t i = 1; i <= 1200; ++i) {
    keyOf[i] = random_key(rng, 20);
    model.insert({keyOf[i], i});
    in.push_back({keyOf[i], i});
  }
  int tag = f.addTag({"NAME", "NAME", KeyType::Character, 20}, in);
  for (int batch = 0; batch < 5; ++batch) {
    for (int i = 0; i < 150; ++i) {
      std::uint32_t r = 1 + rng() % 1200;
      std::string moved = random_key(rng, 20);
      ASSERT_TRUE(f.remove(tag, keyOf[r], r));
      EXPECT_FALSE(f.contains(tag, keyOf[r], r));
      model.erase({keyOf[r], r});
      keyOf[r] = moved;
      f.insert(tag, moved, r);
      model.insert({moved, r});
    }
    expect_perl_agrees(p, f, tag, model);
  }
  EXPECT_FALSE(f.remove(tag, pad("NOT THERE", 20), 3));
  // Remove the highest keys one by one: each leaves a new last key that the separators follow.
  for (int i = 0; i < 300; ++i) {
    auto last = *model.rbegin();
    ASSERT_TRUE(f.remove(tag, last.first, last.second));
    model.erase(last);
    auto seekLast = f.seek(tag, last.first);
    EXPECT_FALSE(seekLast && seekLast->key == last.first && seekLast->recNo == last.second);
  }
  expect_perl_agrees(p, f, tag, model);
  // Emptying the tag entirely collapses the tree to an empty root leaf.
  for (const auto& [k, r] : Model(model)) ASSERT_TRUE(f.remove(tag, k, r));
  EXPECT_TRUE(f.entries(tag).empty());
  EXPECT_FALSE(f.first(tag));
  EXPECT_EQ(f.depth(tag), 1);
  f.insert(tag, "AGAIN", 7);
  EXPECT_EQ(f.entries(tag).size(), 1u);
}

TEST(MdxTree, DuplicatesStayInRecordOrder) {
  auto dir = temp_dir();
  fs::path p = dir / "dup.mdx";
  auto f = MdxFile::create(p.string(), "T");
  int tag = f.addTag({"FILE", "FILE", KeyType::Character, 8}, {});
  std::mt19937 rng(3);
  std::vector<std::uint32_t> recs(400);
  for (std::uint32_t i = 0; i < recs.size(); ++i) recs[i] = i + 1;
  std::shuffle(recs.begin(), recs.end(), rng);
  Model model;
  for (std::uint32_t r : recs) {
    std::string k = pad(r % 3 == 0 ? "SAME" : (r % 3 == 1 ? "ALSO" : "ZED"), 8);
    f.insert(tag, k, r);
    model.insert({k, r});
  }
  expect_perl_agrees(p, f, tag, model);
  // Walking forward and back one entry at a time visits the same sequence.
  auto all = model_entries(model);
  auto e = f.first(tag);
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, all[i]);
    e = f.next(tag, e->key, e->recNo);
  }
  EXPECT_FALSE(e);
  e = f.last(tag);
  for (size_t i = all.size(); i-- > 0;) {
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, all[i]);
    e = f.prior(tag, e->key, e->recNo);
  }
  EXPECT_FALSE(e);
}

TEST(MdxTree, NearestSearchAgreesWithPerlAndTheModel) {
  auto dir = temp_dir();
  fs::path p = dir / "near.mdx";
  std::mt19937 rng(9);
  auto f = MdxFile::create(p.string(), "T");
  Model model;
  std::vector<MdxEntry> in;
  for (std::uint32_t i = 1; i <= 900; ++i) {
    std::string k = random_key(rng, 12);
    model.insert({k, i});
    in.push_back({k, i});
  }
  int tag = f.addTag({"COMPANY", "COMPANY", KeyType::Character, 12}, in);
  std::vector<std::string> probes = {"A", "AC", "B", "CAFE", "FFFFFFFFFFFF", "G", "", "DD", "EA"};
  for (const auto& probe : probes) {
    std::string key = pad(probe, 12);
    auto want = model.lower_bound({key, 0});
    auto got = f.seek(tag, key);
    if (want == model.end()) {
      EXPECT_FALSE(got) << probe;
    } else {
      ASSERT_TRUE(got) << probe;
      EXPECT_EQ(got->key, want->first) << probe;
      EXPECT_EQ(got->recNo, want->second) << probe;
    }
    if (perl_xbase() && !probe.empty()) {
      auto perl = perl_entries(p, "COMPANY", &probe);
      if (want == model.end()) {
        EXPECT_TRUE(perl.empty()) << probe;
      } else {
        ASSERT_FALSE(perl.empty()) << probe;
        EXPECT_EQ(perl.front().first, hex(want->first)) << probe;
        EXPECT_EQ(perl.front().second, want->second) << probe;
      }
    }
  }
}

TEST(MdxTree, NumericDateAndDescendingTags) {
  auto dir = temp_dir();
  fs::path p = dir / "types.mdx";
  auto f = MdxFile::create(p.string(), "T");
  std::vector<std::string> nums = {"12.5", "-3", "0", "0.25", "100", "-0.5", "7", "12.5", "-100"};
  std::vector<MdxEntry> in;
  for (std::uint32_t i = 0; i < nums.size(); ++i) in.push_back({numeric_key(nums[i]), i + 1});
  int num = f.addTag({"PRICE", "PRICE", KeyType::Numeric}, in);
  std::vector<std::string> order;
  for (const auto& e : f.entries(num)) order.push_back(numeric_key_text(e.key));
  EXPECT_EQ(order, (std::vector<std::string>{"-100", "-3", "-0.5", "0", "0.25", "7", "12.5", "12.5",
                                             "100"}));
  auto near = f.seek(num, numeric_key("-1"));
  ASSERT_TRUE(near);
  EXPECT_EQ(numeric_key_text(near->key), "-0.5");
  for (int i = 0; i < 200; ++i) f.insert(num, numeric_key(std::to_string(i % 17 - 8)), 100 + i);
  auto all = f.entries(num);
  EXPECT_EQ(all.size(), nums.size() + 200);
  for (size_t i = 1; i < all.size(); ++i)
    EXPECT_LE(compare_keys(KeyType::Numeric, all[i - 1].key, all[i].key), 0);

  std::vector<MdxEntry> dates;
  for (std::uint32_t i = 0; i < 30; ++i)
    dates.push_back(
        {date_key("202401" + std::string(30 - i < 10 ? "0" : "") + std::to_string(30 - i)), i + 1});
  int day = f.addTag({"DAY", "DAY", KeyType::Date}, dates);
  auto ds = f.entries(day);
  ASSERT_EQ(ds.size(), 30u);
  EXPECT_EQ(ds.front().recNo, 30u);
  EXPECT_EQ(ds.back().recNo, 1u);

  int desc = f.addTag({"NAMED", "NAME", KeyType::Character, 4, true, true},
                      {{"B", 1}, {"D", 2}, {"A", 3}});
  f.insert(desc, "C", 4);
  std::string seq;
  for (const auto& e : f.entries(desc)) seq += e.key[0];
  EXPECT_EQ(seq, "DCBA");
  auto d = f.seek(desc, "BZ");  // descending: the first key at or below
  ASSERT_TRUE(d);
  EXPECT_EQ(d->key[0], 'B');

  if (perl_xbase()) {
    EXPECT_EQ(perl_entries(p, "PRICE"), as_hex(f.entries(num)));
    EXPECT_EQ(perl_entries(p, "DAY"), as_hex(ds));
  }
  auto again = MdxFile::open(p.string());
  ASSERT_EQ(again.tags().size(), 3u);
  EXPECT_EQ(again.tags()[0].type, KeyType::Numeric);
  EXPECT_EQ(again.tags()[1].type, KeyType::Date);
  EXPECT_TRUE(again.tags()[2].descending);
  EXPECT_EQ(again.findTag("named"), 2);
  EXPECT_EQ(again.findTag("nope"), -1);
}

TEST(MdxTree, TagTableLinksAndRebuildReusesBlocks) {
  auto dir = temp_dir();
  fs::path p = dir / "tags.mdx";
  auto f = MdxFile::create(p.string(), "vendor");
  for (const char* name : {"MID", "CODE", "ZIP", "ADDR", "NAME"})
    f.addTag({name, name, KeyType::Character, 6}, {{"X", 1}});
  std::ifstream in(p, std::ios::binary);
  std::string h(2048, '\0');
  in.read(h.data(), 2048);
  auto link = [&](int slot, int which) {
    return static_cast<int>(h[544 + 32 * slot + 16 + which]);
  };
  // MID at the root; CODE left of it, ZIP right; ADDR left of CODE; NAME left of ZIP.
  EXPECT_EQ(link(0, 0), 2);
  EXPECT_EQ(link(0, 1), 3);
  EXPECT_EQ(link(1, 0), 4);
  EXPECT_EQ(link(1, 1), 0);
  EXPECT_EQ(link(1, 2), 1);
  EXPECT_EQ(link(2, 0), 5);
  EXPECT_EQ(link(3, 2), 2);
  EXPECT_EQ(link(4, 2), 3);
  EXPECT_EQ(link(0, 2), 0);
  EXPECT_EQ(h[28], 5);
  EXPECT_EQ(std::string(h.data() + 4), "VENDOR");
  if (perl_xbase()) {
    for (const char* name : {"MID", "CODE", "ZIP", "ADDR", "NAME"})
      EXPECT_EQ(perl_entries(p, name).size(), 1u);
  }

  std::vector<MdxEntry> many;
  for (std::uint32_t i = 1; i <= 800; ++i) many.push_back({std::to_string(i % 97), i});
  f.rebuildTag(4, many);
  auto size = fs::file_size(p);
  for (int round = 0; round < 3; ++round) f.rebuildTag(4, many);
  EXPECT_EQ(fs::file_size(p), size);
  EXPECT_EQ(f.entries(4).size(), 800u);
  if (perl_xbase()) {
    EXPECT_EQ(perl_entries(p, "NAME"), as_hex(f.entries(4)));
  }
  EXPECT_THROW(f.addTag({"code", "CODE", KeyType::Character, 6}, {}), qm::TableError);
  EXPECT_THROW(f.addTag({"TOOLONGNAME", "CODE", KeyType::Character, 6}, {}), qm::TableError);
}

// --- damaged files ---

TEST(MdxHostile, DamageIsReportedWithTheFileAndTheFault) {
  auto dir = temp_dir();
  fs::path p = dir / "good.mdx";
  {
    auto f = MdxFile::create(p.string(), "T");
    std::vector<MdxEntry> in;
    for (std::uint32_t i = 1; i <= 300; ++i) in.push_back({std::to_string(i), i});
    f.addTag({"NAME", "NAME", KeyType::Character, 10}, in);
  }
  std::ifstream in(p, std::ios::binary);
  std::string good((std::istreambuf_iterator<char>(in)), {});
  auto put32 = [](std::string& b, size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  std::uint32_t root;
  {
    auto f = MdxFile::fromBytes(good, "good.mdx");
    ASSERT_EQ(f.entries(0).size(), 300u);
    ASSERT_EQ(f.depth(0), 2);
    root = static_cast<unsigned char>(good[4 * 512]) | static_cast<unsigned char>(good[4 * 512 + 1])
                                                           << 8;
  }
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* says;
    bool atOpen;
  } cases[] = {
      {"truncated header", [](std::string& b) { b.resize(1000); }, "shorter than its header", true},
      {"block size", [](std::string& b) { b[22] = 0x07; }, "block size", true},
      {"tag count", [](std::string& b) { b[28] = 48; }, "48 tags", true},
      {"tag header page", [&](std::string& b) { put32(b, 544, 99999); }, "page 99999", true},
      {"key length", [](std::string& b) { b[4 * 512 + 12] = 0, b[4 * 512 + 13] = 0; }, "keys of 0",
       true},
      {"item length", [](std::string& b) { b[4 * 512 + 18] = 2; }, "items of 2", true},
      {"root outside", [&](std::string& b) { put32(b, 4 * 512, 1u << 30); }, "outside the file",
       false},
      {"too many keys", [&](std::string& b) { put32(b, root * 512, 5000); }, "claims 5000 keys",
       false},
      {"cycle",
       [&](std::string& b) {
         // The root's first child is made to point back at the root.
         std::uint32_t child = static_cast<unsigned char>(b[root * 512 + 8]) |
                               static_cast<unsigned char>(b[root * 512 + 9]) << 8;
         put32(b, child * 512, 1);
         put32(b, child * 512 + 8, root);
         put32(b, child * 512 + 8 + 16, root);
       },
       "cycle", false},
      {"truncated body", [](std::string& b) { b.resize(b.size() - 1024); }, "outside the file",
       false},
  };
  for (const auto& c : cases) {
    std::string bad = good;
    c.damage(bad);
    try {
      auto f = MdxFile::fromBytes(bad, "bad.mdx");
      EXPECT_FALSE(c.atOpen) << c.what << ": opened";
      f.entries(0);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const qm::TableError& e) {
      std::string msg = e.what();
      EXPECT_NE(msg.find("bad.mdx"), std::string::npos) << c.what << ": " << msg;
      EXPECT_NE(msg.find(c.says), std::string::npos) << c.what << ": " << msg;
    }
  }
  EXPECT_THROW(MdxFile::open((dir / "missing.mdx").string()), qm::TableError);
}
