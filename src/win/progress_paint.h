// Painting of the drawn progress bar over a canvas: the sunken edge, the bar (or the moving
// block) and the empty part(s), and the text drawn once per part so that it changes colour
// exactly where the bar ends.
#pragma once

#include <string>

#include "win/canvas.h"
#include "win/controls.h"

namespace win {

// Everything a paint reads, taken from the control in one piece.
struct ProgressLook {
  ProgressState state;
  std::string text;  // the control's window text
  bool vertical = false;
  Font font;  // the control's font, else its parent's
};

// Paints the bar into `client` (the control's client area in the canvas's units). A range
// with lower >= upper paints nothing. On a canvas that is not memory the paint goes through
// one off-screen buffer, so every change shows as one flicker-free paint.
void PaintProgressBar(const ProgressLook& look, Canvas& canvas, const Rect& client);

// The look of a progress control; false when `hwnd` is not one.
[[nodiscard]] bool GetProgressLook(HWND hwnd, ProgressLook& look);
// Paints the progress control `hwnd`; false when it is not one.
[[nodiscard]] bool PaintProgress(HWND hwnd, Canvas& canvas, const Rect& client);

}  // namespace win
