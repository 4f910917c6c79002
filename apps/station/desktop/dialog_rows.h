// How the desktop lays out a dialog of the window layer: its controls in rows, as the template
// places them (controls whose heights overlap share a row, left to right), each row aligned as
// the template aligns it. A toolkit then sizes the controls for its own fonts and themes.
#pragma once

#include <vector>

#include "win/window.h"

namespace station {

enum class RowAlign { kStart, kCentre, kEnd, kFill };

struct DialogRow {
  std::vector<size_t> controls;  // indexes into the rectangles, left to right
  RowAlign align = RowAlign::kStart;
  bool operator==(const DialogRow&) const = default;
};

// The rows of the controls at `rects` in a dialog `width` wide, top to bottom. A row with a
// control that `stretches` (an edit) fills the width; else it keeps to the side the template
// keeps it to, or the middle when its margins are even (within a tenth of the width).
std::vector<DialogRow> ArrangeInRows(const std::vector<win::Rect>& rects,
                                     const std::vector<bool>& stretches, int width);

}  // namespace station
