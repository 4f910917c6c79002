// The drawn progress bar painted on the raster canvas, checked pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "raster_canvas.h"
#include "win/controls.h"
#include "win/progress_paint.h"

using namespace win;
using canvas::RasterCanvas;

namespace {

const COLORREF kBar = GetSysColor(COLOR_HIGHLIGHT);
const COLORREF kFace = GetSysColor(COLOR_BTNFACE);
const COLORREF kMagenta = RGB(255, 0, 255);
const Font kPaneFont{"System", 10};
const Rect kWide{0, 0, 120, 22};  // the pane's bar: inner 2,2,118,20 (116 x 18)
const Rect kTall{0, 0, 22, 120};  // inner 2,2,20,118 (18 x 116)

unsigned R(COLORREF c) {
  return c & 0xFF;
}
unsigned G(COLORREF c) {
  return (c >> 8) & 0xFF;
}
unsigned B(COLORREF c) {
  return (c >> 16) & 0xFF;
}

// Pixels of row `y` (or column `x` when `vertical`) from `from` to `to` that have `colour`.
int Count(const RasterCanvas& c, bool vertical, int line, int from, int to, COLORREF colour) {
  int n = 0;
  for (int i = from; i < to; ++i)
    if ((vertical ? c.Pixel(line, i) : c.Pixel(i, line)) == colour) ++n;
  return n;
}

// The first and last index along row 2 (or column 2) holding the bar colour; {-1, -1} if none.
std::pair<int, int> BarSpan(const RasterCanvas& c, bool vertical) {
  std::pair<int, int> span{-1, -1};
  const int end = vertical ? c.Height() : c.Width();
  for (int i = 0; i < end; ++i)
    if ((vertical ? c.Pixel(2, i) : c.Pixel(i, 2)) == kBar) {
      if (span.first < 0) span.first = i;
      span.second = i;
    }
  return span;
}

struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // right/bottom inclusive
  int lightBeforeSplit = 0, darkAfterSplit = 0, wrongColour = 0;
  unsigned lightest = 0, darkest = 255;
};

// The text's pixels in `inner`: neither bar nor face colour. Before `split` (x, or for a
// vertical bar y at or below it) text must be lighter than the bar, after it darker than the
// face: the text colour changes exactly at the bar's end.
Ink FindInk(const RasterCanvas& c, const Rect& inner, bool vertical, int split) {
  Ink ink;
  for (int y = inner.top; y < inner.bottom; ++y)
    for (int x = inner.left; x < inner.right; ++x) {
      const COLORREF p = c.Pixel(x, y);
      if (p == kBar || p == kFace) continue;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
      const bool overBar = vertical ? y >= split : x < split;
      if (overBar) {
        const bool light = R(p) >= R(kBar) && G(p) >= G(kBar) && B(p) >= B(kBar);
        light ? ++ink.lightBeforeSplit : ++ink.wrongColour;
        ink.lightest = std::max(ink.lightest, std::min({R(p), G(p), B(p)}));
      } else {
        const bool dark = R(p) <= R(kFace) && G(p) <= G(kFace) && B(p) <= B(kFace);
        dark ? ++ink.darkAfterSplit : ++ink.wrongColour;
        ink.darkest = std::min(ink.darkest, std::max({R(p), G(p), B(p)}));
      }
    }
  return ink;
}

int TextWidth(const std::string& text) {
  RasterCanvas probe(1, 1, kFace);
  return probe.MeasureText(text, kPaneFont).width;
}

class RasterPaint : public ::testing::Test {
 protected:
  void SetUp() override {
    pane_ = CreateWindowEx(nullptr, kDialogClass, "", 7001, Rect{0, 0, 126, 160}, {});
    SetWindowFont(pane_, kPaneFont);
    bar_ = CreateWindowEx(pane_, kProgressClass, "", 7004, Rect{2, 30, 122, 52}, {},
                          WS_CHILD | WS_VISIBLE | PBS_SMOOTH);
  }
  void TearDown() override { DestroyWindow(pane_); }
  LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) { return SendMessage(bar_, msg, w, l); }
  // Paints the bar on a fresh canvas of the client's size.
  std::unique_ptr<RasterCanvas> Paint(const Rect& client, COLORREF background = kFace,
                                      RasterCanvas::Target target = RasterCanvas::Target::kMemory) {
    auto c = std::make_unique<RasterCanvas>(client.Width(), client.Height(), background, target);
    EXPECT_TRUE(PaintProgress(bar_, *c, client));
    return c;
  }
  HWND pane_ = nullptr;
  HWND bar_ = nullptr;
};

