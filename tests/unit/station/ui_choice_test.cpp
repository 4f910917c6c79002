// Which front end a run gets: --ui, the options that mean plain lines, and what the process
// finds around it (a display, terminals).
#include "core/ui_choice.h"

#include <gtest/gtest.h>

#include "parse_args.h"

namespace station {
namespace {

TEST(StationUiChoice, OptionsAndSurroundingsNameTheFrontEnd) {
  struct Row {
    std::vector<std::string> args;
    Surroundings where;  // display, stdin terminal, stdout terminal
    std::optional<UiKind> ui;
    std::string errorContains;  // when no front end: why the command line was refused
  };
  const Surroundings desk{true, false, false}, deskTerminal{true, true, true},
      terminal{false, true, true}, pipes{false, false, false}, inputOnly{false, true, false};
  const std::vector<Row> rows = {
      {{"--ports", "5"}, desk, UiKind::kDesktop, ""},
      {{"--ports", "5"}, deskTerminal, UiKind::kDesktop, ""},
      {{"--config"}, desk, UiKind::kDesktop, ""},
      // Nothing to show: no window for --info or --package alone.
      {{"--info"}, deskTerminal, UiKind::kPlain, ""},
      {{"--ports", "5", "--batch"}, deskTerminal, UiKind::kPlain, ""},
      {{"--ports", "5", "--plain"}, desk, UiKind::kPlain, ""},
      {{"--ports", "5"}, terminal, UiKind::kTerminal, ""},
      {{"--ports", "5"}, inputOnly, UiKind::kPlain, ""},
      {{"--config"}, inputOnly, UiKind::kTerminal, ""},
      {{"--ports", "5"}, pipes, UiKind::kPlain, ""},
      // --ui wins over everything.
      {{"--ports", "5", "--ui", "desktop"}, pipes, UiKind::kDesktop, ""},
      {{"--ports", "5", "--batch", "--ui=desktop"}, pipes, UiKind::kDesktop, ""},
      {{"--ports", "5", "--ui", "terminal"}, desk, UiKind::kTerminal, ""},
      {{"--ports", "5", "--ui", "plain"}, deskTerminal, UiKind::kPlain, ""},
      {{"--ports", "5", "--ui", "plain", "--plain"}, desk, UiKind::kPlain, ""},
      {{"--ports", "5", "--ui", "window"}, desk, std::nullopt, "--ui: expected plain"},
      {{"--ports", "5", "--ui"}, desk, std::nullopt, "--ui: 1 required KIND missing"},
      {{"--ports", "5", "--ui", "desktop", "--plain"}, desk, std::nullopt, "--plain and --ui"},
  };
  for (const Row& row : rows) {
    std::string error;
    const auto options = ParseArgs(row.args, error);
    std::string joined;
    for (const auto& a : row.args) joined += a + " ";
    if (!row.ui) {
      EXPECT_FALSE(options) << joined;
      EXPECT_NE(error.find(row.errorContains), std::string::npos) << joined << ": " << error;
      continue;
    }
    ASSERT_TRUE(options) << joined << error;
    EXPECT_EQ(ChooseUi(*options, row.where), *row.ui) << joined;
  }
}

}  // namespace
}  // namespace station
