// The drawn progress bar painted on the terminal canvas, read back as cells.
#include <gtest/gtest.h>

#include <string>

#include "cell_canvas.h"
#include "win/controls.h"
#include "win/progress_paint.h"

using namespace win;
using canvas::CellCanvas;

namespace {

const COLORREF kCanvasBg = RGB(0, 0, 128);
const std::map<COLORREF, char> kLegend = {
    {GetSysColor(COLOR_HIGHLIGHT), 'B'}, {GetSysColor(COLOR_BTNFACE), '.'},
    {GetSysColor(COLOR_WINDOW), 'w'},    {GetSysColor(COLOR_WINDOWTEXT), 'k'},
    {GetSysColor(COLOR_BTNSHADOW), 's'}, {kCanvasBg, 'c'},
};

std::string Rep(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

ProgressLook Look(int pos, const std::string& text = "", int showPercent = 1) {
  ProgressLook look;
  look.state.position = pos;
  look.state.showPercent = showPercent;
  look.text = text;
  return look;
}

TEST(CellPaint, BarCellsAndTextSplitOnACellBoundary) {
  struct Case {
    const char* name;
    ProgressLook look;
    int columns, rows;
    std::string text, background, foreground;
  };
  ProgressLook marquee = Look(60, "", 0);
  marquee.state.marquee = true;
  ProgressLook vertical = Look(50);
  vertical.vertical = true;
  ProgressLook empty = Look(50);
  empty.state.lower = empty.state.upper = 50;
  const Case cases[] = {
      {"50 %: 14 of 28 cells, the text white up to the bar's last cell and black after", Look(50),
       30, 1, "[" + Rep(" ", 11) + " 50 %" + Rep(" ", 12) + "]\n",
       "c" + Rep("B", 14) + Rep(".", 14) + "c\n",
       "s" + Rep("k", 11) + "www" + Rep("k", 14) + "s\n"},
      {"fresh bar: all empty, black text", Look(0), 30, 1,
       "[" + Rep(" ", 12) + " 0 %" + Rep(" ", 12) + "]\n", "c" + Rep(".", 28) + "c\n",
       "s" + Rep("k", 28) + "s\n"},
      {"full bar: all white text", Look(100), 30, 1,
       "[" + Rep(" ", 11) + " 100 %" + Rep(" ", 11) + "]\n", "c" + Rep("B", 28) + "c\n",
       "s" + Rep("k", 11) + Rep("w", 6) + Rep("k", 11) + "s\n"},
      {"three rows get a box edge", Look(50), 30, 3,
       "┌" + Rep("─", 28) + "┐\n│" + Rep(" ", 11) + " 50 %" + Rep(" ", 12) + "│\n└" + Rep("─", 28) +
           "┘\n",
       Rep("c", 30) + "\nc" + Rep("B", 14) + Rep(".", 14) + "c\n" + Rep("c", 30) + "\n",
       Rep("s", 30) + "\ns" + Rep("k", 11) + "www" + Rep("k", 14) + "s\n" + Rep("s", 30) + "\n"},
      {"marquee: a block of 6 cells ending at 60 %", marquee, 30, 1, "[" + Rep(" ", 28) + "]\n",
       "c" + Rep(".", 10) + Rep("B", 6) + Rep(".", 12) + "c\n", "s" + Rep("k", 28) + "s\n"},
      {"vertical: the bar rises from the bottom, the text reads upward", vertical, 3, 12,
       "┌─┐\n│ │\n│ │\n│%│\n│ │\n│0│\n│5│\n│ │\n│ │\n│ │\n│ │\n└─┘\n",
       "ccc\nc.c\nc.c\nc.c\nc.c\nc.c\ncBc\ncBc\ncBc\ncBc\ncBc\nccc\n",
       "sss\nsks\nsks\nsks\nsks\nsks\nsws\nsws\nsks\nsks\nsks\nsss\n"},
      {"bytes that are not UTF-8 and control characters show as replacement characters",
       Look(0, "\xFF\x01", 0), 30, 1, "[" + Rep(" ", 13) + "\uFFFD\uFFFD" + Rep(" ", 13) + "]\n",
       "c" + Rep(".", 28) + "c\n", "s" + Rep("k", 28) + "s\n"},
      {"lower == upper paints nothing", empty, 30, 1, Rep(" ", 30) + "\n", Rep("c", 30) + "\n",
       Rep("k", 30) + "\n"},
  };
  for (const Case& c : cases) {
    for (auto target : {CellCanvas::Target::kMemory, CellCanvas::Target::kScreen}) {
      SCOPED_TRACE(std::string(c.name) +
                   (target == CellCanvas::Target::kScreen ? " (screen)" : " (memory)"));
      CellCanvas canvas(c.columns, c.rows, GetSysColor(COLOR_WINDOWTEXT), kCanvasBg, target);
      PaintProgressBar(c.look, canvas, Rect{0, 0, c.columns, c.rows});
      EXPECT_EQ(canvas.Text(), c.text);
      EXPECT_EQ(canvas.ColourMap(CellCanvas::Layer::kBackground, kLegend), c.background);
      EXPECT_EQ(canvas.ColourMap(CellCanvas::Layer::kForeground, kLegend), c.foreground);
    }
  }
}

TEST(CellPaint, DrawingOutsideTheGridOrClipIsDropped) {
  CellCanvas canvas(4, 2, RGB(0, 0, 0), RGB(1, 1, 1));
  canvas.FillRect(Rect{-5, -5, 100, 1}, RGB(2, 2, 2));
  canvas.DrawText(-2, 1, "abcdefgh", Font{}, RGB(3, 3, 3), Rect{-100, -100, 100, 100});
  canvas.DrawText(0, 0, "xyz", Font{}, RGB(3, 3, 3), Rect{1, 0, 2, 1});
  canvas.DrawText(3, 100, "vertical", Font{"", 0, true}, RGB(3, 3, 3), Rect{0, 0, 4, 2});
  EXPECT_EQ(canvas.Text(), " y  \ncdef\n");
  EXPECT_EQ(canvas.ColourMap(CellCanvas::Layer::kBackground, {{RGB(2, 2, 2), 'f'}}),
            "ffff\n????\n");
  EXPECT_EQ(canvas.At(99, 0), (canvas::Cell{U' ', RGB(0, 0, 0), RGB(1, 1, 1)}));
}

}  // namespace