TEST_F(RasterPaint, BarTextAndBlockOnPixels) {
  struct Case {
    const char* name;
    std::function<void()> run;
  };
  const Case cases[] = {
      {"45 of 0-100: 45 % of the inner width, text in two colours split at the bar's end",
       [&] {
         Send(PBM_SETPOS, 45);
         auto c = Paint(kWide);
         const int end = 2 + 116 * 45 / 100;  // 54
         EXPECT_EQ(Count(*c, false, 2, 2, end, kBar), end - 2);
         EXPECT_EQ(Count(*c, false, 2, end, 118, kFace), 118 - end);
         EXPECT_EQ(Count(*c, false, 19, 2, end, kBar), end - 2);  // below the text as well
         const Ink ink = FindInk(*c, Rect{2, 2, 118, 20}, false, end);
         EXPECT_GT(ink.lightBeforeSplit, 10);
         EXPECT_GT(ink.darkAfterSplit, 10);
         EXPECT_EQ(ink.wrongColour, 0);
         EXPECT_GE(ink.lightest, 230u);  // the window colour over the bar
         EXPECT_LE(ink.darkest, 40u);    // the window-text colour over the empty part
         // " 45 %" centred: the ink starts after the blank, ends before the box's right side.
         const int tw = TextWidth(" 45 %");
         const int x0 = 2 + (116 - tw) / 2;
         EXPECT_GE(ink.left, x0 + TextWidth(" ") - 1);
         EXPECT_LE(ink.right, x0 + tw);
         // The sunken edge around it.
         EXPECT_EQ(c->Pixel(0, 10), GetSysColor(COLOR_BTNSHADOW));
         EXPECT_EQ(c->Pixel(119, 10), GetSysColor(COLOR_BTNSHADOW));
         EXPECT_EQ(c->Pixel(1, 10), kFace);
       }},
      {"lower == upper paints nothing",
       [&] {
         Send(PBM_SETRANGE32, 50, 50);
         Send(PBM_SETPOS, 50);
         auto c = Paint(kWide, kMagenta);
         for (int y = 0; y < 22; ++y) EXPECT_EQ(Count(*c, false, y, 0, 120, kMagenta), 120);
       }},
      {"vertical bar rises from the bottom with turned text split at its top",
       [&] {
         SetWindowStyle(bar_, GetWindowStyle(bar_) | PBS_VERTICAL);
         Send(PBM_SETPOS, 45);
         auto c = Paint(kTall);
         const int top = 118 - 116 * 45 / 100;  // 66
         EXPECT_EQ(Count(*c, true, 2, top, 118, kBar), 118 - top);
         EXPECT_EQ(Count(*c, true, 2, 2, top, kFace), top - 2);
         const Ink ink = FindInk(*c, Rect{2, 2, 20, 118}, true, top);
         EXPECT_GT(ink.bottom - ink.top, 2 * (ink.right - ink.left));  // turned by 90 degrees
         EXPECT_GT(ink.lightBeforeSplit, 10);
         EXPECT_GT(ink.darkAfterSplit, 10);
         EXPECT_EQ(ink.wrongColour, 0);
       }},
      {"marquee: a block of 20 % of the bar ending at the position",
       [&] {
         Send(PBM_SETMARQUEE, 1, 100000);
         Send(PBM_SETPOS, 60);
         auto c = Paint(kWide);
         const int end = 2 + 116 * 60 / 100;     // 71
         const int len = (116 * 20 + 50) / 100;  // 23
         EXPECT_EQ(BarSpan(*c, false), std::make_pair(end - len, end - 1));
         EXPECT_EQ(Count(*c, false, 2, 2, 118, kBar), len);
         EXPECT_EQ(Count(*c, false, 10, 2, 118, kBar), len);  // no text: whole block
       }},
      {"marquee: the shared direction turns at 120, the block leaves and comes back",
       [&] {
         Send(PBM_SETMARQUEE, 1, 100000);
         Send(PBM_SETPOS, 0);
         Send(WM_TIMER, kMarqueeTimerId);  // at the bottom the direction is up, whatever it was
         ASSERT_EQ(Send(PBM_GETPOS), 1);
         Send(PBM_SETPOS, 118);
         std::vector<int> positions, widths;
         for (int i = 0; i < 5; ++i) {
           auto c = Paint(kWide);
           positions.push_back(static_cast<int>(Send(PBM_GETPOS)));
           widths.push_back(Count(*c, false, 2, 0, 120, kBar));
           EXPECT_EQ(c->Pixel(118, 2), kFace) << "the block never covers the edge";
           Send(WM_TIMER, kMarqueeTimerId);
         }
         EXPECT_EQ(positions, (std::vector<int>{118, 119, 120, 119, 118}));
         EXPECT_EQ(widths, (std::vector<int>{3, 1, 0, 1, 3}));
       }},
      {"alignment 0, 1, 2 moves the text to its place",
       [&] {
         const int tw = TextWidth(" 0 %");
         const int x[3] = {2 + 2, 2 + (116 - tw) / 2, 118 - tw - 3};
         int left[3];
         for (int a = 0; a < 3; ++a) {
           Send(TPM_SETTEXTALIGN, static_cast<WPARAM>(a));
           auto c = Paint(kWide);
           left[a] = FindInk(*c, Rect{2, 2, 118, 20}, false, 2).left;
           EXPECT_LE(FindInk(*c, Rect{2, 2, 118, 20}, false, 2).right, x[a] + tw);
         }
         EXPECT_GE(left[0], x[0] + TextWidth(" ") - 1);
         EXPECT_LE(left[0], x[0] + TextWidth(" ") + 2);
         EXPECT_EQ(left[1] - left[0], x[1] - x[0]);
         EXPECT_EQ(left[2] - left[0], x[2] - x[0]);
       }},
      {"a window text that is not UTF-8 leaves the canvas working",
       [&] {
         SetWindowText(bar_, "\xB0\xA1\xFF");
         Send(PBM_SETPOS, 45);
         auto c = Paint(kWide);
         RasterCanvas& canvas = *c;
         Send(PBM_SETPOS, 80);
         ASSERT_TRUE(PaintProgress(bar_, canvas, kWide));
         EXPECT_EQ(Count(canvas, false, 19, 2, 118, kBar), 116 * 80 / 100);  // below the text
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.run();
  }
}

TEST_F(RasterPaint, BufferedScreenPaintGivesTheSamePixels) {
  Send(PBM_SETPOS, 45);
  auto memory = Paint(kWide);
  auto screen = Paint(kWide, kFace, RasterCanvas::Target::kScreen);
  ASSERT_FALSE(screen->IsMemory());
  int differ = 0;
  for (int y = 0; y < 22; ++y)
    for (int x = 0; x < 120; ++x) differ += memory->Pixel(x, y) != screen->Pixel(x, y);
  EXPECT_EQ(differ, 0);
}

}  // namespace
