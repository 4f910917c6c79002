#include "soak/station_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace soak {

StationProcess::~StationProcess() {
  if (pid_ > 0) Stop(std::chrono::milliseconds(5000));
}

bool StationProcess::Start(const std::string& program, const std::vector<std::string>& args,
                           const std::string& errorFile, bool traceExit, std::string& error) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (err < 0) {
    error = "cannot write " + errorFile + ": " + std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  std::vector<std::string> argStore;
  argStore.push_back(program);
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    ::close(err);
    return false;
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(err, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(err);
  pid_ = pid;
  reader_ = std::thread([this, fd = out[0]] { ReadOutput(fd); });
  reaper_ = std::thread([this, traceExit] { Reap(traceExit); });
  return true;
}

void StationProcess::Reap(bool traceExit) {
  // The tracer is this thread: it alone continues the station after each stop.
  if (traceExit && ::ptrace(PTRACE_SEIZE, pid_, nullptr, PTRACE_O_TRACEEXIT) != 0) {
    std::lock_guard lock(mutex_);
    traceError_ = std::string("ptrace refused: ") + std::strerror(errno);
  }
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, __WALL) < 0) {
      if (errno == EINTR) continue;
      std::lock_guard lock(mutex_);
      exitStatus_ = -1;
      changed_.notify_all();
      return;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      std::lock_guard lock(mutex_);
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      changed_.notify_all();
      return;
    }
    if (!WIFSTOPPED(status)) continue;
    const int event = status >> 16;
    long forward = 0;
    if (event == PTRACE_EVENT_EXIT) {
      // Everything of the station's own has run (destructors, exit handlers); the kernel
      // closes what is left once it goes on.
      auto fds = FdTargets(pid_);
      std::lock_guard lock(mutex_);
      exitFds_ = std::move(fds);
    } else if (event == 0) {
      forward = WSTOPSIG(status);  // a signal on its way to the station
    }
    ::ptrace(PTRACE_CONT, pid_, nullptr, reinterpret_cast<void*>(forward));
  }
}

bool StationProcess::Signal(int signal) const {
  {
    std::lock_guard lock(mutex_);
    if (pid_ <= 0 || exitStatus_) return false;
  }
  return ::kill(pid_, signal) == 0;
}

std::optional<int> StationProcess::WaitExit(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [this] { return exitStatus_.has_value(); });
  return exitStatus_;
}

std::optional<std::multiset<std::string>> StationProcess::ExitFds() const {
  std::lock_guard lock(mutex_);
  return exitFds_;
}

std::string StationProcess::ExitTraceError() const {
  std::lock_guard lock(mutex_);
  return traceError_;
}

std::multiset<std::string> FdTargets(pid_t pid) {
  std::multiset<std::string> targets;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
       !ec && it != end; it.increment(ec)) {
    const auto target = std::filesystem::read_symlink(it->path(), ec);
    targets.insert(ec ? std::string("?") : target.string());
    ec.clear();
  }
  return targets;
}

std::multiset<std::string> StationProcess::OpenFdTargets() const {
  if (pid_ <= 0 || WaitExitDone()) return {};
  return FdTargets(pid_);
}

void StationProcess::ReadOutput(int fd) {
  std::string pending;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t start = 0;
    std::lock_guard lock(mutex_);
    for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
      lines_.push_back(pending.substr(start, nl - start));
    pending.erase(0, start);
    changed_.notify_all();
  }
  ::close(fd);
  std::lock_guard lock(mutex_);
  if (!pending.empty()) lines_.push_back(pending);
  ended_ = true;
  changed_.notify_all();
}

std::optional<std::string> StationProcess::NextLine(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [this] { return !lines_.empty() || ended_; });
  if (lines_.empty()) return std::nullopt;
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  return line;
}

bool StationProcess::OutputEnded() const {
  std::lock_guard lock(mutex_);
  return ended_ && lines_.empty();
}

bool StationProcess::WaitExitDone() const {
  std::lock_guard lock(mutex_);
  return exitStatus_.has_value();
}

long StationProcess::ResidentKiB() const {
  if (pid_ <= 0 || WaitExitDone()) return -1;
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) != 0) continue;
    std::istringstream in(line.substr(6));
    long kib = -1;
    in >> kib;
    return kib;
  }
  return -1;
}

int StationProcess::OpenFds() const {
  if (pid_ <= 0 || WaitExitDone()) return -1;
  std::error_code ec;
  int n = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid_) + "/fd", ec), end;
       !ec && it != end; it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

int StationProcess::Stop(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  Signal(SIGTERM);
  std::optional<int> status = WaitExit(limit);
  if (!status) {
    Signal(SIGKILL);
    status = WaitExit(std::chrono::hours(1));
  }
  if (reaper_.joinable()) reaper_.join();
  if (reader_.joinable()) reader_.join();
  return status.value_or(-1);
}

}  // namespace soak
