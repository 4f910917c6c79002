#include "vphone/scenario.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace vphone {
namespace {

TEST(Scenario, ParsesKeyValueLinesCommentsAndBlanks) {
  std::vector<std::string> errors;
  Scenario s = ParseScenario(
      "# faults\n"
      "  dload.model =  KW_TR52/V10C  \n"
      "\n"
      "pipe.lost_at=7 # the eighth packet\n"
      "diag.model = A=B\n",
      &errors);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(s.at("dload.model"), "KW_TR52/V10C");
  EXPECT_EQ(s.at("pipe.lost_at"), "7");
  EXPECT_EQ(s.at("diag.model"), "A=B");  // only the first '=' separates
  EXPECT_EQ(s.size(), 3u);
}

TEST(Scenario, ReportsMalformedLinesWithTheirNumbers) {
  std::vector<std::string> errors;
  Scenario s = ParseScenario("a = 1\nno equals sign\n = value without key\n", &errors);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].find("line 2"), std::string::npos);
  EXPECT_NE(errors[1].find("line 3"), std::string::npos);
  EXPECT_EQ(s.size(), 1u);
}

TEST(Scenario, TypedLookupsFallBackOnMissingOrMalformedValues) {
  Scenario s = ParseScenario("n = 0x30\nbad = 12abc\nneg = -1\nflag = yes\nodd = maybe\n");
  EXPECT_EQ(ScenarioInt(s, "n", 0), 0x30);
  EXPECT_EQ(ScenarioInt(s, "bad", 5), 5);
  EXPECT_EQ(ScenarioInt(s, "neg", 5), -1);
  EXPECT_EQ(ScenarioInt(s, "missing", 9), 9);
  EXPECT_TRUE(ScenarioBool(s, "flag", false));
  EXPECT_TRUE(ScenarioBool(s, "odd", true));
  EXPECT_FALSE(ScenarioBool(s, "odd", false));
}

TEST(Scenario, HexBytes) {
  EXPECT_EQ(ParseHexBytes("03 00 0x07 7e"), (Bytes{0x03, 0x00, 0x07, 0x7E}));
  EXPECT_FALSE(ParseHexBytes("03 zz"));
  EXPECT_FALSE(ParseHexBytes("123"));
}

TEST(Scenario, LoadFileReportsUnreadableAndMalformedFiles) {
  tr52test::TempDir dir;
  Scenario s;
  std::string error;
  EXPECT_FALSE(LoadScenarioFile(dir.File("absent"), s, error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);

  std::ofstream(dir.File("bad")) << "ok = 1\ngarbage\n";
  EXPECT_FALSE(LoadScenarioFile(dir.File("bad"), s, error));
  EXPECT_NE(error.find("line 2"), std::string::npos);

  std::ofstream(dir.File("good")) << "phone.reboot_never = true\n";
  ASSERT_TRUE(LoadScenarioFile(dir.File("good"), s, error));
  EXPECT_TRUE(ScenarioBool(s, "phone.reboot_never", false));
}

}  // namespace
}  // namespace vphone
