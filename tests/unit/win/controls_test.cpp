#include "win/controls.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "pump_util.h"

using namespace win;

namespace {

LRESULT Send(HWND h, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
  return SendMessage(h, msg, wp, lp);
}
LRESULT Add(HWND h, const char* text) {
  return SendMessage(h, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

class ListBoxTest : public ::testing::Test {
 protected:
  // 45 units high with rows of 8: five whole rows visible.
  void SetUp() override {
    lb_ = CreateWindowEx(nullptr, kListBoxClass, "", 7005, Rect{0, 0, 60, 45}, {});
  }
  void TearDown() override { DestroyWindow(lb_); }
  HWND lb_ = nullptr;
};

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pb_ = CreateWindowEx(nullptr, kProgressClass, "", 7004, Rect{0, 0, 60, 11}, {});
  }
  void TearDown() override { DestroyWindow(pb_); }
  ProgressState State() { return GetProgressState(pb_).value(); }
  HWND pb_ = nullptr;
};

}  // namespace

TEST_F(ListBoxTest, AddReturnsIndexAndTextsReadBack) {
  EXPECT_EQ(Add(lb_, "1.Load Bin"), 0);
  EXPECT_EQ(Add(lb_, "2.Write Flash"), 1);
  EXPECT_EQ(Send(lb_, LB_GETCOUNT), 2);
  EXPECT_EQ(Send(lb_, LB_GETTEXTLEN, 1), 13);
  char buf[32];
  EXPECT_EQ(Send(lb_, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(buf)), 13);
  EXPECT_STREQ(buf, "2.Write Flash");
  EXPECT_EQ(Send(lb_, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(buf)), LB_ERR);
  EXPECT_EQ(Send(lb_, LB_GETTEXTLEN, static_cast<WPARAM>(-1)), LB_ERR);
  EXPECT_EQ(Send(lb_, LB_ADDSTRING, 0, 0), LB_ERR);
}

TEST_F(ListBoxTest, SelectionScrollsTheNewestLineIntoView) {
  EXPECT_EQ(Send(lb_, LB_GETCURSEL), LB_ERR);
  for (int i = 0; i < 8; ++i) {
    const LRESULT at = Add(lb_, "line");
    EXPECT_EQ(Send(lb_, LB_SETCURSEL, static_cast<WPARAM>(at)), at);
  }
  EXPECT_EQ(Send(lb_, LB_GETCURSEL), 7);
  EXPECT_EQ(Send(lb_, LB_GETTOPINDEX), 3);  // rows 3..7 visible
  auto s = GetListBoxState(lb_).value();
  EXPECT_EQ(s.visibleRows, 5);
  EXPECT_EQ(s.items.size(), 8u);
  // Selecting an earlier row scrolls back to it.
  Send(lb_, LB_SETCURSEL, 1);
  EXPECT_EQ(Send(lb_, LB_GETTOPINDEX), 1);
}

TEST_F(ListBoxTest, SetCurSelEdgeCases) {
  Add(lb_, "a");
  Add(lb_, "b");
  EXPECT_EQ(Send(lb_, LB_SETCURSEL, 1), 1);
  EXPECT_EQ(Send(lb_, LB_SETCURSEL, 5), LB_ERR);
  EXPECT_EQ(Send(lb_, LB_GETCURSEL), 1);  // unchanged by a bad index
  // Clearing answers LB_ERR although it succeeds.
  EXPECT_EQ(Send(lb_, LB_SETCURSEL, static_cast<WPARAM>(-1)), LB_ERR);
  EXPECT_EQ(Send(lb_, LB_GETCURSEL), LB_ERR);
}

TEST_F(ListBoxTest, TopIndexIsClampedAndResetClearsAll) {
  for (int i = 0; i < 10; ++i) Add(lb_, "x");
  EXPECT_EQ(Send(lb_, LB_SETTOPINDEX, 9), 0);
  EXPECT_EQ(Send(lb_, LB_GETTOPINDEX), 5);  // the last page stays full
  EXPECT_EQ(Send(lb_, LB_SETTOPINDEX, 10), LB_ERR);
  Send(lb_, LB_SETCURSEL, 4);
  EXPECT_EQ(Send(lb_, LB_RESETCONTENT), 0);
  EXPECT_EQ(Send(lb_, LB_GETCOUNT), 0);
  EXPECT_EQ(Send(lb_, LB_GETCURSEL), LB_ERR);
  EXPECT_EQ(Send(lb_, LB_GETTOPINDEX), 0);
}

