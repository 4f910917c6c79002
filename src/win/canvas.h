// What a front end gives the window layer's painting code: a surface in its own units (pixels,
// character cells, ...) that can fill rectangles, draw the flat sunken edge of a control and
// measure and draw text. The same paint code then serves every front end.
#pragma once

#include <string>

#include "win/controls.h"
#include "win/window.h"

namespace win {

// The extent of a text: `width` along the text, `height` across it (for a vertical font the
// text covers `height` units to the right of its origin and `width` units above it).
struct TextSize {
  int width = 0;
  int height = 0;
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  // True when drawing lands in memory that is shown later as a whole: nothing to buffer.
  virtual bool IsMemory() const = 0;
  // From BeginBuffer until EndBuffer drawing goes to an off-screen copy of `area`, which
  // EndBuffer then puts on the canvas in one piece (no half-drawn state is ever seen).
  virtual void BeginBuffer(const Rect& area) = 0;
  virtual void EndBuffer() = 0;

  // The colour the canvas itself is cleared with (the paint device's background).
  virtual COLORREF Background() const = 0;
  virtual void FillRect(const Rect& rect, COLORREF colour) = 0;
  // Draws a flat sunken edge inside `rect` and returns the rectangle left inside the edge
  // (never larger than `rect`, possibly empty). How thick an edge is depends on the canvas.
  virtual Rect DrawSunkenEdge(const Rect& rect) = 0;
  virtual TextSize MeasureText(const std::string& text, const Font& font) = 0;
  // Draws UTF-8 `text` in `colour` over what is there (transparent background), only inside
  // `clip`. (x, y) is the top-left corner of the text; for a vertical font it is the
  // bottom-left corner and the text runs upward from it, its tops towards the left.
  virtual void DrawText(int x, int y, const std::string& text, const Font& font, COLORREF colour,
                        const Rect& clip) = 0;
};

}  // namespace win
