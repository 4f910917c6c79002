// A canvas of character cells for terminal front ends: a rectangle is a block of cells, colour
// is a cell attribute (a foreground and a background colour per cell), text takes one cell a
// character, so a two-colour text splits on a cell boundary. The grid lives in memory; a
// terminal front end shows it, and tests read it back as text.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "win/canvas.h"

namespace canvas {

struct Cell {
  char32_t ch = U' ';
  win::COLORREF fg = 0;
  win::COLORREF bg = 0;
  bool operator==(const Cell&) const = default;
};

class CellCanvas : public win::Canvas {
 public:
  // kScreen behaves like a terminal shown while it is drawn: every paint goes through an
  // off-screen copy of its area that is put on the grid in one piece.
  enum class Target { kMemory, kScreen };
  enum class Layer { kForeground, kBackground };

  // A grid of blank cells in the given colours. Sizes below 0 are taken as 0.
  CellCanvas(int columns, int rows, win::COLORREF foreground, win::COLORREF background,
             Target target = Target::kMemory);

  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  // One cell; a blank in the canvas's colours outside the grid.
  Cell At(int x, int y) const;
  // The characters, row by row, each row ended by a newline (UTF-8).
  std::string Text() const;
  // One character a cell naming its colour in `layer` by `legend`; '?' for a colour not in it.
  std::string ColourMap(Layer layer, const std::map<win::COLORREF, char>& legend) const;

  bool IsMemory() const override { return target_ == Target::kMemory; }
  void BeginBuffer(const win::Rect& area) override;
  void EndBuffer() override;
  win::COLORREF Background() const override { return background_; }
  void FillRect(const win::Rect& rect, win::COLORREF colour) override;
  // Three rows or more: a box of line characters one cell thick. Fewer: a bracket at each end
  // of the rows, so a one-row bar keeps its row.
  win::Rect DrawSunkenEdge(const win::Rect& rect) override;
  // One cell a character, one row high, whatever the font.
  win::TextSize MeasureText(const std::string& text, const win::Font& font) override;
  void DrawText(int x, int y, const std::string& text, const win::Font& font, win::COLORREF colour,
                const win::Rect& clip) override;

 private:
  std::vector<Cell>& Drawing() { return buffering_ ? back_ : cells_; }
  Cell* CellAt(int x, int y);
  void PutChar(int x, int y, char32_t ch, win::COLORREF fg);

  int columns_;
  int rows_;
  win::COLORREF foreground_;
  win::COLORREF background_;
  Target target_;
  std::vector<Cell> cells_;
  std::vector<Cell> back_;
  bool buffering_ = false;
  win::Rect bufferArea_;
};

}  // namespace canvas
