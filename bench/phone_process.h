// Virtual phones as processes of their own, for the benchmarks that run many at once: each a
// vphone program (from the benchmark's own folder) declaring one COM port in the port table.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace tr52bench {

inline double CpuSeconds(const timeval& user, const timeval& sys) {
  return static_cast<double>(user.tv_sec + sys.tv_sec) +
         static_cast<double>(user.tv_usec + sys.tv_usec) / 1e6;
}

// The folder of this program, where the build puts the other programs too.
inline std::string ProgramDir() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string dir(path);
  return dir.substr(0, dir.rfind('/'));
}

// One vphone process on COM `com`, declaring its port in `portTable`.
class PhoneProcess {
 public:
  PhoneProcess(const std::string& program, int com, const std::string& portTable)
      : com_(com), portFile_(portTable + "/COM" + std::to_string(com) + ".port") {
    const std::string comText = std::to_string(com);
    pid_ = fork();
    if (pid_ == 0) {
      // Its lines would only interleave with the table.
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
      }
      // Back from a mode switch well within the shortened waits.
      execl(program.c_str(), "vphone", "--com", comText.c_str(), "--reboot-delay-ms", "300",
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~PhoneProcess() { Stop(); }
  PhoneProcess(const PhoneProcess&) = delete;
  PhoneProcess& operator=(const PhoneProcess&) = delete;

  // True once the phone has declared its port.
  bool WaitDeclared(double seconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    struct stat st {};
    while (std::chrono::steady_clock::now() < until) {
      if (stat(portFile_.c_str(), &st) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // Stops the phone; its CPU seconds and peak resident KiB.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    rusage ru{};
    wait4(pid_, &status, 0, &ru);
    pid_ = -1;
    cpuSeconds_ = CpuSeconds(ru.ru_utime, ru.ru_stime);
    peakKb_ = ru.ru_maxrss;
  }
  bool Started() const { return pid_ > 0; }
  int Com() const { return com_; }
  double CpuSeconds_() const { return cpuSeconds_; }
  long PeakKb() const { return peakKb_; }

 private:
  int com_;
  std::string portFile_;
  pid_t pid_ = -1;
  double cpuSeconds_ = 0;
  long peakKb_ = 0;
};

}  // namespace tr52bench