TEST_F(ListBoxTest, InsertAndDeleteKeepTheSelectionOnItsItem) {
  Add(lb_, "a");
  Add(lb_, "c");
  Send(lb_, LB_SETCURSEL, 1);
  EXPECT_EQ(Send(lb_, LB_INSERTSTRING, 1, reinterpret_cast<LPARAM>("b")), 1);
  EXPECT_EQ(Send(lb_, LB_GETCURSEL), 2);
  EXPECT_EQ(Send(lb_, LB_DELETESTRING, 0), 2);
  EXPECT_EQ(Send(lb_, LB_GETCURSEL), 1);
  EXPECT_EQ(GetListBoxState(lb_)->items, (std::vector<std::string>{"b", "c"}));
}

TEST_F(ListBoxTest, CrossThreadAddsLandOnTheOwner) {
  std::thread worker([this] {
    for (int i = 0; i < 50; ++i) EXPECT_EQ(Add(lb_, "w"), i);
  });
  bool done = false;
  std::thread waiter([&] {
    worker.join();
    done = true;
  });
  while (Send(lb_, LB_GETCOUNT) < 50) PumpMessages(5);
  waiter.join();
  EXPECT_TRUE(done);
}

TEST_F(ProgressTest, FreshBarHasTheDrawnControlDefaults) {
  const ProgressState s = State();
  EXPECT_EQ(s.position, 0);
  EXPECT_EQ(s.lower, 0);
  EXPECT_EQ(s.upper, 100);
  EXPECT_EQ(s.step, 10);
  EXPECT_EQ(s.showPercent, 1);
  EXPECT_EQ(s.textAlign, 1);
  EXPECT_EQ(s.marqueeSize, 20);
  EXPECT_EQ(s.barColour, CLR_DEFAULT);
  EXPECT_EQ(Send(pb_, TPM_GETBARCOLOR), static_cast<LRESULT>(GetSysColor(COLOR_HIGHLIGHT)));
  EXPECT_EQ(Send(pb_, TPM_GETBKCOLOR), static_cast<LRESULT>(GetSysColor(COLOR_BTNFACE)));
  EXPECT_EQ(Send(pb_, TPM_GETTEXTBKCOLOR), static_cast<LRESULT>(GetSysColor(COLOR_WINDOWTEXT)));
  EXPECT_EQ(Send(pb_, TPM_GETTEXTBARCOLOR), static_cast<LRESULT>(GetSysColor(COLOR_WINDOW)));
  EXPECT_FALSE(GetListBoxState(pb_).has_value());
}

TEST_F(ProgressTest, SetPosReturnsPreviousAndClampsToTheRange) {
  EXPECT_EQ(Send(pb_, PBM_SETPOS, 45), 0);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 45);
  EXPECT_EQ(Send(pb_, PBM_SETPOS, 150), 45);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 100);
  EXPECT_EQ(Send(pb_, PBM_SETPOS, static_cast<WPARAM>(-5)), 100);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 0);
  EXPECT_EQ(Send(pb_, PBM_DELTAPOS, 30), 0);
  EXPECT_EQ(Send(pb_, PBM_DELTAPOS, static_cast<WPARAM>(-40)), 30);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 0);
}

TEST_F(ProgressTest, SteppingWrapsAroundTheRange) {
  EXPECT_EQ(Send(pb_, PBM_SETSTEP, 10), 10);
  Send(pb_, PBM_SETPOS, 95);
  EXPECT_EQ(Send(pb_, PBM_STEPIT), 95);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 5);
  EXPECT_EQ(Send(pb_, PBM_SETSTEP, static_cast<WPARAM>(-10)), 10);
  EXPECT_EQ(Send(pb_, PBM_STEPIT), 5);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 95);
  Send(pb_, PBM_SETSTEP, 10);
  Send(pb_, PBM_SETPOS, 90);
  Send(pb_, PBM_STEPIT);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 100);  // exactly the upper end does not wrap
}

