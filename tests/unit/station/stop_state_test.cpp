// How the station stops: what a stop signal, a second one and the quit key do to a run, what it
// says meanwhile, and (with the window layer) that a stop or the deadline ends every nested loop
// of the window thread and every wait for typed input.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/stop_control.h"
#include "core/stop_state.h"
#include "win/dialog.h"

namespace station {
namespace {

using namespace std::chrono_literals;

TEST(StopState, FirstStopDrainsTheRunningDownloadsSecondLeavesThem) {
  struct Row {
    int signals;
    bool quitKey;
    bool running;
    StopPhase phase;
    bool ends;
  };
  const std::vector<Row> rows = {
      {0, false, false, StopPhase::kServing, false}, {0, false, true, StopPhase::kServing, false},
      {1, false, true, StopPhase::kDraining, false},  // waits for them
      {1, false, false, StopPhase::kDraining, true},  // nothing (more) to wait for
      {2, false, true, StopPhase::kLeaving, true},   {5, false, true, StopPhase::kLeaving, true},
      {0, true, true, StopPhase::kLeaving, true},  // q, answered yes
      {1, true, true, StopPhase::kLeaving, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message()
                 << r.signals << " signal(s), quit " << r.quitKey << ", running " << r.running);
    EXPECT_EQ(PhaseOf(r.signals, r.quitKey), r.phase);
    EXPECT_EQ(RunEnds(r.phase, r.running), r.ends);
  }
}

TEST(StopState, SaysWhichPortsItWaitsFor) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"COM5", "COM7"}, "waiting for COM5, COM7 to finish; Ctrl-C again to leave them"},
      {{"COM12"}, "waiting for COM12 to finish; Ctrl-C again to leave them"},
      {{}, ""},
  };
  for (const auto& [ports, text] : rows) EXPECT_EQ(WaitingText(ports), text);
  EXPECT_EQ(SignalName(SIGHUP), "SIGHUP");
  EXPECT_EQ(SignalName(SIGUSR1), "signal " + std::to_string(SIGUSR1));
}

// A front end whose user never answers: a modal dialog runs until something else ends it.
class SilentUser : public win::FrontEnd {
 public:
  int ShowMessageBox(win::HWND, const std::string&, const std::string&, win::UINT) override {
    return win::IDOK;
  }
};

TEST(StopControl, EndsNestedLoopsAndWaitsForInputOnAStopOrTheDeadline) {
  struct Row {
    const char* name;
    int signal;     // sent to the process from another thread; 0: none
    bool deadline;  // a deadline shortly after the start
    StopPhase phase;
    bool timedOut;
  };
  const std::vector<Row> rows = {
      {"SIGTERM", SIGTERM, false, StopPhase::kDraining, false},
      {"SIGHUP", SIGHUP, false, StopPhase::kDraining, false},
      {"SIGINT", SIGINT, false, StopPhase::kDraining, false},
      {"the deadline", 0, true, StopPhase::kServing, true},
  };
  static const win::DialogTemplate kBox{1, "box", 40, 20, 0, nullptr, 0, {}};
  SilentUser user;
  win::SetFrontEnd(&user);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::optional<StopControl::Clock::time_point> deadline;
    if (r.deadline) deadline = StopControl::Clock::now() + 200ms;
    StopControl stop(deadline);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_FALSE(stop.Stopping());
    std::thread sender;
    if (r.signal != 0)
      sender = std::thread([&r] {
        std::this_thread::sleep_for(100ms);
        kill(getpid(), r.signal);
      });
    // Nobody answers the box: only the stop can end its loop, which then asks the outer loop
    // to end as well.
    EXPECT_EQ(win::DialogBoxFromTemplate(nullptr, kBox, win::WndProc{}), win::IDCANCEL);
    EXPECT_FALSE(win::PumpMessages(0));
    if (sender.joinable()) sender.join();
    EXPECT_EQ(stop.Phase(), r.phase);
    EXPECT_EQ(stop.TimedOut(), r.timedOut);
    EXPECT_EQ(stop.Signal(), r.signal);
    EXPECT_TRUE(stop.Stopping());
    // Typed input is waited for no more, even with input there.
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_FALSE(stop.WaitForInput(fds[0]));
    close(fds[0]);
    close(fds[1]);
  }
  win::SetFrontEnd(nullptr);
  {
    // Without a stop, input is there when it is there; the quit key leaves at once.
    StopControl stop;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_TRUE(stop.WaitForInput(fds[0]));
    stop.Leave();
    EXPECT_EQ(stop.Phase(), StopPhase::kLeaving);
    EXPECT_FALSE(win::PumpMessages(0));
    close(fds[0]);
    close(fds[1]);
  }
}

}  // namespace
}  // namespace station
