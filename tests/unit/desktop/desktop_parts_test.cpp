// The desktop station's words for screen readers and its header, and how it lays out the
// plug-in's dialog: pure functions, no display.
#include <gtest/gtest.h>

#include "desktop/dialog_rows.h"
#include "desktop/pane_words.h"
#include "desktop/renderer_choice.h"
#include "ui/dialog_templates.h"
#include "win/dialog.h"

namespace station {
namespace {

PaneSnapshot Pane(std::vector<std::string> lines, int position,
                  const std::string& caption = "COM 5") {
  PaneSnapshot snap;
  snap.caption = caption;
  snap.lines = std::move(lines);
  snap.bar.state.position = position;
  snap.outcome = OutcomeOfLines(snap.lines);
  return snap;
}

TEST(DesktopWords, APaneIsOneSentenceOfPortStepAndPercent) {
  struct Row {
    std::optional<PaneSnapshot> snap;
    std::string spoken;
  };
  const std::vector<Row> rows = {
      {std::nullopt, "COM 5, waiting for a phone"},
      {Pane({}, 0), "COM 5, starting, 0 percent"},
      {Pane({"1.TR52", "12.FLASHING AMSS"}, 45), "COM 5, flashing AMSS, 45 percent"},
      {Pane({"5.Change Dload"}, 20), "COM 5, Change Dload, 20 percent"},
      {Pane({"1.TR52"}, 3), "COM 5, TR52, 3 percent"},
      {Pane({"12.FLASHING AMSS", "16.OK"}, 100), "COM 5, finished OK"},
      {Pane({"2.Load Bin", "3.-.ERROR 1015 "}, 5), "COM 5, failed, ERROR 1015, 5 percent"},
      {Pane({"1.-.Unknown"}, 0), "COM 5, failed, Unknown, 0 percent"},
      // Without a caption the port's own name says it, spaced for speech.
      {Pane({"7.TRUSTED MODE"}, 30, ""), "COM 5, trusted MODE, 30 percent"},
  };
  for (const Row& row : rows) EXPECT_EQ(SpokenPane("COM5", row.snap), row.spoken);

  // The percentage is rounded as the bar's text rounds it, in any range.
  win::ProgressState bar;
  bar.lower = 0;
  bar.upper = 200;
  bar.position = 91;
  EXPECT_EQ(PanePercent(bar), 46);
  bar.upper = 0;
  EXPECT_EQ(PanePercent(bar), 0);
}

TEST(DesktopWords, SummaryCountsWhatIsThere) {
  struct Row {
    PaneCounts counts;
    std::string text;
  };
  const std::vector<Row> rows = {
      {{0, 0, 0}, "waiting for phones"},
      {{2, 0, 0}, "2 running"},
      {{2, 1, 1}, "2 running · 1 OK · 1 failed"},
      {{0, 3, 0}, "3 OK"},
      {{0, 0, 1}, "1 failed"},
  };
  for (const Row& row : rows) EXPECT_EQ(SummaryText(row.counts), row.text);
}

TEST(DesktopDialog, ControlsGoInTheTemplatesRowsAlignedAsThere) {
  // The configuration dialog: the label, the path and "..." on one row filling the width; OK
  // and Cancel below, in the middle.
  std::vector<win::Rect> rects;
  std::vector<bool> stretches;
  for (const win::DialogItem& item : tr52::kConfigDialogTemplate.items) {
    rects.push_back(item.rect);
    stretches.push_back(std::string(item.className) == win::kEditClass);
  }
  const auto rows = ArrangeInRows(rects, stretches, tr52::kConfigDialogTemplate.width);
  // Items: 0 OK, 1 Cancel, 2 label, 3 path, 4 "...".
  const std::vector<DialogRow> expected = {{{2, 3, 4}, RowAlign::kFill},
                                           {{0, 1}, RowAlign::kCentre}};
  EXPECT_EQ(rows, expected);

  struct Row {
    std::vector<win::Rect> rects;
    std::vector<DialogRow> rows;
  };
  const std::vector<Row> more = {
      {{{150, 10, 190, 24}, {10, 40, 50, 54}}, {{{0}, RowAlign::kEnd}, {{1}, RowAlign::kStart}}},
      // Touching is not overlapping: a row ends where the next begins.
      {{{10, 10, 50, 20}, {60, 20, 90, 30}}, {{{0}, RowAlign::kStart}, {{1}, RowAlign::kStart}}},
      {{}, {}},
  };
  for (const Row& row : more) EXPECT_EQ(ArrangeInRows(row.rects, {}, 200), row.rows);
}

TEST(DesktopRenderer, CairoWithoutOpenGlUnlessTheUserChose) {
  using Env = RendererEnvironment;
  const auto none = std::nullopt;
  struct Row {
    Env user;
    Env chosen;
  };
  const std::vector<Row> rows = {
      {{none, none}, {"cairo", "gl-disable"}},
      {{"", none}, {"cairo", "gl-disable"}},
      // Another debugging flag stays; GL is still kept from starting.
      {{none, "events"}, {"cairo", "events,gl-disable"}},
      {{"cairo", none}, {"cairo", "gl-disable"}},
      // The user's renderer and GL settings are theirs.
      {{"gl", none}, {"gl", none}},
      {{"vulkan", "events"}, {"vulkan", "events"}},
      {{none, "gl-disable"}, {"cairo", "gl-disable"}},
      {{none, "events:gl-gles"}, {"cairo", "events:gl-gles"}},
      {{"cairo", "opengl"}, {"cairo", "opengl"}},
      // A flag that only starts like one about GL is another flag.
      {{none, "glyph-cache"}, {"cairo", "glyph-cache,gl-disable"}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ChooseRenderer(row.user), row.chosen)
        << row.user.renderer.value_or("-") << " / " << row.user.debug.value_or("-");
}

}  // namespace
}  // namespace station