TEST_F(ProgressTest, RangeMessagesPackAndReportTheRange) {
  EXPECT_EQ(Send(pb_, PBM_SETRANGE, 0, static_cast<LPARAM>(MAKELONG(10, 20))),
            static_cast<LRESULT>(MAKELONG(0, 100)));
  PBRANGE r{};
  EXPECT_EQ(Send(pb_, PBM_GETRANGE, 1, reinterpret_cast<LPARAM>(&r)), 10);
  EXPECT_EQ(r.iLow, 10);
  EXPECT_EQ(r.iHigh, 20);
  EXPECT_EQ(Send(pb_, PBM_GETRANGE, 0, 0), 20);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 10);  // the position follows the new range
  EXPECT_EQ(Send(pb_, PBM_SETRANGE32, static_cast<WPARAM>(-50), 70000),
            static_cast<LRESULT>(MAKELONG(10, 20)));
  EXPECT_EQ(Send(pb_, PBM_GETRANGE, 1, 0), -50);
  EXPECT_EQ(Send(pb_, PBM_GETRANGE, 0, 0), 70000);
  Send(pb_, PBM_SETPOS, 65000);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 65000);
}

TEST_F(ProgressTest, ColourAndTextMessagesReturnPreviousValues) {
  EXPECT_EQ(Send(pb_, PBM_SETBARCOLOR, 0, RGB(1, 2, 3)), static_cast<LRESULT>(CLR_DEFAULT));
  EXPECT_EQ(Send(pb_, PBM_SETBARCOLOR, 0, RGB(4, 5, 6)), static_cast<LRESULT>(RGB(1, 2, 3)));
  EXPECT_EQ(Send(pb_, TPM_GETBARCOLOR), static_cast<LRESULT>(RGB(4, 5, 6)));
  EXPECT_EQ(Send(pb_, PBM_SETBKCOLOR, 0, RGB(9, 9, 9)), static_cast<LRESULT>(CLR_DEFAULT));
  EXPECT_EQ(Send(pb_, TPM_SETTEXTBKCOLOR, 0, RGB(7, 7, 7)), static_cast<LRESULT>(CLR_DEFAULT));
  EXPECT_EQ(Send(pb_, TPM_GETTEXTBKCOLOR), static_cast<LRESULT>(RGB(7, 7, 7)));
  EXPECT_EQ(Send(pb_, TPM_SETTEXTBARCOLOR, 0, RGB(8, 8, 8)), static_cast<LRESULT>(CLR_DEFAULT));
  EXPECT_EQ(Send(pb_, TPM_SETSHOWPERCENT, 0), 1);
  EXPECT_EQ(Send(pb_, TPM_SETTEXTALIGN, 2), 1);
  const ProgressState s = State();
  EXPECT_EQ(s.bkColour, RGB(9, 9, 9));
  EXPECT_EQ(s.textBarColour, RGB(8, 8, 8));
  EXPECT_EQ(s.showPercent, 0);
  EXPECT_EQ(s.textAlign, 2);
}

TEST_F(ProgressTest, MarqueeStretchesTheUpperLimitAndMovesOnItsTimer) {
  EXPECT_EQ(Send(pb_, PBM_SETMARQUEE, 1, 10), 1);
  ProgressState s = State();
  EXPECT_TRUE(s.marquee);
  EXPECT_EQ(s.showPercent, 0);
  EXPECT_EQ(s.UpperLimit(), 120);
  EXPECT_NE(GetWindowStyle(pb_) & PBS_MARQUEE, 0u);
  Send(pb_, PBM_SETPOS, 200);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 120);
  // At the top the shared direction turns down.
  Send(pb_, WM_TIMER, kMarqueeTimerId);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 119);
  // The control's own timer keeps it moving.
  ASSERT_TRUE(wintest::PumpUntil([&] { return Send(pb_, PBM_GETPOS) <= 116; }));
  Send(pb_, PBM_SETMARQUEE, 0, 0);
  EXPECT_FALSE(State().marquee);
  EXPECT_EQ(GetWindowStyle(pb_) & PBS_MARQUEE, 0u);
  Send(pb_, PBM_SETPOS, 200);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 100);
  const int pos = State().position;
  PumpMessages(40);
  EXPECT_EQ(State().position, pos);  // timer stopped
}

TEST_F(ProgressTest, HugeBlockSizeKeepsTheMarqueeLimitInRange) {
  Send(pb_, PBM_SETMARQUEE, 1, 1000);
  Send(pb_, TPM_SETMARQUEESIZE, static_cast<WPARAM>(INT_MAX));
  EXPECT_EQ(State().UpperLimit(), INT_MAX);
  Send(pb_, PBM_SETPOS, 5000);
  EXPECT_EQ(Send(pb_, PBM_GETPOS), 5000);
  Send(pb_, TPM_SETMARQUEESIZE, static_cast<WPARAM>(-100));
  EXPECT_EQ(State().UpperLimit(), 0);
  Send(pb_, PBM_SETMARQUEE, 0, 0);
}
