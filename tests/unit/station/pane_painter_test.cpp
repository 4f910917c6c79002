// A progress pane read from its windows and painted: on the terminal's cells (caption, clock,
// the bar with its text, the step list scrolled to its newest lines or back, the frame telling
// the outcome) and on the raster canvas as a PNG picture of a pane mid-download.
#include "core/pane_painter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cell_canvas.h"
#include "core/text_fit.h"
#include "raster_canvas.h"
#include "support/temp_dir.h"
#include "ui/dialog_templates.h"
#include "utf8_text.h"
#include "win/controls.h"

namespace station {
namespace {

using win::GetSysColor;

TEST(PaneSnapshot, LastLineTellsTheOutcome) {
  struct Case {
    std::vector<std::string> lines;
    PaneOutcome outcome;
  };
  const std::vector<Case> cases = {
      {{}, PaneOutcome::kRunning},
      {{"1.TR52", "2.Load Bin"}, PaneOutcome::kRunning},
      {{"1.TR52", "16.OK"}, PaneOutcome::kSucceeded},
      {{"1.TR52", "2.Load Bin", "3.-.ERROR 1015 "}, PaneOutcome::kFailed},
      {{"1.-.Unknown"}, PaneOutcome::kFailed},
      // Only the pane's own numbered result lines count.
      {{"OK"}, PaneOutcome::kRunning},
      {{"3.OKAY"}, PaneOutcome::kRunning},
      {{"3.TRUSTED MODE"}, PaneOutcome::kRunning},
      {{".OK"}, PaneOutcome::kRunning},
      {{"4.-.ERRORS"}, PaneOutcome::kRunning},
  };
  for (const Case& c : cases) {
    const std::string last = c.lines.empty() ? "(none)" : c.lines.back();
    EXPECT_EQ(OutcomeOfLines(c.lines), c.outcome) << last;
  }
}

// The texts of `count` list lines: "STEP 1" ... with `last` as the last one when given.
std::vector<std::string> Steps(int count, const std::string& last = "") {
  std::vector<std::string> texts;
  for (int i = 1; i <= count; ++i)
    texts.push_back(i == count && !last.empty() ? last : "STEP " + std::to_string(i));
  return texts;
}

// A pane made from its template under a port window, fed as the plug-in feeds it: numbered
// list lines, each selected as it comes, and the bar's position.
class Pane {
 public:
  Pane(const std::vector<std::string>& texts, int position) {
    parent_ = win::CreateWindowEx(nullptr, "StationPort", "COM7", 0, win::Rect{}, {});
    pane_ = win::CreateDialogFromTemplate(
        parent_, tr52::kProgressDialogTemplate,
        [](win::HWND, win::UINT, win::WPARAM, win::LPARAM) { return win::LRESULT{0}; });
    win::SetWindowText(win::GetDlgItem(pane_, tr52::IDC_PORT_LABEL), "COM 7");
    win::SetWindowText(win::GetDlgItem(pane_, tr52::IDC_TIME_LABEL), "12 s");
    win::HWND list = win::GetDlgItem(pane_, tr52::IDC_STEP_LIST);
    for (size_t i = 0; i < texts.size(); ++i) {
      const std::string text = std::to_string(i + 1) + "." + texts[i];
      const auto index =
          win::SendMessage(list, win::LB_ADDSTRING, 0, reinterpret_cast<win::LPARAM>(text.c_str()));
      win::SendMessage(list, win::LB_SETCURSEL, static_cast<win::WPARAM>(index), 0);
    }
    win::HWND bar = win::GetDlgItem(pane_, tr52::IDC_PROGRESS_BAR);
    win::SendMessage(bar, win::PBM_SETRANGE, 0, static_cast<win::LPARAM>(win::MAKELONG(0, 100)));
    win::SendMessage(bar, win::PBM_SETPOS, static_cast<win::WPARAM>(position), 0);
  }
  ~Pane() { win::DestroyWindow(parent_); }
  win::HWND Parent() const { return parent_; }

