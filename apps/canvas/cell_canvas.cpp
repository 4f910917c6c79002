#include "cell_canvas.h"

#include <algorithm>

#include "utf8_text.h"

namespace canvas {
namespace {

win::Rect Clip(const win::Rect& r, int columns, int rows) {
  win::Rect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, columns),
              std::min(r.bottom, rows)};
  c.right = std::max(c.left, c.right);
  c.bottom = std::max(c.top, c.bottom);
  return c;
}

// Control characters would break the grid's rows: they show as the replacement character.
char32_t Printable(char32_t c) {
  return (c < 0x20 || (c >= 0x7F && c < 0xA0)) ? kReplacementCharacter : c;
}

}  // namespace

CellCanvas::CellCanvas(int columns, int rows, win::COLORREF foreground, win::COLORREF background,
                       Target target)
    : columns_(std::max(0, columns)),
      rows_(std::max(0, rows)),
      foreground_(foreground),
      background_(background),
      target_(target),
      cells_(static_cast<size_t>(columns_) * rows_, Cell{U' ', foreground, background}) {}

Cell CellCanvas::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= columns_ || y >= rows_) return Cell{U' ', foreground_, background_};
  return cells_[static_cast<size_t>(y) * columns_ + x];
}

Cell* CellCanvas::CellAt(int x, int y) {
  if (x < 0 || y < 0 || x >= columns_ || y >= rows_) return nullptr;
  return &Drawing()[static_cast<size_t>(y) * columns_ + x];
}

std::string CellCanvas::Text() const {
  std::u32string out;
  for (int y = 0; y < rows_; ++y) {
    for (int x = 0; x < columns_; ++x) out.push_back(At(x, y).ch);
    out.push_back(U'\n');
  }
  return EncodeUtf8(out);
}

std::string CellCanvas::ColourMap(Layer layer, const std::map<win::COLORREF, char>& legend) const {
  std::string out;
  for (int y = 0; y < rows_; ++y) {
    for (int x = 0; x < columns_; ++x) {
      const Cell c = At(x, y);
      auto it = legend.find(layer == Layer::kForeground ? c.fg : c.bg);
      out.push_back(it == legend.end() ? '?' : it->second);
    }
    out.push_back('\n');
  }
  return out;
}

void CellCanvas::BeginBuffer(const win::Rect& area) {
  if (buffering_) return;
  back_ = cells_;
  bufferArea_ = Clip(area, columns_, rows_);
  buffering_ = true;
}

void CellCanvas::EndBuffer() {
  if (!buffering_) return;
  buffering_ = false;
  for (int y = bufferArea_.top; y < bufferArea_.bottom; ++y)
    for (int x = bufferArea_.left; x < bufferArea_.right; ++x) {
      const size_t i = static_cast<size_t>(y) * columns_ + x;
      cells_[i] = back_[i];
    }
  back_.clear();
}

void CellCanvas::FillRect(const win::Rect& rect, win::COLORREF colour) {
  const win::Rect r = Clip(rect, columns_, rows_);
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      Cell* c = CellAt(x, y);
      c->ch = U' ';
      c->bg = colour;
    }
}

void CellCanvas::PutChar(int x, int y, char32_t ch, win::COLORREF fg) {
  if (Cell* c = CellAt(x, y)) {
    c->ch = ch;
    c->fg = fg;
  }
}

win::Rect CellCanvas::DrawSunkenEdge(const win::Rect& r) {
  const win::COLORREF shadow = win::GetSysColor(win::COLOR_BTNSHADOW);
  if (r.Width() <= 0 || r.Height() <= 0) return win::Rect{r.left, r.top, r.left, r.top};
  if (r.Height() >= 3 && r.Width() >= 2) {
    for (int x = r.left + 1; x < r.right - 1; ++x) {
      PutChar(x, r.top, U'─', shadow);
      PutChar(x, r.bottom - 1, U'─', shadow);
    }
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
      PutChar(r.left, y, U'│', shadow);
      PutChar(r.right - 1, y, U'│', shadow);
    }
    PutChar(r.left, r.top, U'┌', shadow);
    PutChar(r.right - 1, r.top, U'┐', shadow);
    PutChar(r.left, r.bottom - 1, U'└', shadow);
    PutChar(r.right - 1, r.bottom - 1, U'┘', shadow);
    return win::Rect{r.left + 1, r.top + 1, std::max(r.left + 1, r.right - 1), r.bottom - 1};
  }
  for (int y = r.top; y < r.bottom; ++y) {
    PutChar(r.left, y, U'[', shadow);
    if (r.Width() >= 2) PutChar(r.right - 1, y, U']', shadow);
  }
  return win::Rect{r.left + 1, r.top, std::max(r.left + 1, r.right - 1), r.bottom};
}

win::TextSize CellCanvas::MeasureText(const std::string& text, const win::Font& /*font*/) {
  return win::TextSize{static_cast<int>(DecodeUtf8(text).size()), 1};
}

void CellCanvas::DrawText(int x, int y, const std::string& text, const win::Font& font,
                          win::COLORREF colour, const win::Rect& clip) {
  const win::Rect area = Clip(clip, columns_, rows_);
  const std::u32string chars = DecodeUtf8(text);
  for (size_t i = 0; i < chars.size(); ++i) {
    // A vertical text fills the cells above its origin, the first character lowest.
    const long long step = static_cast<long long>(i);
    const long long cx = font.vertical ? x : x + step;
    const long long cy = font.vertical ? y - 1 - step : y;
    if (cx >= area.right || cy < area.top) break;  // the rest lies beyond the clip
    if (cx >= area.left && cy < area.bottom)
      PutChar(static_cast<int>(cx), static_cast<int>(cy), Printable(chars[i]), colour);
  }
}

}  // namespace canvas
