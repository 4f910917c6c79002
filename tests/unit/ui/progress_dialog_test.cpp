// The progress pane: labels, numbered lines, step notices, host results and its worker thread.
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/settings_file.h"
#include "session/session_registry.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/progress_reporter.h"
#include "unit/session/message_sink.h"
#include "win/controls.h"

namespace tr52 {
namespace {

constexpr int kListId = 7005;
constexpr int kBarId = 7004;

class ProgressDialogTest : public ::testing::Test {
 protected:
  ProgressDialogTest() : clock_(1000) { parent_.m_hWnd = host_.Hwnd(); }

  // Opens a pane whose worker runs `run` (by default: nothing).
  ProgressDialog& Open(
      int port, ProgressDialog::RunOperation run = [](ProgressDialog&) { return 1; }) {
    dialog_ = std::make_unique<ProgressDialog>(std::move(run));
    EXPECT_TRUE(dialog_->Create(&parent_, port, 0));
    return *dialog_;
  }
  win::LRESULT Step(unsigned code, win::LPARAM lParam = 0) {
    return win::SendMessage(dialog_->Hwnd(), WM_DOWNLOAD_STEP, code, lParam);
  }
  std::vector<std::string> Lines() {
    auto state = win::GetListBoxState(win::GetDlgItem(dialog_->Hwnd(), kListId));
    return state ? state->items : std::vector<std::string>{};
  }
  std::vector<win::WPARAM> Results() {
    host_.Pump();
    std::vector<win::WPARAM> out;
    for (const auto& m : host_.Of(WM_DOWNLOAD_RESULT)) out.push_back(m.wParam);
    return out;
  }
  // Waits for the worker to end, then handles what it posted.
  void FinishWorker() {
    dialog_->JoinWorker();
    win::PumpMessages(0);
  }

  // A private, empty port table: the ports these tests name are never the machine's.
  tr52test::TempDir ports_;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", ports_.Path()};
  tr52test::ScopedClock clock_;
  tr52test::MessageSink host_;
  win::CWnd parent_;
  SessionRegistry sessions_;  // empty: no session for any port
  SettingsFile settings_;
  std::unique_ptr<ProgressDialog> dialog_;
};

TEST_F(ProgressDialogTest, FreshPaneShowsPortTimeAndEmptyBar) {
  std::atomic<int> runs{0};
  ProgressDialog& d = Open(7, [&](ProgressDialog&) { return ++runs; });
  FinishWorker();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(win::GetWindowText(win::GetDlgItem(d.Hwnd(), 7002)), "COM 7");
  EXPECT_EQ(win::GetWindowText(win::GetDlgItem(d.Hwnd(), 7003)), "0 s");
  auto bar = win::GetProgressState(win::GetDlgItem(d.Hwnd(), kBarId));
  ASSERT_TRUE(bar.has_value());
  EXPECT_EQ(bar->position, 0);
  EXPECT_EQ(bar->lower, 0);
  EXPECT_EQ(bar->upper, 100);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(d.Parent(), &parent_);
  EXPECT_TRUE(Results().empty());
}

TEST_F(ProgressDialogTest, TextLinesAreNumberedAndKindFourIsIgnored) {
  ProgressDialog& d = Open(3);
  auto copy = [&](uintptr_t kind, const char* text) {
    win::COPYDATASTRUCT cd{kind, static_cast<win::DWORD>(std::strlen(text) + 1),
                           const_cast<char*>(text)};
    return win::SendMessage(d.Hwnd(), win::WM_COPYDATA, 0, reinterpret_cast<win::LPARAM>(&cd));
  };
  EXPECT_EQ(copy(0, "TR52"), 1);
  EXPECT_EQ(copy(4, "ignored"), 0);
  EXPECT_EQ(copy(3, "BACKUP CNV"), 1);
  Step(TYPE_WPARAM_LOAD_BIN);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"1.TR52", "2.BACKUP CNV", "3.Load Bin"}));
  auto list = win::GetListBoxState(win::GetDlgItem(d.Hwnd(), kListId));
  EXPECT_EQ(list->curSel, 2);  // the newest line is selected
}

TEST_F(ProgressDialogTest, KnownStepCodesAddTheirCaptions) {
  Open(3);
  for (unsigned code : {1u, 3u, 4u, 5u, 7u, 8u, 10u, 11u, 13u, 14u}) Step(code);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"1.Battery Level", "2.Erase Module", "3.Change Dload",
                                      "4.Write RAM", "5.Write Flash", "6.Reset", "7.Write Module",
                                      "8.Reset", "9.Erase Media", "10.Write Media"}));
  EXPECT_TRUE(Results().empty());
}