 private:
  win::HWND parent_ = nullptr;
  win::HWND pane_ = nullptr;
};

std::string Row(const canvas::CellCanvas& c, int y) {
  std::u32string row;
  for (int x = 0; x < c.Columns(); ++x) row.push_back(c.At(x, y).ch);
  return canvas::EncodeUtf8(row);
}

TEST(PanePainter, CellsShowCaptionClockBarAndTheNewestSteps) {
  const auto layout = LayoutPane(tr52::kProgressDialogTemplate, kCellBaseUnits);
  ASSERT_TRUE(layout.has_value());
  struct Case {
    const char* name;
    int lines, position, scrollBack;
    int firstShown, lastShown;  // line numbers in the list's rows (0: none)
    int barCells;               // filled cells of the 28-cell inside of the bar
    std::string barText;
  };
  const std::vector<Case> cases = {
      {"fresh pane", 0, 0, 0, 0, 0, 0, "0 %"},
      {"few lines from the top", 3, 10, 0, 1, 3, 2, "10 %"},
      {"more lines than rows: the newest in view", 12, 45, 0, 4, 12, 12, "45 %"},
      {"scrolled back three lines", 12, 45, 3, 1, 9, 12, "45 %"},
      {"scrolled back past the first line stops there", 12, 45, 100, 1, 9, 12, "45 %"},
      {"a full bar", 12, 100, 0, 4, 12, 28, "100 %"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pane pane(Steps(c.lines), c.position);
    const auto snap = ReadPane(pane.Parent());
    ASSERT_TRUE(snap.has_value());
    canvas::CellCanvas cells(layout->width, layout->height, 0, 0);
    const int visible = PaintPane(*snap, *layout, 0, 0, c.scrollBack, cells);
    EXPECT_EQ(visible, 9);  // the list's 11 rows inside its box

    EXPECT_NE(Row(cells, 1).find("COM 7"), std::string::npos) << cells.Text();
    EXPECT_NE(Row(cells, 1).find("12 s"), std::string::npos) << cells.Text();
    // The bar: rows 4 to 6, its text on the middle row, the bar colour up to its end.
    EXPECT_NE(Row(cells, 5).find(" " + c.barText), std::string::npos) << cells.Text();
    int filled = 0;
    for (int x = 2; x < 30; ++x) filled += cells.At(x, 5).bg == GetSysColor(win::COLOR_HIGHLIGHT);
    EXPECT_EQ(filled, c.barCells) << cells.Text();
    // The list rows 8 to 16.
    std::vector<int> shown;
    for (int y = 8; y < 17; ++y) {
      const std::string row = Row(cells, y);
      const auto at = row.find("STEP ");
      if (at != std::string::npos) shown.push_back(std::atoi(row.c_str() + at + 5));
    }
    EXPECT_EQ(shown.empty() ? 0 : shown.front(), c.firstShown) << cells.Text();
    EXPECT_EQ(shown.empty() ? 0 : shown.back(), c.lastShown) << cells.Text();
    // The newest line is the list's selection, drawn highlighted when in view.
    if (c.lines > 0 && c.lastShown == c.lines) {
      const int row = 8 + (c.lastShown - c.firstShown);
      EXPECT_EQ(cells.At(3, row).bg, GetSysColor(win::COLOR_HIGHLIGHT));
      EXPECT_EQ(cells.At(3, row - 1 < 8 ? row : row - 1).bg, c.lastShown == c.firstShown
                                                                 ? GetSysColor(win::COLOR_HIGHLIGHT)
                                                                 : GetSysColor(win::COLOR_WINDOW));
    }
  }
}

TEST(PanePainter, FrameColourTellsTheOutcomeAndALineMarksTheFocus) {
  const auto layout = LayoutPane(tr52::kProgressDialogTemplate, kCellBaseUnits);
  ASSERT_TRUE(layout.has_value());
  struct Case {
    const char* last;
    PaneOutcome outcome;
    win::COLORREF ring;
    bool focused;
  };
  const std::vector<Case> cases = {
      {"STEP", PaneOutcome::kRunning, GetSysColor(win::COLOR_BTNSHADOW), false},
      {"OK", PaneOutcome::kSucceeded, win::RGB(0, 160, 0), true},
      {"-.ERROR 1015 ", PaneOutcome::kFailed, win::RGB(200, 0, 0), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.last);
    Pane pane(Steps(3, c.last), 100);
    const auto snap = ReadPane(pane.Parent());
    ASSERT_TRUE(snap.has_value());
    EXPECT_EQ(snap->outcome, c.outcome);
    canvas::CellCanvas cells(layout->width + 2, layout->height + 2, 0, 0);
    PaintFrame(*layout, 1, 1, 1, snap->outcome, c.focused, cells);
    PaintPane(*snap, *layout, 1, 1, 0, cells);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {0, 0}, {10, 0}, {0, 10}, {layout->width + 1, 5}, {5, layout->height + 1}})
      EXPECT_EQ(cells.At(x, y).bg, c.ring) << x << "," << y;
    EXPECT_EQ(cells.At(0, 0).ch, c.focused ? U'╔' : U' ');
    EXPECT_EQ(cells.At(1, 1).bg, GetSysColor(win::COLOR_BTNFACE)) << "the pane inside the frame";
  }
}

// A text wider than its box keeps its size when it fits, else shrinks by up to a fifth, else
// ends in "…" after the longest head that fits (no blank before the "…"); on every canvas it
// then fits its box.
TEST(PaneText, FitsWholeThenSmallerThenEndsInAnEllipsis) {
  canvas::RasterCanvas raster(10, 10, 0);
  canvas::CellCanvas cells(10, 10, 0, 0);
  const win::Font font = kPaneFont;
  win::Font small = font;
  small.pointSize = 8;
  // Widths taken from the canvas itself, so that the rows hold for any font size.
  auto width = [&](win::Canvas& c, const std::string& text, const win::Font& f) {
    return c.MeasureText(text, f).width;
  };
  struct Row {
    const char* name;
    win::Canvas* canvas;
    std::string text;
    int width;
    std::string fitted;  // "" : the text whole
    int points;
  };
  const std::string osbl = "10.FLASHING OSBL", logo = "11.FLASHING FLEXIBLE LOGO";
  const std::vector<Row> rows = {
      {"fits", &raster, "12.FLASHING AMSS", 200, "", 10},
      {"exactly fits", &raster, osbl, width(raster, osbl, font), "", 10},
      {"a point smaller", &raster, osbl, width(raster, osbl, font) - 1, "", 9},
      {"a fifth smaller", &raster, osbl, width(raster, osbl, small), "", 8},
      {"cut", &raster, logo, width(raster, "11.FLASHING FLEXI…", small), "11.FLASHING FLEXI…", 8},
      {"one unit short of the next letter", &raster, logo,
       width(raster, "11.FLASHING FLEXIB…", small) - 1, "11.FLASHING FLEXI…", 8},
      {"no blank before the ellipsis", &raster, logo, width(raster, "11.FLASHING F…", small) - 1,
       "11.FLASHING…", 8},
      {"cells do not shrink", &cells, logo, 20, "11.FLASHING FLEXIBL…", 10},
      {"cells fit", &cells, logo, 25, "", 10},
      {"nothing fits", &cells, logo, 0, "…", 10},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const FittedText fit = FitText(*row.canvas, row.text, font, row.width);
    EXPECT_EQ(fit.text, row.fitted.empty() ? row.text : row.fitted);
    EXPECT_EQ(fit.font.pointSize, row.points);
    if (row.width > 0) {
      EXPECT_LE(fit.size.width, row.width);
    }
    EXPECT_EQ(fit.size.width, row.canvas->MeasureText(fit.text, fit.font).width);
  }
  // Dialog units follow the font: its Latin letters' average width.
  EXPECT_EQ(MeasureBaseUnits(raster, font).x, canvas::kRasterBaseUnits.x);
  EXPECT_EQ(MeasureBaseUnits(cells, font).x, 1);
}

// A pane mid-download as a picture: written where TR52_PANE_PNG says (the README's picture is
// made so), else into a temporary folder.
TEST(PanePainter, RasterPictureOfAPaneMidDownload) {
  const auto layout = LayoutPane(tr52::kProgressDialogTemplate, canvas::kRasterBaseUnits);
  ASSERT_TRUE(layout.has_value());
  // The steps of a phone found in normal mode, up to the modem software's write.
  Pane pane(
      {"TR52", "Load Bin", "Battery Level", "BACKUP CNV", "Change Dload", "TR52", "TRUSTED MODE",
       "FLASHING DBL", "FLASHING FSBL", "FLASHING OSBL", "FLASHING FLEXIBLE LOGO", "FLASHING AMSS"},
      45);
  auto snap = ReadPane(pane.Parent());
  ASSERT_TRUE(snap.has_value());
  constexpr int kFrame = 4;
  canvas::RasterCanvas picture(layout->width + 2 * kFrame, layout->height + 2 * kFrame,
                               GetSysColor(win::COLOR_BTNFACE));
  PaintFrame(*layout, kFrame, kFrame, kFrame, snap->outcome, false, picture);
  PaintPane(*snap, *layout, kFrame, kFrame, 0, picture);

  // The bar (120 x 22 pixels at (2, 30) in the pane, a 2-pixel edge) filled to 45 % of its
  // inside, on its top row where no text is.
  const int barLeft = kFrame + 2 + 2, barTop = kFrame + 30 + 2, inner = 120 - 4;
  EXPECT_EQ(picture.Pixel(barLeft + inner * 45 / 100 - 1, barTop),
            GetSysColor(win::COLOR_HIGHLIGHT));
  EXPECT_EQ(picture.Pixel(barLeft + inner * 45 / 100, barTop), GetSysColor(win::COLOR_BTNFACE));
  // The frame of a running download, and the newest step's highlighted row at the list's foot.
  EXPECT_EQ(picture.Pixel(1, 1), GetSysColor(win::COLOR_BTNSHADOW));
  int highlighted = 0;
  for (int y = kFrame + 56; y < kFrame + 146; ++y)
    highlighted += picture.Pixel(kFrame + 118, y) == GetSysColor(win::COLOR_HIGHLIGHT);
  EXPECT_GT(highlighted, 8);
  EXPECT_LT(highlighted, 30);
  // No step's text runs into the list's right edge, where a cut letter would show ("10.FLASHING
  // OSBL" cut in its "B" read "OSE"): the two columns inside the edge hold no ink.
  const win::Rect listInside{kFrame + layout->list.left + 2, kFrame + layout->list.top + 2,
                             kFrame + layout->list.right - 2, kFrame + layout->list.bottom - 2};
  for (int y = listInside.top; y < listInside.bottom; ++y)
    for (int x = listInside.right - 2; x < listInside.right; ++x) {
      const win::COLORREF px = picture.Pixel(x, y);
      EXPECT_TRUE(px == GetSysColor(win::COLOR_WINDOW) || px == GetSysColor(win::COLOR_HIGHLIGHT))
          << "ink at " << x << "," << y;
    }

  tr52test::TempDir dir;
  const char* wanted = std::getenv("TR52_PANE_PNG");
  const std::string path = wanted && *wanted ? wanted : dir.File("pane.png");
  ASSERT_TRUE(picture.WritePng(path)) << path;
  std::ifstream png(path, std::ios::binary);
  char magic[8] = {};
  png.read(magic, sizeof magic);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

}  // namespace
}  // namespace station
