// The station's ways to stop, brought to the thread that owns its windows: SIGINT, SIGTERM and
// SIGHUP, the quit key and the deadline of --timeout. A signal's handler only counts it and
// writes to a pipe; a thread of this object turns that into a message for the window thread,
// whose handler ends whatever nested loop that thread is in (a dialog, a message box, the file
// browser) with WM_QUIT, so that the run's loop decides what happens next. The deadline is a
// timer of the same window, delivered inside nested loops alike. SIGPIPE is ignored: a closed
// output ends the output, not the downloads. A third stop signal gives the terminal back and
// leaves at once, should the window thread not answer. One per process.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "stop_state.h"
#include "win/window.h"

namespace station {

class StopControl {
 public:
  using Clock = std::chrono::steady_clock;

  // Call on the window thread, before the full screen opens (curses then keeps its hands off
  // these signals). `deadline`: when --timeout ends the run.
  explicit StopControl(std::optional<Clock::time_point> deadline = std::nullopt);
  // Puts the earlier signal actions back.
  ~StopControl();
  StopControl(const StopControl&) = delete;
  StopControl& operator=(const StopControl&) = delete;

  // Any thread.
  StopPhase Phase() const;
  bool TimedOut() const;
  // True once a stop was asked for or the deadline passed.
  bool Stopping() const { return Phase() != StopPhase::kServing || TimedOut(); }
  // The last stop signal; 0 when none came.
  int Signal() const;
  // Waits until `fd` has input (true) or the run must stop (false): for a blocking read outside
  // the message loop.
  [[nodiscard]] bool WaitForInput(int fd) const;

  // The window thread.
  // The quit key: the run ends now.
  void Leave();
  // A window closed while downloads run: as a first stop signal (no new phones, the run ends
  // once the running downloads have ended; a stop signal now leaves them), without a signal.
  void Drain();
  // What the run says about the stop (the full screen shows it when it next draws); empty:
  // nothing.
  void Announce(const std::string& text);
  const std::string& Announcement() const { return announcement_; }
  // Called on the window thread after every change of the phase or the deadline.
  void OnChange(std::function<void()> listener) { listener_ = std::move(listener); }

 private:
  win::LRESULT OnMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
  void Changed();
  void Watch();

  std::optional<Clock::time_point> deadline_;
  std::atomic<bool> timedOut_{false};
  std::atomic<bool> leave_{false};
  std::atomic<bool> drain_{false};
  int pipe_[2] = {-1, -1};  // the handler writes the signal number; 0 ends the watching thread
  int wake_ = -1;           // readable once a stop was asked for (WaitForInput)
  win::HWND window_ = nullptr;
  std::thread watcher_;
  std::string announcement_;
  std::function<void()> listener_;
};

}  // namespace station
