#include "win/progress_paint.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "win/dialog.h"

using namespace win;

namespace {

// Writes every canvas call as one line. Text is 6 units a character wide and 10 high, the edge
// 2 units thick, so the expected geometry can be worked out by hand.
class RecordingCanvas : public Canvas {
 public:
  explicit RecordingCanvas(bool memory = true) : memory_(memory) {}
  bool IsMemory() const override { return memory_; }
  void BeginBuffer(const Rect& r) override { Add("begin " + R(r)); }
  void EndBuffer() override { Add("end"); }
  COLORREF Background() const override { return RGB(1, 2, 3); }
  void FillRect(const Rect& r, COLORREF c) override { Add("fill " + R(r) + " " + C(c)); }
  Rect DrawSunkenEdge(const Rect& r) override {
    Add("edge " + R(r));
    return Rect{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
  }
  TextSize MeasureText(const std::string& text, const Font&) override {
    return TextSize{6 * static_cast<int>(text.size()), 10};
  }
  void DrawText(int x, int y, const std::string& text, const Font& font, COLORREF c,
                const Rect& clip) override {
    Add("text " + std::to_string(x) + "," + std::to_string(y) + " '" + text + "' " + C(c) + " in " +
        R(clip) + (font.vertical ? " vertical" : "") + " font " + font.face + "/" +
        std::to_string(font.pointSize));
  }
  const std::vector<std::string>& Calls() const { return calls_; }

 private:
  static std::string R(const Rect& r) {
    char b[64];
    std::snprintf(b, sizeof b, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
    return b;
  }
  static std::string C(COLORREF c) {
    if (c == RGB(1, 2, 3)) return "canvas";
    if (c == GetSysColor(COLOR_HIGHLIGHT)) return "bar";
    if (c == GetSysColor(COLOR_BTNFACE)) return "face";
    if (c == GetSysColor(COLOR_WINDOW)) return "white";
    if (c == GetSysColor(COLOR_WINDOWTEXT)) return "black";
    char b[16];
    std::snprintf(b, sizeof b, "#%06x", c);
    return b;
  }
  void Add(std::string s) { calls_.push_back(std::move(s)); }
  bool memory_;
  std::vector<std::string> calls_;
};

ProgressLook Look(int pos, int lower = 0, int upper = 100) {
  ProgressLook look;
  look.state.lower = lower;
  look.state.upper = upper;
  look.state.position = pos;
  return look;
}

ProgressLook Marquee(ProgressLook look, int size = 20) {
  look.state.marquee = true;
  look.state.showPercent = 0;
  look.state.marqueeSize = size;
  return look;
}

ProgressLook Vertical(ProgressLook look) {
  look.vertical = true;
  return look;
}

ProgressLook Aligned(ProgressLook look, int align) {
  look.state.textAlign = align;
  return look;
}

ProgressLook Text(ProgressLook look, const std::string& text, int showPercent = 1) {
  look.text = text;
  look.state.showPercent = showPercent;
  return look;
}

const Rect kWide{0, 0, 124, 24};  // inner 2,2,122,22: 120 wide, 20 high
const Rect kTall{0, 0, 24, 124};  // inner 2,2,22,122: 20 wide, 120 high
const std::string kFill = "fill 0,0,124,24 canvas";
const std::string kEdge = "edge 0,0,124,24";
const std::string kFillTall = "fill 0,0,24,124 canvas";
const std::string kEdgeTall = "edge 0,0,24,124";

struct GeometryCase {
  const char* name;
  ProgressLook look;
  Rect client;
  std::vector<std::string> calls;
};

TEST(ProgressPaint, GeometryOfBarBlockAndText) {
  const GeometryCase cases[] = {
      {"45 of 0-100: 45 % of the inner width, centred text split at the bar's end",
       Look(45),
       kWide,
       {kFill, kEdge, "fill 2,2,56,22 bar", "fill 56,2,122,22 face",
        "text 47,7 ' 45 %' white in 2,2,56,22 font /0",
        "text 47,7 ' 45 %' black in 56,2,122,22 font /0"}},
      {"fresh bar: no bar part, a blank and 0 % over the empty part",
       Look(0),
       kWide,
       {kFill, kEdge, "fill 2,2,122,22 face", "text 50,7 ' 0 %' black in 2,2,122,22 font /0"}},
      {"full bar: no empty part",
       Look(100),
       kWide,
       {kFill, kEdge, "fill 2,2,122,22 bar", "text 44,7 ' 100 %' white in 2,2,122,22 font /0"}},
      {"the fraction is of the range, not of the upper end",
       Look(45, 20, 70),
       kWide,
       {kFill, kEdge, "fill 2,2,62,22 bar", "fill 62,2,122,22 face",
        "text 47,7 ' 50 %' white in 2,2,62,22 font /0",
        "text 47,7 ' 50 %' black in 62,2,122,22 font /0"}},
      {"the percentage rounds half up",
       Look(1, 0, 200),
       kWide,
       {kFill, kEdge, "fill 2,2,122,22 face", "text 50,7 ' 1 %' black in 2,2,122,22 font /0"}},
      {"alignment 0: two units from the left",
       Aligned(Look(45), 0),
       kWide,
       {kFill, kEdge, "fill 2,2,56,22 bar", "fill 56,2,122,22 face",
        "text 4,7 ' 45 %' white in 2,2,56,22 font /0",
        "text 4,7 ' 45 %' black in 56,2,122,22 font /0"}},
      {"alignment 2: three units from the right",
       Aligned(Look(45), 2),
       kWide,
       {kFill, kEdge, "fill 2,2,56,22 bar", "fill 56,2,122,22 face",
        "text 89,7 ' 45 %' white in 2,2,56,22 font /0",
        "text 89,7 ' 45 %' black in 56,2,122,22 font /0"}},
      {"window text comes before the percentage",
       Text(Look(45), "COM7"),
       kWide,
       {kFill, kEdge, "fill 2,2,56,22 bar", "fill 56,2,122,22 face",
        "text 35,7 'COM7 45 %' white in 2,2,56,22 font /0",
        "text 35,7 'COM7 45 %' black in 56,2,122,22 font /0"}},
      {"no text and no percentage: no text drawn",
       Text(Look(45), "", 0),
       kWide,
       {kFill, kEdge, "fill 2,2,56,22 bar", "fill 56,2,122,22 face"}},
      {"lower == upper paints nothing", Look(50, 50, 50), kWide, {}},
      {"lower > upper paints nothing", Look(50, 60, 40), kWide, {}},
      {"vertical: the bar rises from the bottom, the text is turned and centred",
       Vertical(Look(45)),
       kTall,
       {kFillTall, kEdgeTall, "fill 2,68,22,122 bar", "fill 2,2,22,68 face",
        "text 7,77 ' 45 %' white in 2,68,22,122 vertical font /0",
        "text 7,77 ' 45 %' black in 2,2,22,68 vertical font /0"}},
      {"vertical alignment 0: three units above the bottom",
       Aligned(Vertical(Look(45)), 0),
       kTall,
       {kFillTall, kEdgeTall, "fill 2,68,22,122 bar", "fill 2,2,22,68 face",
        "text 7,119 ' 45 %' white in 2,68,22,122 vertical font /0",
        "text 7,119 ' 45 %' black in 2,2,22,68 vertical font /0"}},
      {"vertical alignment 2: the text ends two units below the top",
       Aligned(Vertical(Look(45)), 2),
       kTall,
       {kFillTall, kEdgeTall, "fill 2,68,22,122 bar", "fill 2,2,22,68 face",
        "text 7,34 ' 45 %' white in 2,68,22,122 vertical font /0",
        "text 7,34 ' 45 %' black in 2,2,22,68 vertical font /0"}},
      {"marquee: a block of 20 % (24 units) ending at the position, empty on both sides",
       Marquee(Look(60)),
       kWide,
       {kFill, kEdge, "fill 50,2,74,22 bar", "fill 2,2,50,22 face", "fill 74,2,122,22 face"}},
      {"marquee with text: three passes, one per part",
       Text(Marquee(Look(60)), "busy", 0),
       kWide,
       {kFill, kEdge, "fill 50,2,74,22 bar", "fill 2,2,50,22 face", "fill 74,2,122,22 face",
        "text 50,7 'busy' white in 50,2,74,22 font /0",
        "text 50,7 'busy' black in 2,2,50,22 font /0",
        "text 50,7 'busy' black in 74,2,122,22 font /0"}},
      {"marquee near the start: the block is cut at the left edge",
       Marquee(Look(10)),
       kWide,
       {kFill, kEdge, "fill 2,2,14,22 bar", "fill 14,2,122,22 face"}},
      {"marquee at 120: the block is past the end and never paints over the edge",
       Marquee(Look(120)),
       kWide,
       {kFill, kEdge, "fill 2,2,122,22 face"}},
      {"marquee block size in percent of the bar",
       Marquee(Look(60), 50),
       kWide,
       {kFill, kEdge, "fill 14,2,74,22 bar", "fill 2,2,14,22 face", "fill 74,2,122,22 face"}},
      {"a huge block size fills no more than the inner rectangle",
       Marquee(Look(50), INT_MAX),
       kWide,
       {kFill, kEdge, "fill 2,2,62,22 bar", "fill 62,2,122,22 face"}},
      {"vertical marquee: the block hangs below its far end",
       Vertical(Marquee(Look(60))),
       kTall,
       {kFillTall, kEdgeTall, "fill 2,50,22,74 bar", "fill 2,74,22,122 face",
        "fill 2,2,22,50 face"}},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingCanvas canvas;
    PaintProgressBar(c.look, canvas, c.client);
    EXPECT_EQ(canvas.Calls(), c.calls);
  }
}

TEST(ProgressPaint, ColoursSetByMessagesAreUsed) {
  ProgressLook look = Look(45);
  look.state.barColour = RGB(0x11, 0, 0);
  look.state.bkColour = RGB(0x22, 0, 0);
  look.state.textBarColour = RGB(0x33, 0, 0);
  look.state.textBkColour = RGB(0x44, 0, 0);
  RecordingCanvas canvas;
  PaintProgressBar(look, canvas, kWide);
  EXPECT_EQ(canvas.Calls(), (std::vector<std::string>{
                                kFill, kEdge, "fill 2,2,56,22 #000011", "fill 56,2,122,22 #000022",
                                "text 47,7 ' 45 %' #000033 in 2,2,56,22 font /0",
                                "text 47,7 ' 45 %' #000044 in 56,2,122,22 font /0"}));
}

TEST(ProgressPaint, ScreenCanvasGetsExactlyOneBufferedPaint) {
  RecordingCanvas memory(true), screen(false);
  PaintProgressBar(Look(45), memory, kWide);
  PaintProgressBar(Look(45), screen, kWide);
  std::vector<std::string> expected = memory.Calls();
  expected.insert(expected.begin(), "begin 0,0,124,24");
  expected.push_back("end");
  EXPECT_EQ(screen.Calls(), expected);

  RecordingCanvas idle(false);
  PaintProgressBar(Look(5, 5, 5), idle, kWide);
  EXPECT_TRUE(idle.Calls().empty());
}

const DialogItem kPaneItems[] = {
    {7004, kProgressClass, "", RectXYWH(1, 15, 60, 11), PBS_SMOOTH},
    {7005, kListBoxClass, "", RectXYWH(1, 28, 60, 45), 0},
};
const DialogTemplate kPane = {7001, "", 63, 80, WS_CHILD | DS_SETFONT, "System", 10, kPaneItems};

TEST(ProgressPaint, ControlPaintsItsStateTextStyleAndFont) {
  HWND dlg = CreateDialogFromTemplate(nullptr, kPane, {});
  ASSERT_NE(dlg, nullptr);
  HWND bar = GetDlgItem(dlg, 7004);
  HWND list = GetDlgItem(dlg, 7005);
  EXPECT_EQ(GetWindowFont(dlg), (Font{"System", 10}));
  EXPECT_FALSE(GetWindowFont(bar).has_value());

  SendMessage(bar, PBM_SETPOS, 45, 0);
  {
    SCOPED_TRACE("a control without its own font paints with its parent's");
    RecordingCanvas canvas;
    ASSERT_TRUE(PaintProgress(bar, canvas, kWide));
    EXPECT_EQ(canvas.Calls().back(), "text 47,7 ' 45 %' black in 56,2,122,22 font System/10");
  }
  {
    SCOPED_TRACE("its own font and window text win; the vertical style turns the bar");
    SetWindowFont(bar, Font{"Mono", 8});
    SetWindowText(bar, "x");
    SetWindowStyle(bar, GetWindowStyle(bar) | PBS_VERTICAL);
    RecordingCanvas canvas;
    ASSERT_TRUE(PaintProgress(bar, canvas, kTall));
    EXPECT_EQ(canvas.Calls().back(), "text 7,80 'x 45 %' black in 2,2,22,68 vertical font Mono/8");
  }
  RecordingCanvas canvas;
  EXPECT_FALSE(PaintProgress(list, canvas, kWide));
  EXPECT_FALSE(PaintProgress(dlg, canvas, kWide));
  DestroyWindow(dlg);
  EXPECT_FALSE(PaintProgress(bar, canvas, kWide));
  EXPECT_TRUE(canvas.Calls().empty());
}

// Counts the front end's notices per window.
class CountingFrontEnd : public FrontEnd {
 public:
  void Invalidate(HWND hwnd) override {
    if (hwnd == watched) ++count;
  }
  int ShowMessageBox(HWND, const std::string&, const std::string&, UINT) override { return IDOK; }
  HWND watched = nullptr;
  int count = 0;
};

struct ScopedFrontEnd {
  explicit ScopedFrontEnd(FrontEnd* f) { SetFrontEnd(f); }
  ~ScopedFrontEnd() { SetFrontEnd(nullptr); }
};

TEST(ProgressPaint, EveryChangeAsksForOnePaintAndReadsForNone) {
  struct Case {
    const char* name;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    int notices;
  };
  const Case cases[] = {
      {"set position", PBM_SETPOS, 45, 0, 1},
      {"move position", PBM_DELTAPOS, 5, 0, 1},
      {"step", PBM_STEPIT, 0, 0, 1},
      {"range", PBM_SETRANGE, 0, static_cast<LPARAM>(MAKELONG(0, 200)), 1},
      {"range 32", PBM_SETRANGE32, 0, 100, 1},
      {"bar colour", PBM_SETBARCOLOR, 0, RGB(1, 1, 1), 1},
      {"background colour", PBM_SETBKCOLOR, 0, RGB(1, 1, 1), 1},
      {"text colour over the bar", TPM_SETTEXTBARCOLOR, 0, RGB(2, 2, 2), 1},
      {"text colour over the empty part", TPM_SETTEXTBKCOLOR, 0, RGB(2, 2, 2), 1},
      {"percentage", TPM_SETSHOWPERCENT, 0, 0, 1},
      {"alignment", TPM_SETTEXTALIGN, 2, 0, 1},
      {"block size", TPM_SETMARQUEESIZE, 30, 0, 1},
      {"window text", WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x"), 1},
      {"read position", PBM_GETPOS, 0, 0, 0},
      {"read range", PBM_GETRANGE, 1, 0, 0},
      {"read bar colour", TPM_GETBARCOLOR, 0, 0, 0},
  };
  CountingFrontEnd fe;
  ScopedFrontEnd scope(&fe);
  HWND pb = CreateWindowEx(nullptr, kProgressClass, "", 7004, Rect{0, 0, 60, 11}, {});
  fe.watched = pb;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fe.count = 0;
    SendMessage(pb, c.msg, c.wParam, c.lParam);
    EXPECT_EQ(fe.count, c.notices);
  }
  {
    SCOPED_TRACE("marquee on, one tick of its timer, marquee off");
    fe.count = 0;
    SendMessage(pb, PBM_SETMARQUEE, 1, 1000);
    EXPECT_EQ(fe.count, 1);
    SendMessage(pb, WM_TIMER, kMarqueeTimerId, 0);
    EXPECT_EQ(fe.count, 2);
    SendMessage(pb, PBM_SETMARQUEE, 0, 0);
    EXPECT_EQ(fe.count, 3);
  }
  DestroyWindow(pb);
}

}  // namespace
