// Where a progress pane's controls go on a front end's surface, taken from the pane's dialog
// template (7001) in dialog units, and how the framed panes of several ports share a screen as
// a grid that scrolls by rows.
#pragma once

#include <optional>
#include <vector>

#include "win/dialog.h"

namespace station {

// Dialog units per terminal cell: a dialog character (4 x 8 units) is two cells wide and two
// rows high, so that the pane's 60-unit bar has room for its text and the list for its steps.
inline constexpr win::BaseUnits kCellBaseUnits{2, 2};

// A pane in a front end's units, relative to its top-left corner.
struct PaneLayout {
  int width = 0;
  int height = 0;
  win::Rect caption;  // the port label (7002)
  win::Rect clock;    // the elapsed time (7003)
  win::Rect bar;      // the progress bar (7004)
  win::Rect list;     // the step list (7005)
};

// The pane of `templ` at `units`; nullopt when one of the four controls is missing.
std::optional<PaneLayout> LayoutPane(const win::DialogTemplate& templ, win::BaseUnits units);

// One pane on the screen: the top-left corner of its frame.
struct PanePlacement {
  int index = 0;
  int x = 0;
  int y = 0;
  bool operator==(const PanePlacement&) const = default;
};

struct PaneGrid {
  int columns = 1;   // frames side by side
  int rows = 1;      // rows of frames that fit (at least 1)
  int firstRow = 0;  // the grid row shown at the top
  std::vector<PanePlacement> shown;
};

// Lays `count` frames of `frameWidth` x `frameHeight` on `area`, left to right, then down. When
// not every row fits, the grid scrolls by whole rows: `firstRow` (the row shown at the top so
// far) is kept while `focus` stays in view, else moved just enough to show it. A frame larger
// than the area still gets a place (clipped by the screen).
PaneGrid LayoutGrid(int count, int frameWidth, int frameHeight, const win::Rect& area, int focus,
                    int firstRow);

}  // namespace station
