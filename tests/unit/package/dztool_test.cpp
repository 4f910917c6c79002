// The package tool end to end: build, list, verify, extract, and verify on damaged packages.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "base/byte_reader.h"
#include "package/dz_format.h"
#include "package_test_util.h"
#include "platform/process_info.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

using tr52test::PatternData;
using tr52test::ReadAll;
using tr52test::WriteAll;

struct ToolResult {
  int status = -1;
  std::string out;
};

// Runs the dztool built beside this test program; stdout and stderr together.
ToolResult RunTool(const std::vector<std::string>& args) {
  std::string cmd = "'" + ExecutableDir() + "dztool'";
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " 2>&1";
  ToolResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class DzToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    amss_ = PatternData(300000, 1);
    logo_ = PatternData(4000, 2);
    WriteAll(dir_.File("amss.mbn"), amss_);
    WriteAll(dir_.File("logo.bin"), logo_);
    pkg_ = dir_.File("fw.dz");
    const ToolResult r = RunTool({"build", pkg_, "--version", "3", "--model", "TR52",
                                  "AMSS=" + dir_.File("amss.mbn") + ",enc",
                                  "FLEXIBLE_LOGO=" + dir_.File("logo.bin") + ",name=logo"});
    ASSERT_EQ(r.status, 0) << r.out;
  }

  tr52test::TempDir dir_;
  std::string pkg_;
  std::vector<uint8_t> amss_, logo_;
};

TEST_F(DzToolTest, ListShowsVersionModelAndEveryEntry) {
  const ToolResult r = RunTool({"list", pkg_});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("version: 3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("model:   TR52"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("AMSS"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("amss.mbn"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("300000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("FLEXIBLE LOGO"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" logo "), std::string::npos) << r.out;
}

TEST_F(DzToolTest, VerifyPassesAndExtractGivesTheImageBack) {
  ToolResult r = RunTool({"verify", pkg_});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("package is sound"), std::string::npos) << r.out;

  r = RunTool({"extract", pkg_, "AMSS", dir_.File("out.bin")});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ReadAll(dir_.File("out.bin")), amss_);
  r = RunTool({"extract", pkg_, "16", dir_.File("logo.out")});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ReadAll(dir_.File("logo.out")), logo_);

  r = RunTool({"extract", pkg_, "DBL", dir_.File("none")});
  EXPECT_NE(r.status, 0) << "the package holds no DBL image";
  r = RunTool({"extract", pkg_, "NO_SUCH_TYPE", dir_.File("none")});
  EXPECT_NE(r.status, 0);
}

// Model and sub-file names are the package maker's bytes: printed with controls (C0, DEL, C1)
// and bytes that are not UTF-8 escaped, so none reaches the terminal; other UTF-8 stays.
TEST_F(DzToolTest, NamesFromThePackageArePrintedEscaped) {
  const std::string pkg = dir_.File("odd.dz");
  ToolResult r = RunTool({"build", pkg, "--model", "TR52\x1b[2J\xc2\x9b",
                          "AMSS=" + dir_.File("amss.mbn") + ",name=am\xc2\x85ss\xff\xc3\xa9"});
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* command : {"list", "verify"}) {
    SCOPED_TRACE(command);
    r = RunTool({command, pkg});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("TR52\\x1b[2J\\xc2\\x9b"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("am\\xc2\\x85ss\\xff\xc3\xa9"), std::string::npos) << r.out;
    for (const char raw : {'\x1b', '\x9b', '\x85', '\xff'})
      EXPECT_EQ(r.out.find(raw), std::string::npos) << "raw byte " << int{raw};
  }
}

TEST_F(DzToolTest, VerifyFailsWithTheReadersMessageOnDamagedPackages) {
  const auto good = ReadAll(pkg_);
  struct Case {
    size_t at;  // from the start, or from the end when negative offsets are wanted
    bool fromEnd;
    const char* message;
  };
  const Case cases[] = {
      {1, true, "Error Invalid OFFSET_MAGIC2 of OffsetTable"},
      {10, true, "Error in HashCode(Offset Table)"},
      {30, false, "Error in hash value(main header."},
      {dz::kMainHeaderSize + 30, false, "Error Invalid Hash Code of Sub Header."},
  };
  for (const Case& c : cases) {
    auto bytes = good;
    bytes[c.fromEnd ? bytes.size() - c.at : c.at] ^= 0x55;
    WriteAll(pkg_, bytes);
    const ToolResult r = RunTool({"verify", pkg_});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.message << "\n" << r.out;
  }

  // Image data damaged: the digest of the image fails.
  auto bytes = good;
  StoreU32le(&bytes[dz::kMainHeaderSize + dz::kSubImageDigest], 0);
  DzRehashSubHeader(bytes, dz::kMainHeaderSize);
  WriteAll(pkg_, bytes);
  const ToolResult r = RunTool({"verify", pkg_});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(
      r.out.find("Error Reading Sub File : Fail to decompressed Header. Error Invalid Hash Code"),
      std::string::npos)
      << r.out;

  const ToolResult missing = RunTool({"verify", dir_.File("absent.dz")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("No such file"), std::string::npos) << missing.out;
}

// A bad command line is refused with status 2 and one line saying what is wrong; a number
// option with trailing junk is no number.
TEST_F(DzToolTest, BadCommandLinesAreRefusedInOneLine) {
  const std::string image = "AMSS=" + dir_.File("amss.mbn");
  const std::string out = dir_.File("new.dz");
  struct Row {
    std::vector<std::string> args;
    const char* says;
  };
  const std::vector<Row> rows = {
      {{}, "A subcommand is required"},
      {{"frobnicate"}, "frobnicate"},
      {{"list"}, "PACKAGE is required"},
      {{"extract", pkg_, "AMSS"}, "OUT is required"},
      {{"build", out, "--level", "x", image}, "--level"},
      {{"build", out, "--level", "12", image}, "--level"},
      {{"build", out, "--version", "2x", image}, "--version"},
      {{"build", out}, "IMAGES is required"},
      {{"build", out, "AMSS"}, "expected TYPE=FILE"},
      {{"build", out, "NOPE=" + dir_.File("amss.mbn")}, "unknown image type 'NOPE'"},
      {{"build", out, image + ",zip"}, "unknown image flag 'zip'"},
  };
  for (const Row& row : rows) {
    const ToolResult r = RunTool(row.args);
    std::string joined;
    for (const auto& a : row.args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined << r.out;
    EXPECT_NE(r.out.find(row.says), std::string::npos) << joined << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << joined << r.out;
  }
  EXPECT_FALSE(std::ifstream(out)) << "nothing built from a bad command line";
  const ToolResult help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--level"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace tr52
