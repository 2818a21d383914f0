#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

struct Outcome {
  int code;
  std::string out, err;
};

std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the program with arguments (and environment assignments in front) through the shell.
Outcome run(const std::string& args, const std::string& env = "") {
  auto dir = std::filesystem::temp_directory_path();
  std::string tag = std::to_string(std::random_device{}());
  auto out = dir / ("qm-cli-" + tag + ".out"), err = dir / ("qm-cli-" + tag + ".err");
  std::string cmd = env + " '" + std::string(QM_BIN_DIR) + "/quillmere-import' " + args + " >'" +
                    out.string() + "' 2>'" + err.string() + "'";
  int rc = std::system(cmd.c_str());
  Outcome r{(rc >> 8) & 0xff, slurp(out), slurp(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
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
            "Part,Description,Price,Qty,Added,InStock\n"
            "A-1,\"Bolt, hex\",3,10,3/5/2024,TRUE\n"
            "B-2,Nut,0.1,,12/31/2024,FALSE\n"
            "C-3,Washer \xC3\xA9"
            "cru,12.5,7,1/15/2025,TRUE\n"
            "D-4,\"Say \"\"hi\"\"\",1234567.891,-2,7/4/2026,FALSE\n");
  Outcome xls = run("dump " + fixture("same-content.xls") + " --no-header --sheet 'same-content$'");
  EXPECT_EQ(xls.code, 0) << xls.err;
  EXPECT_EQ(xls.out.substr(0, xls.out.find('\n')), "F1,F2,F3,F4,F5,F6");
  EXPECT_NE(xls.out.find("\nPart,Description,"), std::string::npos);
  Outcome sheets = run("sheets " + fixture("same-content.xls"));
  EXPECT_EQ(sheets.code, 0);
  EXPECT_EQ(sheets.out, "same-content$\n");
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
  Outcome noDao = run("sheets " + fixture("same-content.xls"), "QM_DAO_VERSIONS=");
  EXPECT_EQ(noDao.code, 1);
  EXPECT_EQ(noDao.err, "Cannot find DAO on your system!\n");
  Outcome noExcel = run("sheets " + fixture("same-content.xls"), "QM_DAO_NO_EXCEL=1");
  EXPECT_EQ(noExcel.code, 1);
  EXPECT_EQ(noExcel.err,
            "Import wizard has detected that there is NO Excel Jet drivers installed\r\non this "
            "PC. Please install the Jet drivers by installing Excel.\n");
  // Only the old engine: asking for 12.0 fails with the engine's version message.
  Outcome old = run("sheets " + fixture("same-content.xls"), "QM_DAO_VERSIONS=3.5");
  EXPECT_EQ(old.code, 1);
  EXPECT_EQ(old.err, "You does not have Microsoft DAO installed ot it is an OLD Version!\n");
}

}  // namespace
