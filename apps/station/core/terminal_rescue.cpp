#include "terminal_rescue.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "captured_output.h"

namespace station {
namespace {

constexpr int kFatalSignals[] = {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Process-wide by nature: a signal handler has no other way to find it. Written while disarmed,
// read by whoever disarms it first.
struct Rescue {
  std::atomic<bool> armed{false};
  int terminalFd = -1;
  bool haveModes = false;
  termios modes{};
  char sequence[256] = {};
  size_t sequenceSize = 0;
  int savedOut = -1;
  int savedErr = -1;
  int capture = -1;
};
Rescue g_rescue;

struct sigaction g_previous[NSIG];
std::terminate_handler g_previousTerminate = nullptr;

void OnFatalSignal(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  RescueTerminal();
  // The earlier action takes over: a sanitizer's report, or the default (a core dump). A fault
  // happens again when the handler returns; a signal sent by someone is sent again.
  sigaction(signal, &g_previous[signal], nullptr);
  if (info == nullptr || info->si_code <= 0) raise(signal);
  errno = savedErrno;
}

void OnTerminate() {
  RescueTerminal();
  if (g_previousTerminate) g_previousTerminate();
  std::abort();
}

}  // namespace

void ArmTerminalRescue(const TerminalRestore& restore) {
  g_rescue.armed.store(false);
  g_rescue.terminalFd = restore.terminalFd;
  g_rescue.haveModes = restore.haveModes;
  g_rescue.modes = restore.modes;
  g_rescue.sequenceSize = std::min(restore.sequence.size(), sizeof g_rescue.sequence);
  std::memcpy(g_rescue.sequence, restore.sequence.data(), g_rescue.sequenceSize);
  g_rescue.savedOut = restore.savedOut;
  g_rescue.savedErr = restore.savedErr;
  g_rescue.capture = restore.capture;
  g_rescue.armed.store(true);
}

bool DisarmTerminalRescue() {
  return g_rescue.armed.exchange(false);
}

void RescueTerminal() {
  if (!g_rescue.armed.exchange(false)) return;
  if (g_rescue.terminalFd >= 0) {
    const char* data = g_rescue.sequence;
    size_t left = g_rescue.sequenceSize;
    while (left > 0) {
      const ssize_t n = ::write(g_rescue.terminalFd, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      data += n;
      left -= static_cast<size_t>(n);
    }
    if (g_rescue.haveModes) tcsetattr(g_rescue.terminalFd, TCSANOW, &g_rescue.modes);
  }
  GiveBackOutput(g_rescue.savedOut, g_rescue.savedErr, g_rescue.capture);
}

void InstallTerminalRescue() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  for (int signal : kFatalSignals) {
    struct sigaction sa {};
    sa.sa_sigaction = OnFatalSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(signal, &sa, &g_previous[signal]);
  }
  g_previousTerminate = std::set_terminate(OnTerminate);
  std::atexit([] { RescueTerminal(); });
}

}  // namespace station
