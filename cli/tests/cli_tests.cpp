#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <sstream>

#include "cli/arguments.h"
#include "core/tests/run_process.h"

namespace {

using qm::testkit::Outcome;

// Runs the program with arguments written as in a shell (quotes group words) and with some
// environment variables set for it.
Outcome run(const std::string& args, std::vector<std::pair<std::string, std::string>> env = {}) {
  std::vector<std::string> argv = qm::testkit::split_words(args);
  argv.insert(argv.begin(), std::string(QM_BIN_DIR) + "/quillmere-import");
  return qm::testkit::run_process({argv, std::move(env)});
}

std::string fixture(const std::string& name) {
  return "'" + std::string(QM_SOURCE_DIR) + "/source/tests/fixtures/" + name + "'";
}

TEST(Cli, UsageAndHelp) {
  Outcome help = run("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("dump SOURCE [--sheet TABLE] [--no-header]"), std::string::npos);
  EXPECT_EQ(run("").code, 2);
  EXPECT_EQ(run("frobnicate").code, 2);
  EXPECT_EQ(run("dump").code, 2);
  EXPECT_EQ(run("dump a.csv --bogus").code, 2);
  EXPECT_EQ(run("sheets").code, 2);
  EXPECT_EQ(run("dump --help").code, 0);
}

TEST(Cli, DumpCsvAndXls) {
  Outcome csv = run("dump " + fixture("same-content.csv"));
  EXPECT_EQ(csv.code, 0) << csv.err;
  EXPECT_EQ(csv.out,
            qm::testkit::platform_lines("Part,Description,Price,Qty,Added,InStock\n"
                                        "A-1,\"Bolt, hex\",3,10,3/5/2024,TRUE\n"
                                        "B-2,Nut,0.1,,12/31/2024,FALSE\n"
                                        "C-3,Washer \xC3\xA9"
                                        "cru,12.5,7,1/15/2025,TRUE\n"
                                        "D-4,\"Say \"\"hi\"\"\",1234567.891,-2,7/4/2026,FALSE\n"));
  Outcome xls = run("dump " + fixture("same-content.xls") + " --no-header --sheet 'same-content$'");
  EXPECT_EQ(xls.code, 0) << xls.err;
  EXPECT_EQ(xls.out.substr(0, xls.out.find('\n') + 1),
            qm::testkit::platform_lines("F1,F2,F3,F4,F5,F6\n"));
  EXPECT_NE(xls.out.find("\nPart,Description,"), std::string::npos);
  Outcome sheets = run("sheets " + fixture("same-content.xls"));
  EXPECT_EQ(sheets.code, 0);
  EXPECT_EQ(sheets.out, qm::testkit::platform_lines("same-content$\n"));
}

TEST(Cli, FailedOpensExitOneWithTheEngineMessage) {
  Outcome missing = run("dump /nonexistent/folder/p.csv");
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("is not a valid path"), std::string::npos) << missing.err;
  Outcome sheet = run("dump " + fixture("same-content.xls") + " --sheet 'Nope$'");
  EXPECT_EQ(sheet.code, 1);
  EXPECT_NE(sheet.err.find("'Nope$'"), std::string::npos) << sheet.err;
  Outcome other = run("dump " + fixture("same-content.csv") + "x");
  EXPECT_EQ(other.code, 1);
  Outcome noDao = run("sheets " + fixture("same-content.xls"), {{"QM_DAO_VERSIONS", ""}});
  EXPECT_EQ(noDao.code, 1);
  EXPECT_EQ(noDao.err, qm::testkit::platform_lines("Cannot find DAO on your system!\n"));
  Outcome noExcel = run("sheets " + fixture("same-content.xls"), {{"QM_DAO_NO_EXCEL", "1"}});
  EXPECT_EQ(noExcel.code, 1);
  EXPECT_EQ(
      noExcel.err,
      qm::testkit::platform_lines(
          "Import wizard has detected that there is NO Excel Jet drivers installed\r\non this "
          "PC. Please install the Jet drivers by installing Excel.\n"));
  // Only the old engine: asking for 12.0 fails with the engine's version message.
  Outcome old = run("sheets " + fixture("same-content.xls"), {{"QM_DAO_VERSIONS", "3.5"}});
  EXPECT_EQ(old.code, 1);
  EXPECT_EQ(old.err, qm::testkit::platform_lines(
                         "You does not have Microsoft DAO installed ot it is an OLD Version!\n"));
}

// cmd.exe hands `--program-folder "C:\P\" build` over as one argument `C:\P" build`.
TEST(Cli, FolderOptionsGetBackTheQuoteWindowsSwallowed) {
  using Args = std::vector<std::string>;
  struct Case {
    Args given, mended;
  } cases[] = {
      {{"--program-folder", "C:\\P\" configs"}, {"--program-folder", "C:\\P\\", "configs"}},
      {{"--program-folder", "C:\\Preise M\xC3\xBCller\"  config  import\tx.config"},
       {"--program-folder", "C:\\Preise M\xC3\xBCller\\", "config", "import", "x.config"}},
      {{"build", "--dest", "D:\\out\" --manulist D:\\T\\Data\\", "--yes"},
       {"build", "--dest", "D:\\out\\", "--manulist", "D:\\T\\Data\\", "--yes"}},
      {{"build", "--manulist", "D:\\Data\"", "--dest", "E:\\x\""},
       {"build", "--manulist", "D:\\Data\\", "--dest", "E:\\x\\"}},
      // Only folder values: a quote elsewhere is the user's.
      {{"build", "--config", "The \"big\" one"}, {"build", "--config", "The \"big\" one"}},
      {{"--program-folder"}, {"--program-folder"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(qm::cli::mend_swallowed_quotes(c.given, '\\'), c.mended) << c.given.back();
}

TEST(Cli, PathsTypedWithSlashesGetThePlatformSeparator) {
  using Args = std::vector<std::string>;
  struct Case {
    Args given, native;
  } cases[] = {
      {{"--program-folder", "C:/P/", "build", "--config", "A/B", "--source", "C:/x/y.xlsx",
        "--dest", "D:/o/", "--manulist", "E:/T/Data", "--report", "r/j.json"},
       {"--program-folder", "C:\\P\\", "build", "--config", "A/B", "--source", "C:\\x\\y.xlsx",
        "--dest", "D:\\o\\", "--manulist", "E:\\T\\Data", "--report", "r\\j.json"}},
      {{"dump", "C:/a/b.csv", "--sheet", "S/1"}, {"dump", "C:\\a\\b.csv", "--sheet", "S/1"}},
      {{"config", "import", "C:/c/x.config"}, {"config", "import", "C:\\c\\x.config"}},
      {{"config", "export", "A/B", "--out", "C:/o.config"},
       {"config", "export", "A/B", "--out", "C:\\o.config"}},
      {{"build", "--source"}, {"build", "--source"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(qm::cli::native_path_arguments(c.given, '\\'), c.native) << c.given[0];
}

TEST(Cli, LineBreaksComeOutAsOneLineEnding) {
  struct Case {
    std::vector<std::string> writes;  // each flushed
    std::string eol, out;
  } cases[] = {
      {{"a\nb\r\nc\r\n"}, "\r\n", "a\r\nb\r\nc\r\n"},
      {{"a\r\nb\n"}, "\n", "a\nb\n"},
      // A progress line's own "\r" stays, also when a flush falls right after it.
      {{"\r12 rows", "\r", "\x1b[K", "done\n"}, "\r\n", "\r12 rows\r\x1b[Kdone\r\n"},
      {{"x\r\r\n"}, "\r\n", "x\r\r\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream sink;
    qm::cli::LineEndingBuf buf(sink.rdbuf(), c.eol);
    std::ostream os(&buf);
    for (const auto& w : c.writes) os << w << std::flush;
    EXPECT_EQ(sink.str(), c.out) << c.writes[0];
  }
}

}  // namespace
