// The station's --list-ports option: a flag of its own, needing nothing else.
#include <gtest/gtest.h>

#include "core/options.h"

namespace station {
namespace {

TEST(StationListPortsOption, IsAFlagThatNeedsNoOtherOption) {
  struct Row {
    std::vector<std::string> args;
    bool accepted;
    bool listPorts;
  };
  const std::vector<Row> rows = {
      {{"--list-ports"}, true, true},  {{"--ports", "5", "--list-ports"}, true, true},
      {{"--ports", "5"}, true, false}, {{"--list-ports=yes"}, false, false},
      {{"--list-port"}, false, false},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), "station");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::string error;
    const auto options = ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
    ASSERT_EQ(options.has_value(), row.accepted) << row.args[0] << ": " << error;
    if (options) {
      EXPECT_EQ(options->listPorts, row.listPorts) << row.args[0];
    }
  }
  EXPECT_NE(HelpText("station").find("--list-ports"), std::string::npos);
}

}  // namespace
}  // namespace station
