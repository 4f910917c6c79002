// The station's --list-ports option: a flag of its own, needing nothing else.
#include <gtest/gtest.h>

#include "parse_args.h"

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
    std::string error;
    const auto options = ParseArgs(row.args, error);
    ASSERT_EQ(options.has_value(), row.accepted) << row.args[0] << ": " << error;
    if (options) {
      EXPECT_EQ(options->listPorts, row.listPorts) << row.args[0];
    }
  }
  EXPECT_NE(HelpText("station").find("--list-ports"), std::string::npos);
}

}  // namespace
}  // namespace station
