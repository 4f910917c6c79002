// The station as a child process: started with its command line and environment, its standard
// output read line by line on a thread of its own, its resident memory and open descriptors read
// from /proc, signalled, and waited for by a thread that reaps it. That thread may trace the
// station's exit (ptrace), to list the descriptors still open after its own clean-up, just
// before the kernel closes them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace soak {

class StationProcess {
 public:
  StationProcess() = default;
  // Stops the station (SIGTERM, then SIGKILL after a few seconds) if it still runs.
  ~StationProcess();
  StationProcess(const StationProcess&) = delete;
  StationProcess& operator=(const StationProcess&) = delete;

  // Starts `program` with `args`; its standard error goes to `errorFile`. With `traceExit` the
  // descriptors open at its exit are listed (ExitFds). False with a message when it cannot be
  // started.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& errorFile, bool traceExit, std::string& error);
  // The next line of its standard output, waiting at most `wait`; nullopt when none came (or
  // the output has ended, see Ended).
  std::optional<std::string> NextLine(std::chrono::milliseconds wait);
  bool OutputEnded() const;

  // Resident memory in KiB and open descriptors right now; -1 when unreadable.
  long ResidentKiB() const;
  int OpenFds() const;
  // What the open descriptors refer to right now (paths, "pipe:[n]", ...).
  std::multiset<std::string> OpenFdTargets() const;
  pid_t Pid() const { return pid_; }

  bool Signal(int signal) const;
  // Waits at most `limit` for the station to end by itself; its exit status (or 128 + signal).
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  // Sends SIGTERM unless it ended already and waits (at most `limit`, then SIGKILL); the exit
  // status, or 128 + signal.
  int Stop(std::chrono::milliseconds limit);
  // The descriptors open when the station exited (Start with `traceExit`); nullopt when not
  // traced or the trace was refused (ExitTraceError says why).
  std::optional<std::multiset<std::string>> ExitFds() const;
  std::string ExitTraceError() const;

 private:
  void ReadOutput(int fd);
  void Reap(bool traceExit);
  bool WaitExitDone() const;

  pid_t pid_ = -1;
  std::thread reader_;
  std::thread reaper_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool ended_ = false;
  std::optional<int> exitStatus_;
  std::optional<std::multiset<std::string>> exitFds_;
  std::string traceError_;
};

// What the descriptors of process `pid` refer to.
std::multiset<std::string> FdTargets(pid_t pid);

}  // namespace soak
