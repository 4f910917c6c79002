// The station's command line: the run record and package options beside the others.
#include "options.h"

#include <gtest/gtest.h>

namespace station {
namespace {

std::optional<Options> Parse(std::vector<std::string> args, std::string& error) {
  args.insert(args.begin(), "station");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(StationOptions, JsonAndPackageTakeTheirFiles) {
  struct Row {
    std::vector<std::string> args;
    std::string json, package;
    std::string errorContains;  // empty: accepted
  };
  const std::vector<Row> rows = {
      {{"--ports", "5", "--json", "out.json"}, "out.json", "", ""},
      {{"--ports", "5", "--json=/tmp/r.json", "--package", "/fw/TR52.dz"},
       "/tmp/r.json",
       "/fw/TR52.dz",
       ""},
      {{"--package", "fw.dz"}, "", "fw.dz", ""},
      {{"--package=a b.dz", "--info"}, "", "a b.dz", ""},
      {{"--json", "out.json"}, "", "", "--json needs --ports"},
      {{"--ports", "5", "--json"}, "", "", "--json: 1 required FILE missing"},
      {{"--ports", "5", "--json="}, "", "", "--json: 1 required FILE missing"},
      {{"--ports", "5", "--json", ""}, "", "", "--json needs a file name"},
      {{"--package"}, "", "", "--package: 1 required PATH missing"},
      {{"--package", ""}, "", "", "--package needs the path"},
  };
  for (const auto& row : rows) {
    std::string error;
    const auto options = Parse(row.args, error);
    std::string joined;
    for (const auto& a : row.args) joined += a + " ";
    if (row.errorContains.empty()) {
      ASSERT_TRUE(options) << joined << error;
      EXPECT_EQ(options->jsonPath, row.json) << joined;
      EXPECT_EQ(options->packagePath, row.package) << joined;
    } else {
      EXPECT_FALSE(options) << joined;
      EXPECT_NE(error.find(row.errorContains), std::string::npos) << joined << ": " << error;
    }
  }
}

// Errors stay one line, whatever part of the parser finds them.
TEST(StationOptions, UdevRuleAndOtherCombinationsAreCheckedInOneLine) {
  struct Row {
    std::vector<std::string> args;
    std::string port;  // the parsed --udev-rule port
    bool install;
    std::string errorContains;  // empty: accepted
  };
  const std::vector<Row> rows = {
      {{"--udev-rule", "ttyACM0"}, "ttyACM0", false, ""},
      {{"--udev-rule=/dev/ttyUSB1", "--install"}, "ttyUSB1", true, ""},
      {{"--udev-rule", "../../etc/passwd"}, "", false, "--udev-rule: expected a port's kernel"},
      {{"--udev-rule", ""}, "", false, "--udev-rule: expected a port's kernel"},
      {{"--install"}, "", false, "--install needs --udev-rule"},
      {{"--udev-rule", "ttyACM0", "--ports", "5"}, "", false, "leave out --ports"},
      {{"--batch=yes", "--ports", "5"}, "", false, "batch was given a disallowed flag override"},
      {{"--ports", "5", "--ports", "6"}, "", false, ""},  // the last one counts
      {{"extra"}, "", false, "not expected: extra"},
  };
  for (const auto& row : rows) {
    std::string error;
    const auto options = Parse(row.args, error);
    std::string joined;
    for (const auto& a : row.args) joined += a + " ";
    if (row.errorContains.empty()) {
      ASSERT_TRUE(options) << joined << error;
      EXPECT_EQ(options->udevRulePort, row.port) << joined;
      EXPECT_EQ(options->installRule, row.install) << joined;
    } else {
      EXPECT_FALSE(options) << joined;
      EXPECT_NE(error.find(row.errorContains), std::string::npos) << joined << ": " << error;
      EXPECT_EQ(error.find('\n'), std::string::npos) << joined << ": " << error;
    }
  }
  std::string error;
  EXPECT_EQ(Parse({"--ports", "5", "--ports", "6"}, error)->ports, std::vector<int>{6});
}

TEST(StationOptions, HelpNamesTheFilesTheEnvironmentAndTheExitStatuses) {
  const std::string help = HelpText("station");
  for (const char* text :
       {"--json FILE", "--package PATH", "ZUDP2.ini", "station_log.txt", "TR52_PORT_TABLE",
        "$XDG_CONFIG_HOME/tr52", "$XDG_STATE_HOME/tr52", "--udev-rule PORT", "\"Emergency Reset\"",
        "Protocol time-outs keep their values", "  0    ", "  1    ", "  2    ", "  3    ",
        "  4    ", "  130  "})
    EXPECT_NE(help.find(text), std::string::npos) << text;
  // The log is named after the program it runs in.
  EXPECT_NE(HelpText("host.bin").find("host_log.txt"), std::string::npos);
}

}  // namespace
}  // namespace station
