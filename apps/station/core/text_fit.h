// Text put into a box as whole as the box allows: at its own size when it fits, else up to a
// fifth smaller, else cut after the last character that leaves room for "…". A letter is never
// cut through by the box's edge (a "B" cut in half reads as an "E").
#pragma once

#include <string>

#include "win/canvas.h"

namespace station {

struct FittedText {
  std::string text;
  win::Font font;
  win::TextSize size;  // measured with `font`
};

// `text` fitted into `width` units of `canvas`. A font without a point size is never shrunk.
FittedText FitText(win::Canvas& canvas, const std::string& text, const win::Font& font, int width);

// The dialog base units of `font` on `canvas`: the average width of the Latin letters and the
// height of a line, as dialogs lay themselves out around their font.
win::BaseUnits MeasureBaseUnits(win::Canvas& canvas, const win::Font& font);

}  // namespace station
