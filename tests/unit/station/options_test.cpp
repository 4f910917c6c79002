// The station's command line: the run record and package options beside the others.
#include "core/options.h"

#include <gtest/gtest.h>

#include "parse_args.h"

namespace station {
namespace {

// What each option takes, and every refusal in one line whichever part of the parser finds it.
TEST(StationOptions, ParsedOrRefusedInOneLine) {
  struct Row {
    std::vector<std::string> args;
    std::vector<int> ports = {};
    std::string json = {}, package = {}, udevPort = {};
    bool install = false;
    std::string errorContains = {};  // empty: accepted
  };
  const std::vector<Row> rows = {
      {.args = {"--ports", "5", "--json", "out.json"}, .ports = {5}, .json = "out.json"},
      {.args = {"--ports", "5", "--json=/tmp/r.json", "--package", "/fw/TR52.dz"},
       .ports = {5},
       .json = "/tmp/r.json",
       .package = "/fw/TR52.dz"},
      {.args = {"--package", "fw.dz"}, .package = "fw.dz"},
      {.args = {"--package=a b.dz", "--info"}, .package = "a b.dz"},
      {.args = {"--ports", "5", "--ports", "6"}, .ports = {6}},  // the last one counts
      {.args = {"--udev-rule", "ttyACM0"}, .udevPort = "ttyACM0"},
      {.args = {"--udev-rule=/dev/ttyUSB1", "--install"}, .udevPort = "ttyUSB1", .install = true},
      {.args = {"--json", "out.json"}, .errorContains = "--json needs --ports"},
      {.args = {"--ports", "5", "--json"}, .errorContains = "--json: 1 required FILE missing"},
      {.args = {"--ports", "5", "--json="}, .errorContains = "--json: 1 required FILE missing"},
      {.args = {"--ports", "5", "--json", ""}, .errorContains = "--json needs a file name"},
      {.args = {"--package"}, .errorContains = "--package: 1 required PATH missing"},
      {.args = {"--package", ""}, .errorContains = "--package needs the path"},
      {.args = {"--poll-ms", "9"}, .errorContains = "--poll-ms: expected milliseconds 10..60000"},
      {.args = {"--timeout", "0"}, .errorContains = "--timeout: expected seconds > 0, got '0'"},
      {.args = {"--udev-rule", "../../etc/passwd"},
       .errorContains = "--udev-rule: expected a port's kernel"},
      {.args = {"--udev-rule", ""}, .errorContains = "--udev-rule: expected a port's kernel"},
      {.args = {"--install"}, .errorContains = "--install needs --udev-rule"},
      {.args = {"--udev-rule", "ttyACM0", "--ports", "5"}, .errorContains = "leave out --ports"},
      {.args = {"--batch=yes", "--ports", "5"},
       .errorContains = "batch was given a disallowed flag override"},
      {.args = {"extra"}, .errorContains = "not expected: extra"},
  };
  for (const auto& row : rows) {
    std::string error;
    const auto options = ParseArgs(row.args, error);
    std::string joined;
    for (const auto& a : row.args) joined += a + " ";
    if (row.errorContains.empty()) {
      ASSERT_TRUE(options) << joined << error;
      EXPECT_EQ(options->ports, row.ports) << joined;
      EXPECT_EQ(options->jsonPath, row.json) << joined;
      EXPECT_EQ(options->packagePath, row.package) << joined;
      EXPECT_EQ(options->udevRulePort, row.udevPort) << joined;
      EXPECT_EQ(options->installRule, row.install) << joined;
    } else {
      EXPECT_FALSE(options) << joined;
      EXPECT_NE(error.find(row.errorContains), std::string::npos) << joined << ": " << error;
      EXPECT_EQ(error.find('\n'), std::string::npos) << joined << ": " << error;
    }
  }
}

TEST(StationOptions, HistoryOptionsTakeTheirValues) {
  struct Row {
    std::vector<std::string> args;
    std::string path, station, url;
    bool off = false;
    std::string errorContains = "";
  };
  const std::vector<Row> rows = {
      {{"--ports", "5"}, "", "", ""},
      {{"--ports", "5", "--history", "/h.sqlite", "--station-id", "line-2", "--history-url",
        "postgresql://db/line"},
       "/h.sqlite",
       "line-2",
       "postgresql://db/line"},
      {{"--ports", "5", "--no-history"}, "", "", "", true},
      {{"--ports", "5", "--no-history", "--history-url", "postgresql://db"},
       "",
       "",
       "",
       false,
       "--no-history leaves no history"},
      {{"--ports", "5", "--history="}, "", "", "", false, "--history: 1 required PATH missing"},
      {{"--ports", "5", "--station-id", "a\tb"}, "", "", "", false, "--station-id"},
      {{"--ports", "5", "--station-id", std::string(65, 's')}, "", "", "", false, "--station-id"},
      {{"--ports", "5", "--no-history=1"},
       "",
       "",
       "",
       false,
       "no-history was given a disallowed flag override"},
  };
  for (const auto& row : rows) {
    std::string error;
    std::string joined;
    for (const auto& a : row.args) joined += a + " ";
    const auto options = ParseArgs(row.args, error);
    if (row.errorContains.empty()) {
      ASSERT_TRUE(options) << joined << error;
      EXPECT_EQ(options->historyPath, row.path) << joined;
      EXPECT_EQ(options->stationId, row.station) << joined;
      EXPECT_EQ(options->historyUrl, row.url) << joined;
      EXPECT_EQ(options->noHistory, row.off) << joined;
    } else {
      EXPECT_FALSE(options) << joined;
      EXPECT_NE(error.find(row.errorContains), std::string::npos) << joined << ": " << error;
    }
  }
}

TEST(StationOptions, PortListsTakeNumbersAndRanges) {
  struct Row {
    const char* text;
    std::vector<int> ports;  // empty: refused
    const char* error;
  };
  const Row rows[] = {
      {"5", {5}, ""},
      {"5-5", {5}, ""},
      {"COM7,5-6,6", {5, 6, 7}, ""},
      {"6-5", {}, "bad port range '6-5' (first is greater than last)"},
      {"256", {}, "bad port '256' (expected a number 0..255)"},
      {"", {}, "empty port list"},
  };
  for (const Row& r : rows) {
    std::string error;
    const auto ports = ParsePortList(r.text, error);
    EXPECT_EQ(ports.value_or(std::vector<int>{}), r.ports) << r.text;
    EXPECT_EQ(error, r.error) << r.text;
  }
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
