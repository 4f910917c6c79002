#include "soak/station_process.h"

#include <fcntl.h>
#include <signal.h>
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
  if (reader_.joinable()) reader_.join();
}

bool StationProcess::Start(const std::string& program, const std::vector<std::string>& args,
                           const std::string& errorFile, std::string& error) {
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
  return true;
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

long StationProcess::ResidentKiB() const {
  if (pid_ <= 0) return -1;
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
  if (pid_ <= 0) return -1;
  std::error_code ec;
  int n = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid_) + "/fd", ec), end;
       !ec && it != end; it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

int StationProcess::Stop(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return exitStatus_;
  ::kill(pid_, SIGTERM);
  const auto until = std::chrono::steady_clock::now() + limit;
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (done == 0) {
    ::kill(pid_, SIGKILL);
    done = ::waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  if (done > 0) exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (reader_.joinable()) reader_.join();
  return exitStatus_;
}

}  // namespace soak
