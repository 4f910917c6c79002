// The paint of the drawn progress bar, over the canvas interface so that every front end shows
// the same bar in its own units.
#include "win/progress_paint.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "win/window_registry.h"

namespace win {
namespace {

// Truncates towards zero, held inside the int range (a huge block size or range must not
// overflow the geometry).
int Trunc(double v) {
  if (!(v > INT_MIN / 2)) return INT_MIN / 2;  // also catches NaN
  if (v > INT_MAX / 2) return INT_MAX / 2;
  return static_cast<int>(v);
}

Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool IsEmpty(const Rect& r) {
  return r.Width() <= 0 || r.Height() <= 0;
}

// The inner rectangle cut into the bar (or the moving block) and the empty parts before and
// after it, each kept inside the inner rectangle: a block that runs past the end never paints
// over the edge.
struct BarParts {
  Rect bar;
  Rect before;  // before the moving block; empty for a plain bar
  Rect after;
};

BarParts Layout(const Rect& in, double f, bool vertical, bool marquee, int marqueeSize) {
  auto blockLength = [&](int size) {
    const long long len = (static_cast<long long>(size) * marqueeSize + 50) / 100;
    return static_cast<int>(std::clamp<long long>(len, 0, size));
  };
  BarParts p;
  if (!vertical) {
    const int end = in.left + Trunc(in.Width() * f);
    const int start = marquee ? end - blockLength(in.Width()) : in.left;
    p.bar = Rect{start, in.top, end, in.bottom};
    p.before = Rect{in.left, in.top, start, in.bottom};
    p.after = Rect{end, in.top, in.right, in.bottom};
  } else {
    const int end = in.bottom - Trunc(in.Height() * f);
    const int start = marquee ? end + blockLength(in.Height()) : in.bottom;
    p.bar = Rect{in.left, end, in.right, start};
    p.before = Rect{in.left, start, in.right, in.bottom};
    p.after = Rect{in.left, in.top, in.right, end};
  }
  p.bar = Intersect(p.bar, in);
  p.before = Intersect(p.before, in);
  p.after = Intersect(p.after, in);
  return p;
}

std::string BarText(const ProgressLook& look, double f) {
  std::string text = look.text;
  if (look.state.showPercent == 1) {
    char percent[32];
    std::snprintf(percent, sizeof percent, " %d %%", Trunc(f * 100 + 0.5));
    text += percent;
  }
  return text;
}

// The text's origin for the alignment (0 left/bottom, 2 right/top, anything else centred).
void TextOrigin(const Rect& in, const TextSize& ts, bool vertical, int align, int& x, int& y) {
  if (!vertical) {
    y = in.top + (in.Height() - ts.height) / 2;
    if (align == 0)
      x = in.left + 2;
    else if (align == 2)
      x = in.right - ts.width - 3;
    else
      x = in.left + (in.Width() - ts.width) / 2;
  } else {
    x = in.left + (in.Width() - ts.height) / 2;
    if (align == 0)
      y = in.bottom - 3;
    else if (align == 2)
      y = in.top + ts.width + 2;
    else
      y = in.top + (in.Height() + ts.width) / 2;
  }
}

}  // namespace

void PaintProgressBar(const ProgressLook& look, Canvas& canvas, const Rect& client) {
  const ProgressState& s = look.state;
  if (s.lower >= s.upper) return;

  const bool buffered = !canvas.IsMemory();
  if (buffered) canvas.BeginBuffer(client);
  canvas.FillRect(client, canvas.Background());

  const COLORREF barColour = s.ResolvedBarColour();
  const COLORREF bkColour = s.ResolvedBkColour();
  const COLORREF textBkColour = s.ResolvedTextBkColour();
  const COLORREF textBarColour = s.ResolvedTextBarColour();

  const Rect inner = canvas.DrawSunkenEdge(client);
  const double f = (static_cast<double>(s.position) - s.lower) /
                   (static_cast<double>(s.upper) - static_cast<double>(s.lower));
  const BarParts parts = Layout(inner, f, look.vertical, s.marquee, s.marqueeSize);
  const Rect* empties[] = {&parts.before, &parts.after};

  if (!IsEmpty(parts.bar)) canvas.FillRect(parts.bar, barColour);
  for (const Rect* e : empties)
    if (!IsEmpty(*e)) canvas.FillRect(*e, bkColour);

  const std::string text = BarText(look, f);
  if (!text.empty()) {
    Font font = look.font;
    font.vertical = look.vertical;
    const TextSize ts = canvas.MeasureText(text, font);
    int x = 0, y = 0;
    TextOrigin(inner, ts, look.vertical, s.textAlign, x, y);
    if (!IsEmpty(parts.bar)) canvas.DrawText(x, y, text, font, textBarColour, parts.bar);
    for (const Rect* e : empties)
      if (!IsEmpty(*e)) canvas.DrawText(x, y, text, font, textBkColour, *e);
  }

  if (buffered) canvas.EndBuffer();
}

bool GetProgressLook(HWND hwnd, ProgressLook& look) {
  std::lock_guard<std::mutex> g(detail::RegistryMutex());
  auto w = detail::FindWindowLocked(hwnd);
  if (!w || w->kind != detail::Kind::kProgress) return false;
  look.state = w->progress;
  look.text = w->text;
  look.vertical = (w->style & PBS_VERTICAL) != 0;
  look.font = Font{};
  if (w->font) {
    look.font = *w->font;
  } else if (auto parent = detail::FindWindowLocked(w->parent); parent && parent->font) {
    look.font = *parent->font;
  }
  return true;
}

bool PaintProgress(HWND hwnd, Canvas& canvas, const Rect& client) {
  ProgressLook look;
  if (!GetProgressLook(hwnd, look)) return false;
  PaintProgressBar(look, canvas, client);
  return true;
}

}  // namespace win
