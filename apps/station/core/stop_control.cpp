#include "stop_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "options.h"
#include "terminal_rescue.h"

namespace station {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr win::UINT kStopMessage = win::WM_APP + 0x300;
constexpr win::UINT_PTR kDeadlineTimer = 1;

// What the handler reaches: process-wide, as signals are.
std::atomic<int> g_stopSignals{0};
std::atomic<int> g_lastSignal{0};
std::atomic<int> g_pipeWrite{-1};
std::atomic<int> g_wake{-1};
struct sigaction g_previous[NSIG];
struct sigaction g_previousPipe;
std::atomic<bool> g_inUse{false};

void OnStopSignal(int signal) {
  const int savedErrno = errno;
  g_lastSignal.store(signal);
  if (g_stopSignals.fetch_add(1) + 1 >= 3) {
    // The window thread did not leave on the second one: leave without it.
    RescueTerminal();
    _exit(kExitInterrupted);
  }
  const uint64_t one = 1;
  if (const int wake = g_wake.load(); wake >= 0) (void)!::write(wake, &one, sizeof one);
  const unsigned char byte = static_cast<unsigned char>(signal);
  if (const int fd = g_pipeWrite.load(); fd >= 0) (void)!::write(fd, &byte, 1);
  errno = savedErrno;
}

int MillisecondsUntil(StopControl::Clock::time_point when) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(when - StopControl::Clock::now())
          .count();
  return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

}  // namespace

StopControl::StopControl(std::optional<Clock::time_point> deadline) : deadline_(deadline) {
  if (g_inUse.exchange(true)) std::terminate();  // one per process: the signals are
  g_stopSignals.store(0);
  g_lastSignal.store(0);
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  window_ = win::CreateWindowEx(nullptr, "StationStop", "", 0, win::Rect{},
                                [this](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
                                  return OnMessage(h, m, w, l);
                                });
  if (window_ && deadline_)
    win::SetTimer(window_, kDeadlineTimer,
                  static_cast<win::UINT>(std::max(MillisecondsUntil(*deadline_), 10)));
  if (pipe_[0] >= 0) watcher_ = std::thread([this] { Watch(); });

  g_pipeWrite.store(pipe_[1]);
  g_wake.store(wake_);
  for (int signal : kStopSignals) {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    // Restarted calls: a signal landing on a download's thread must not fail its reads.
    sa.sa_flags = SA_RESTART;
    sigaction(signal, &sa, &g_previous[signal]);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &g_previousPipe);
}

StopControl::~StopControl() {
  for (int signal : kStopSignals) sigaction(signal, &g_previous[signal], nullptr);
  sigaction(SIGPIPE, &g_previousPipe, nullptr);
  g_pipeWrite.store(-1);
  g_wake.store(-1);
  if (watcher_.joinable()) {
    const unsigned char end = 0;
    while (::write(pipe_[1], &end, 1) < 0 && errno == EINTR) {
    }
    watcher_.join();
  }
  if (window_) win::DestroyWindow(window_);
  for (int fd : {pipe_[0], pipe_[1], wake_})
    if (fd >= 0) ::close(fd);
  g_inUse.store(false);
}

StopPhase StopControl::Phase() const {
  return PhaseOf(g_stopSignals.load() + (drain_.load() ? 1 : 0), leave_.load());
}

bool StopControl::TimedOut() const {
  return timedOut_.load() || (deadline_ && Clock::now() >= *deadline_);
}

int StopControl::Signal() const {
  return g_lastSignal.load();
}

bool StopControl::WaitForInput(int fd) const {
  for (;;) {
    if (Stopping()) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int r = ::poll(fds, wake_ >= 0 ? 2 : 1, deadline_ ? MillisecondsUntil(*deadline_) : -1);
    if (r < 0 && errno != EINTR) return !Stopping();
    if (r > 0 && fds[0].revents != 0 && !Stopping()) return true;
  }
}

void StopControl::Leave() {
  leave_.store(true);
  const uint64_t one = 1;
  if (wake_ >= 0) (void)!::write(wake_, &one, sizeof one);
  Changed();
}

void StopControl::Drain() {
  if (drain_.exchange(true)) return;
  const uint64_t one = 1;
  if (wake_ >= 0) (void)!::write(wake_, &one, sizeof one);
  Changed();
}

void StopControl::Announce(const std::string& text) {
  announcement_ = text;
}

void StopControl::Changed() {
  if (listener_) listener_();
  // Whatever nested loop the window thread is in ends; the run's loop takes it from there.
  win::PostQuitMessage(kExitInterrupted);
}

win::LRESULT StopControl::OnMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                    win::LPARAM lParam) {
  if (msg == kStopMessage) {
    Changed();
    return 0;
  }
  if (msg == win::WM_TIMER && wParam == kDeadlineTimer && deadline_) {
    if (Clock::now() < *deadline_) {
      win::SetTimer(hwnd, kDeadlineTimer,
                    static_cast<win::UINT>(std::max(MillisecondsUntil(*deadline_), 10)));
      return 0;
    }
    win::KillTimer(hwnd, kDeadlineTimer);
    timedOut_.store(true);
    Changed();
    return 0;
  }
  return win::DefWindowProc(hwnd, msg, wParam, lParam);
}

void StopControl::Watch() {
  // The handlers run on other threads; this one only carries their news to the window thread.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  for (;;) {
    pollfd p{pipe_[0], POLLIN, 0};
    if (::poll(&p, 1, -1) < 0 && errno != EINTR) return;
    unsigned char byte = 0;
    ssize_t n;
    while ((n = ::read(pipe_[0], &byte, 1)) == 1) {
      if (byte == 0) return;
      win::PostMessage(window_, kStopMessage, byte, 0);
    }
    if (n == 0) return;
  }
}

}  // namespace station
