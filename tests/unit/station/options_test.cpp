// The station's command line: the run record and package options beside the others.
#include "core/options.h"

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
      {{"--ports", "5", "--json"}, "", "", "--json needs a value"},
      {{"--ports", "5", "--json="}, "", "", "--json needs a file name"},
      {{"--package"}, "", "", "--package needs a value"},
      {{"--package="}, "", "", "--package needs the path"},
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
        "\"Emergency Reset\"", "Protocol time-outs keep their values", "  0    ", "  1    ",
        "  2    ", "  3    ", "  4    ", "  130  "})
    EXPECT_NE(help.find(text), std::string::npos) << text;
  // The log is named after the program it runs in.
  EXPECT_NE(HelpText("host.bin").find("host_log.txt"), std::string::npos);
}

}  // namespace
}  // namespace station
