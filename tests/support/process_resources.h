// What a process holds right now, from /proc/self: open file descriptors, threads, and the
// descriptors on a pseudo-terminal. Tests compare them before and after a piece of work to show
// that nothing was left behind.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace tr52test {

// Entries of a /proc/self folder (the iteration's own descriptor is not counted).
inline int ProcEntries(const char* folder) {
  namespace fs = std::filesystem;
  int n = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

inline int OpenFds() {
  return ProcEntries("/proc/self/fd") - 1;  // minus the listing's own descriptor
}

inline int Threads() {
  return ProcEntries("/proc/self/task");
}

// Descriptors of this process on a pseudo-terminal's device side.
inline int PtyFds() {
  namespace fs = std::filesystem;
  int n = 0;
  std::error_code ec;
  for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(it->path(), linkError);
    if (!linkError && target.string().rfind("/dev/pts/", 0) == 0) ++n;
  }
  return n;
}

// What each open descriptor refers to, "fd -> target" a line, for failure messages.
inline std::string FdTargets() {
  namespace fs = std::filesystem;
  std::string out;
  std::error_code ec;
  for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(it->path(), linkError);
    out += it->path().filename().string() + " -> " + (linkError ? "?" : target.string()) + "\n";
  }
  return out;
}

// Open descriptors and threads at one moment.
struct ResourceCount {
  int fds = 0;
  int threads = 0;
  bool operator==(const ResourceCount&) const = default;
};

inline ResourceCount CountResources() {
  return {OpenFds(), Threads()};
}

// Waits (real time) until the process is back to `baseline` (threads that have posted their
// last message may still be returning); the count at the end of the wait.
inline ResourceCount SettleTo(const ResourceCount& baseline, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  ResourceCount now = CountResources();
  while (!(now == baseline) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    now = CountResources();
  }
  return now;
}

}  // namespace tr52test
