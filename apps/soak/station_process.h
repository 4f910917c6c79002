// The station as a child process: started with its command line and environment, its standard
// output read line by line on a thread of its own, its resident memory and open descriptors read
// from /proc, and stopped with SIGTERM.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
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

  // Starts `program` with `args`; its standard error goes to `errorFile`. False with a message
  // when it cannot be started.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& errorFile, std::string& error);
  // The next line of its standard output, waiting at most `wait`; nullopt when none came (or
  // the output has ended, see Ended).
  std::optional<std::string> NextLine(std::chrono::milliseconds wait);
  bool OutputEnded() const;

  // Resident memory in KiB and open descriptors right now; -1 when unreadable.
  long ResidentKiB() const;
  int OpenFds() const;
  pid_t Pid() const { return pid_; }

  // Sends SIGTERM and waits (at most `limit`, then SIGKILL); the exit status, or 128 + signal.
  int Stop(std::chrono::milliseconds limit);

 private:
  void ReadOutput(int fd);

  pid_t pid_ = -1;
  int exitStatus_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

}  // namespace soak
