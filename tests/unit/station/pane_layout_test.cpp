// The pane's template in dialog units placed in cells (and pixels), and the grid of framed
// panes: how many fit, where each goes and how the grid scrolls to keep the focused pane shown.
#include "core/pane_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "raster_canvas.h"
#include "ui/dialog_templates.h"

namespace station {
namespace {

bool Same(const win::Rect& a, const win::Rect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(PaneLayout, TemplateUnitsBecomeCellsAndPixels) {
  struct Case {
    const char* name;
    win::BaseUnits units;
    int width, height;
    win::Rect caption, clock, bar, list;
  };
  const std::vector<Case> cases = {
      // 63 x 80 units: two cells a dialog character across and two rows down.
      {"terminal cells",
       kCellBaseUnits,
       32,
       20,
       {1, 1, 15, 3},
       {16, 1, 31, 3},
       {1, 4, 31, 7},
       {1, 7, 31, 18}},
      // The raster canvas: 60 x 11 units of bar make 120 x 22 pixels.
      {"raster pixels",
       canvas::kRasterBaseUnits,
       126,
       160,
       {2, 4, 60, 26},
       {64, 4, 122, 26},
       {2, 30, 122, 52},
       {2, 56, 122, 146}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto layout = LayoutPane(tr52::kProgressDialogTemplate, c.units);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->width, c.width);
    EXPECT_EQ(layout->height, c.height);
    EXPECT_TRUE(Same(layout->caption, c.caption));
    EXPECT_TRUE(Same(layout->clock, c.clock));
    EXPECT_TRUE(Same(layout->bar, c.bar));
    EXPECT_TRUE(Same(layout->list, c.list));
    // Nothing of the pane lies outside it, and the bar has room for its text and edge.
    for (const win::Rect& r : {layout->caption, layout->clock, layout->bar, layout->list}) {
      EXPECT_GE(r.left, 0);
      EXPECT_GE(r.top, 0);
      EXPECT_LE(r.right, layout->width);
      EXPECT_LE(r.bottom, layout->height);
    }
  }
  // A template without the pane's controls has no pane layout.
  EXPECT_FALSE(LayoutPane(tr52::kConfigDialogTemplate, kCellBaseUnits).has_value());
}

TEST(PaneLayout, GridPlacesScrollsAndKeepsTheFocusInView) {
  struct Case {
    const char* name;
    int count;
    win::Rect area;
    int focus, firstRowBefore;
    int columns, rows, firstRow;
    std::vector<PanePlacement> shown;
  };
  // Frames of 34 x 22 cells (the pane with a one-cell frame).
  const std::vector<Case> cases = {
      {"two ports side by side", 2, {0, 1, 160, 49}, 0, 0, 4, 2, 0, {{0, 0, 1}, {1, 34, 1}}},
      {"five ports wrap to a second row",
       5,
       {0, 1, 160, 49},
       0,
       0,
       4,
       2,
       0,
       {{0, 0, 1}, {1, 34, 1}, {2, 68, 1}, {3, 102, 1}, {4, 0, 23}}},
      {"more than fit: focus on the third row scrolls one row",
       10,
       {0, 1, 160, 49},
       9,
       0,
       4,
       2,
       1,
       {{4, 0, 1}, {5, 34, 1}, {6, 68, 1}, {7, 102, 1}, {8, 0, 23}, {9, 34, 1 + 22}}},
      {"focus back on the first row scrolls back",
       10,
       {0, 1, 160, 49},
       1,
       1,
       4,
       2,
       0,
       {{0, 0, 1},
        {1, 34, 1},
        {2, 68, 1},
        {3, 102, 1},
        {4, 0, 23},
        {5, 34, 23},
        {6, 68, 23},
        {7, 102, 23}}},
      {"a shown focus keeps the rows where they were",
       12,
       {0, 0, 80, 44},
       4,
       1,
       2,
       2,
       1,
       {{2, 0, 0}, {3, 34, 0}, {4, 0, 22}, {5, 34, 22}}},
      {"a first row past the end is pulled back",
       3,
       {0, 0, 34, 44},
       0,
       7,
       1,
       2,
       0,
       {{0, 0, 0}, {1, 0, 22}}},
      {"a terminal smaller than one frame still shows the focused pane",
       3,
       {0, 0, 20, 10},
       2,
       0,
       1,
       1,
       2,
       {{2, 0, 0}}},
      {"no ports", 0, {0, 0, 160, 50}, 0, 0, 1, 1, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PaneGrid grid = LayoutGrid(c.count, 34, 22, c.area, c.focus, c.firstRowBefore);
    EXPECT_EQ(grid.columns, c.columns);
    EXPECT_EQ(grid.rows, c.rows);
    EXPECT_EQ(grid.firstRow, c.firstRow);
    ASSERT_EQ(grid.shown.size(), c.shown.size());
    for (size_t i = 0; i < c.shown.size(); ++i) {
      EXPECT_EQ(grid.shown[i].index, c.shown[i].index) << i;
      EXPECT_EQ(grid.shown[i].x, c.shown[i].x) << i;
      EXPECT_EQ(grid.shown[i].y, c.shown[i].y) << i;
    }
  }
}

}  // namespace
}  // namespace station
