#include "pane_painter.h"

#include <algorithm>
#include <string>

#include "text_fit.h"
#include "win/controls.h"

namespace station {
namespace {

win::Rect Offset(const win::Rect& r, int x, int y) {
  return win::Rect{r.left + x, r.top + y, r.right + x, r.bottom + y};
}

// A static with SS_CENTER | SS_CENTERIMAGE: the text centred both ways, fitted to the label.
void DrawCentred(win::Canvas& canvas, const win::Rect& r, const std::string& text) {
  const FittedText fit = FitText(canvas, text, kPaneFont, r.Width());
  const int tx = r.left + std::max(0, (r.Width() - fit.size.width) / 2);
  const int ty = r.top + (r.Height() - fit.size.height) / 2;
  canvas.DrawText(tx, ty, fit.text, fit.font, win::GetSysColor(win::COLOR_WINDOWTEXT), r);
}

}  // namespace

win::COLORREF FrameColour(PaneOutcome outcome) {
  switch (outcome) {
    case PaneOutcome::kSucceeded:
      return win::RGB(0, 160, 0);
    case PaneOutcome::kFailed:
      return win::RGB(200, 0, 0);
    case PaneOutcome::kRunning:
      break;
  }
  return win::GetSysColor(win::COLOR_BTNSHADOW);
}

int MaxScrollBack(int lines, int visible) {
  return std::max(0, lines - std::max(1, visible));
}

int PaintPane(const PaneSnapshot& snap, const PaneLayout& layout, int x, int y, int scrollBack,
              win::Canvas& canvas) {
  const win::COLORREF face = win::GetSysColor(win::COLOR_BTNFACE);
  canvas.FillRect(win::Rect{x, y, x + layout.width, y + layout.height}, face);
  DrawCentred(canvas, Offset(layout.caption, x, y), snap.caption);
  DrawCentred(canvas, Offset(layout.clock, x, y), snap.clock);
  win::PaintProgressBar(snap.bar, canvas, Offset(layout.bar, x, y));

  // The list box: a sunken box on the window colour, one line a row, the selected line
  // highlighted.
  const win::Rect box = Offset(layout.list, x, y);
  canvas.FillRect(box, win::GetSysColor(win::COLOR_WINDOW));
  const win::Rect inner = canvas.DrawSunkenEdge(box);
  const int lineHeight = std::max(1, canvas.MeasureText("0", kPaneFont).height);
  const int margin = lineHeight >= 8 ? 2 : 0;
  const int visible = std::max(1, inner.Height() / lineHeight);
  const int count = static_cast<int>(snap.lines.size());
  const int back = std::clamp(scrollBack, 0, MaxScrollBack(count, visible));
  const int first = std::max(0, count - visible - back);
  for (int i = first, row = 0; i < count && row < visible; ++i, ++row) {
    const int top = inner.top + row * lineHeight;
    const win::Rect line{inner.left, top, inner.right, std::min(inner.bottom, top + lineHeight)};
    win::COLORREF ink = win::GetSysColor(win::COLOR_WINDOWTEXT);
    if (i == snap.selected) {
      canvas.FillRect(line, win::GetSysColor(win::COLOR_HIGHLIGHT));
      ink = win::GetSysColor(win::COLOR_WINDOW);
    }
    // A smaller font sits on the line's middle.
    const FittedText fit = FitText(canvas, snap.lines[i], kPaneFont, inner.Width() - 2 * margin);
    canvas.DrawText(inner.left + margin, top + (lineHeight - fit.size.height) / 2, fit.text,
                    fit.font, ink, line);
  }
  return visible;
}

void PaintFrame(const PaneLayout& layout, int x, int y, int thickness, PaneOutcome outcome,
                bool focused, win::Canvas& canvas) {
  if (thickness <= 0) return;
  const win::COLORREF colour = FrameColour(outcome);
  const int l = x - thickness, t = y - thickness;
  const int r = x + layout.width + thickness, b = y + layout.height + thickness;
  canvas.FillRect(win::Rect{l, t, r, y}, colour);
  canvas.FillRect(win::Rect{l, y + layout.height, r, b}, colour);
  canvas.FillRect(win::Rect{l, y, x, y + layout.height}, colour);
  canvas.FillRect(win::Rect{x + layout.width, y, r, y + layout.height}, colour);
  if (!focused || thickness != 1) return;
  // One cell thick: a double line along the frame marks the focused pane.
  const win::Font plain{};
  const win::COLORREF ink = win::GetSysColor(win::COLOR_WINDOW);
  const win::Rect all{l, t, r, b};
  std::string across;
  for (int i = l + 1; i < r - 1; ++i) across += "═";
  canvas.DrawText(l, t, "╔" + across + "╗", plain, ink, all);
  canvas.DrawText(l, b - 1, "╚" + across + "╝", plain, ink, all);
  for (int row = y; row < y + layout.height; ++row) {
    canvas.DrawText(l, row, "║", plain, ink, all);
    canvas.DrawText(r - 1, row, "║", plain, ink, all);
  }
}

}  // namespace station