TEST_F(ProgressDialogTest, ErrorCodeGoesToListAndHost) {
  Open(3);
  Step(TYPE_WPARAM_UPGRADE_ERROR, 1015);
  EXPECT_EQ(Lines(), std::vector<std::string>{"1.-.ERROR 1015 "});
  EXPECT_EQ(Results(), std::vector<win::WPARAM>{win::MAKELONG(1015, 1)});
}

TEST_F(ProgressDialogTest, UnknownCodesReportLowWordZero) {
  Open(3);
  for (unsigned code : {2u, 6u, 9u}) Step(code);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"1.-.Unknown", "2.-.Unknown", "3.-.Unknown"}));
  EXPECT_EQ(Results(), (std::vector<win::WPARAM>{0x00010000, 0x00010000, 0x00010000}));
}

TEST_F(ProgressDialogTest, SuccessReportsOne) {
  Open(3);
  Step(TYPE_WPARAM_UPGRADE_OK);
  EXPECT_EQ(Lines(), std::vector<std::string>{"1.OK"});
  EXPECT_EQ(Results(), std::vector<win::WPARAM>{0x00010001});
}

TEST_F(ProgressDialogTest, PositionNoticeMovesTheBarOnly) {
  ProgressDialog& d = Open(3);
  Step(TYPE_WPARAM_PROGRESS_POS, 45);
  EXPECT_EQ(win::GetProgressState(win::GetDlgItem(d.Hwnd(), kBarId))->position, 45);
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(Results().empty());
}

TEST_F(ProgressDialogTest, ClockShowsWholeElapsedSeconds) {
  ProgressDialog& d = Open(3);
  d.StartClock();
  // The process clock runs 1000 times faster: 10 real ms are 10 s.
  std::this_thread::sleep_for(std::chrono::milliseconds(12));
  win::SendMessage(d.Hwnd(), win::WM_TIMER, 4, 0);  // another timer: no change
  EXPECT_EQ(win::GetWindowText(win::GetDlgItem(d.Hwnd(), 7003)), "0 s");
  win::SendMessage(d.Hwnd(), win::WM_TIMER, ProgressDialog::kClockTimer, 0);
  const std::string shown = win::GetWindowText(win::GetDlgItem(d.Hwnd(), 7003));
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown.substr(shown.size() - 2), " s");
  EXPECT_GE(std::stoi(shown), 10);
}

TEST_F(ProgressDialogTest, WorkerTextLinesAreSentAcrossThreads) {
  Open(3, [](ProgressDialog& d) {
    ProgressReporter reporter;
    reporter.SetTextTarget(d.Hwnd());
    reporter.WebDLFunction(0, "No Phone");
    win::PostMessage(d.Hwnd(), WM_DOWNLOAD_STEP, TYPE_WPARAM_UPGRADE_ERROR, 502);
    return 0;
  });
  // Serve the worker's send until it has ended.
  for (int i = 0; i < 500 && Results().empty(); ++i) win::PumpMessages(10);
  FinishWorker();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"1.No Phone", "2.-.ERROR 502 "}));
  EXPECT_EQ(Results(), std::vector<win::WPARAM>{win::MAKELONG(502, 1)});
}

TEST_F(ProgressDialogTest, ExceptionInTheWorkerReports500Once) {
  Open(3, [](ProgressDialog&) -> int { throw std::runtime_error("boom"); });
  FinishWorker();
  EXPECT_EQ(Results(), std::vector<win::WPARAM>{0x000101F4});
}

TEST_F(ProgressDialogTest, DestructionWaitsForAFinishingWorker) {
  std::atomic<bool> finished{false};
  Open(3, [&](ProgressDialog& d) {
    win::PostMessage(d.Hwnd(), WM_DOWNLOAD_STEP, TYPE_WPARAM_UPGRADE_OK, 0);
    // Still busy after the final message (closing the port, logging).
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    finished = true;
    return 1;
  });
  dialog_.reset();
  EXPECT_TRUE(finished.load());
}

TEST_F(ProgressDialogTest, PaneWithoutSessionEndsWithoutMessage) {
  // The real run operation: no session is registered for port 51.
  dialog_ = std::make_unique<ProgressDialog>(sessions_, settings_);
  ASSERT_TRUE(dialog_->Create(&parent_, 51, 9));
  EXPECT_EQ(dialog_->Extra(), 9);
  FinishWorker();
  EXPECT_TRUE(Results().empty());
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
}  // namespace tr52
