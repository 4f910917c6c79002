// Paints a pane snapshot on any canvas (character cells for the terminal, pixels for
// screenshots): the caption and the clock centred in their labels, the bar through the window
// layer's paint routine, and the step list in its sunken box showing its newest lines (or
// older ones when scrolled back); a frame round the pane tells the outcome.
#pragma once

#include "pane_layout.h"
#include "pane_snapshot.h"
#include "win/canvas.h"

namespace station {

// The pane template's font; each canvas maps it to what it draws.
inline const win::Font kPaneFont{"System", 10};

// Colours of the frame round a pane.
win::COLORREF FrameColour(PaneOutcome outcome);

// Paints `snap` with its top-left corner at (x, y). `scrollBack` is how many lines the list is
// scrolled back from its newest (0: the newest line is the last one shown). Returns the number
// of list lines that fit, for paging.
int PaintPane(const PaneSnapshot& snap, const PaneLayout& layout, int x, int y, int scrollBack,
              win::Canvas& canvas);

// Paints the frame of `thickness` units round the pane whose top-left corner is (x, y); a
// focused frame of one unit (a cell) also gets a line drawn along it.
void PaintFrame(const PaneLayout& layout, int x, int y, int thickness, PaneOutcome outcome,
                bool focused, win::Canvas& canvas);

// The largest useful scroll-back for `lines` lines when `visible` fit.
int MaxScrollBack(int lines, int visible);

}  // namespace station
