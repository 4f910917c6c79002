// Many phones at once: the plug-in's operations (IsConnected, OpenProgress, the result message,
// CloseProgress) in this process against 1, 4, 8 and 16 virtual phones, each a vphone process of
// its own, all downloading the demo-sized package at the same time. The named waits are shortened
// as the station's --time-scale does (TR52_TIME_SCALE, read when the module starts).
//
// Per run it prints: the aggregate MB/s of image data over the wall time and over the time
// outside the named waits (the download threads' sleeps); the plug-in's CPU time per phone (this
// process) and the virtual phone's (its process); the peak memory per phone, of the plug-in (this
// process's peak resident growth over the run, shared) and of the virtual phone (its process);
// the slowest/median download time; and the scaling efficiency = aggregate ÷ (one phone's rate ×
// min(phones, cores)), over the wall time and outside the waits. Exits 1 when a download did not
// end with result 0.
//
// Usage: bench_scale [SCALE [PHONES...]]   (default 20, then 1 4 8 16)
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/settings_file.h"
#include "download_bench_support.h"
#include "dz_writer.h"
#include "frame/host_operations.h"
#include "frame/module_entry.h"
#include "frame/module_root.h"
#include "package/image_catalogue.h"
#include "phone_process.h"
#include "platform/clock.h"
#include "platform/process_info.h"
#include "session/download_session.h"
#include "session/result_codes.h"
#include "support/temp_dir.h"
#include "support/test_pattern.h"
#include "win/window.h"

namespace {

using tr52bench::CountingClock;
using tr52bench::CpuSeconds;
using tr52bench::Package;
using tr52bench::PhoneProcess;
using tr52bench::ProgramDir;
using tr52bench::ResultCode;
using tr52bench::Seconds;
using tr52bench::SteadyClock;
using tr52bench::WriteDownloadBenchPackage;

double ProcessCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return CpuSeconds(ru.ru_utime, ru.ru_stime);
}

// A line "<key>: <n> kB" of /proc/self/status, in KiB; 0 when absent.
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t keyLength = std::strlen(key);
  while (std::getline(in, line))
    if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength && line[keyLength] == ':')
      return std::strtol(line.c_str() + keyLength + 1, nullptr, 10);
  return 0;
}

// Starts the peak resident size of this process afresh (where the kernel allows it).
void ResetPeakResident() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

// Lines in a text file (0 when it cannot be read).
size_t LineCount(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  size_t lines = 0;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0)
    lines += static_cast<size_t>(std::count(buf, buf + in.gcount(), '\n'));
  return lines;
}

struct RunFigures {
  size_t phones = 0;
  bool ok = false;
  double wallSeconds = 0;
  double waitingSeconds = 0;            // mean per download of the threads' sleeps
  std::vector<double> downloadSeconds;  // per phone, from OpenProgress to its result
  double pluginCpuSeconds = 0;          // this process over the run
  std::vector<double> phoneCpuSeconds;  // per vphone process
  double pluginPeakGrowthKb = 0;        // this process's peak resident over the run's start
  std::vector<long> phonePeakKb;        // per vphone process
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

RunFigures RunDownloads(size_t count, int firstCom, const std::string& vphone,
                        const std::string& portTable, CountingClock& clock, double limitSeconds) {
  RunFigures f;
  f.phones = count;
  std::vector<std::unique_ptr<PhoneProcess>> phones;
  for (size_t i = 0; i < count; ++i)
    phones.push_back(
        std::make_unique<PhoneProcess>(vphone, firstCom + static_cast<int>(i), portTable));
  for (auto& p : phones) {
    if (!p->Started() || !p->WaitDeclared(10)) {
      std::fprintf(stderr, "bench_scale: phone COM%d did not start\n", p->Com());
      return f;
    }
  }

  std::vector<win::CWnd> parents(count);
  std::vector<int> results(count, -1);
  std::vector<SteadyClock::time_point> ends(count);
  for (size_t i = 0; i < count; ++i) {
    parents[i].m_hWnd = win::CreateWindowEx(
        nullptr, "BenchHost", "", 0, {},
        [&results, &ends, i](win::HWND, win::UINT msg, win::WPARAM wp, win::LPARAM) {
          if (msg == tr52::WM_DOWNLOAD_RESULT && results[i] < 0) {
            results[i] = ResultCode(wp);
            ends[i] = SteadyClock::now();
          }
          return win::LRESULT{0};
        });
  }

  clock.TakeSlept();
  ResetPeakResident();
  const long rssBefore = StatusKb("VmRSS");
  const double cpuBefore = ProcessCpuSeconds();
  const auto start = SteadyClock::now();
  std::vector<bool> opened(count, false);
  std::vector<SteadyClock::time_point> begins(count);
  for (size_t i = 0; i < count; ++i) {
    const int com = phones[i]->Com();
    begins[i] = SteadyClock::now();
    if (tr52::IsConnected(com) != 1) {
      std::fprintf(stderr, "bench_scale: COM%d could not be connected\n", com);
      continue;
    }
    opened[i] = tr52::OpenProgress(&parents[i], com, 0) == 1;
  }
  const auto deadline = start + std::chrono::duration<double>(limitSeconds);
  const bool allDone = tr52bench::PumpUntilResults(opened, results, deadline);
  f.wallSeconds = Seconds(SteadyClock::now() - start);
  f.pluginCpuSeconds = ProcessCpuSeconds() - cpuBefore;
  f.pluginPeakGrowthKb = static_cast<double>(std::max(0L, StatusKb("VmHWM") - rssBefore));
  f.waitingSeconds = clock.TakeSlept() / static_cast<double>(count);

  if (!allDone) {
    // A download cannot be cancelled and its pane may only be closed after its result: leave
    // without tearing anything down under it.
    std::printf("bench_scale: a download gave no result within %.0f s\n", limitSeconds);
    std::fflush(stdout);
    for (auto& p : phones) p->Stop();
    std::_Exit(1);
  }
  f.ok = true;
  for (size_t i = 0; i < count; ++i) {
    f.ok = f.ok && opened[i] && results[i] == tr52::ToInt(tr52::ResultCode::Ok);
    if (opened[i]) f.downloadSeconds.push_back(Seconds(ends[i] - begins[i]));
    if (results[i] != tr52::ToInt(tr52::ResultCode::Ok))
      std::printf("  COM%d: result %d %s\n", phones[i]->Com(), results[i],
                  results[i] < 0 ? "(none)" : tr52::ResultCodeName(results[i]));
  }
  for (size_t i = 0; i < count; ++i)
    if (opened[i]) tr52::CloseProgress(&parents[i]);
  win::PumpMessages(0);
  for (auto& parent : parents) win::DestroyWindow(parent.m_hWnd);
  for (auto& p : phones) {
    p->Stop();
    f.phoneCpuSeconds.push_back(p->CpuSeconds_());
    f.phonePeakKb.push_back(p->PeakKb());
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 20.0;
  std::vector<size_t> counts;
  for (int i = 2; i < argc; ++i) counts.push_back(std::strtoul(argv[i], nullptr, 10));
  if (counts.empty()) counts = {1, 4, 8, 16};
  if (!(scale >= 1) ||
      std::any_of(counts.begin(), counts.end(), [](size_t n) { return n < 1 || n > 64; })) {
    std::fprintf(stderr, "usage: bench_scale [SCALE>=1 [PHONES(1..64)...]]\n");
    return 2;
  }
  const std::string vphone = ProgramDir() + "/vphone";
  if (access(vphone.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "bench_scale: no virtual phone program %s (build the vphone target)\n",
                 vphone.c_str());
    return 2;
  }

  tr52test::TempDir dir;
  const std::string portTable = dir.File("ports");
  mkdir(portTable.c_str(), 0700);
  setenv("TR52_PORT_TABLE", portTable.c_str(), 1);
  char scaleText[32];
  std::snprintf(scaleText, sizeof scaleText, "%g", scale);
  setenv("TR52_TIME_SCALE", scaleText, 1);
  tr52::SetExecutablePathOverride(dir.File("bench_host"));
  tr52::ModuleAttach();
  CountingClock clock(tr52::GetClock());
  tr52::SetClock(&clock);

  const Package package = WriteDownloadBenchPackage(dir.Path() + "/TR52_SCALE.dz", 3, 2);
  if (package.path.empty()) return 1;
  if (std::string error; !tr52::AttachedModuleRoot()->Settings().Write(
          tr52::kSettingsSection, tr52::kPathBinKey, package.path, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf(
      "package: %.2f MB of images (demo-sized); named waits %gx shorter; %u cores; each phone a "
      "vphone process (communication mode 2: pipelined write)\n",
      static_cast<double>(package.imageBytes) / 1e6, scale, cores);

  // Loaded once per process by the first download: load here so that every run measures
  // downloads only.
  const auto loadStart = SteadyClock::now();
  tr52::ImageCatalogue& images = tr52::AttachedModuleRoot()->Images();
  images.SetImagePaths(tr52::kPluginImageMask, package.path);
  const bool loaded = images.LoadImages(package.path, tr52::kPluginImageMask);
  std::printf("package load (once per process): %.2f s%s\n",
              Seconds(SteadyClock::now() - loadStart), loaded ? "" : " (FAILED)");
  std::printf("%6s %9s %9s %10s %9s %9s %10s %10s %8s %11s\n", "phones", "wall s", "MB/s",
              "MB/s xwait", "plugCPU/p", "phoneCPU/p", "plugMiB/p", "phoneMiB/p", "slow/med",
              "eff (xwait)");

  const std::string logPath = dir.File("bench_host_log.txt");
  const double limit = 60.0 + 600.0 / scale;
  bool ok = true;
  double oneRate = 0, oneTransferRate = 0;
  int nextCom = 101;
  for (size_t n : counts) {
    const size_t linesBefore = LineCount(logPath);
    const RunFigures f = RunDownloads(n, nextCom, vphone, portTable, clock, limit);
    const size_t logLines = LineCount(logPath) - linesBefore;
    nextCom += static_cast<int>(n);
    if (f.downloadSeconds.size() != n) {
      ok = false;
      std::printf("%6zu run failed\n", n);
      continue;
    }
    ok = ok && f.ok;
    const double mb = static_cast<double>(package.imageBytes) * static_cast<double>(n) / 1e6;
    const double rate = mb / f.wallSeconds;
    const double transfer = std::max(1e-3, f.wallSeconds - f.waitingSeconds);
    const double transferRate = mb / transfer;
    if (n == 1) {
      oneRate = rate;
      oneTransferRate = transferRate;
    }
    const double parallel = static_cast<double>(std::min<size_t>(n, cores));
    const double slowest = *std::max_element(f.downloadSeconds.begin(), f.downloadSeconds.end());
    double phoneCpu = 0;
    for (double c : f.phoneCpuSeconds) phoneCpu += c;
    std::vector<double> phoneMiB;
    for (long kb : f.phonePeakKb) phoneMiB.push_back(static_cast<double>(kb) / 1024);
    char eff[48] = "-";
    if (oneRate > 0)
      std::snprintf(eff, sizeof eff, "%.2f (%.2f)", rate / (oneRate * parallel),
                    transferRate / (oneTransferRate * parallel));
    std::printf("%6zu %9.2f %9.2f %10.2f %9.3f %9.3f %10.2f %10.2f %8.2f %11s\n", n, f.wallSeconds,
                rate, transferRate, f.pluginCpuSeconds / static_cast<double>(n),
                phoneCpu / static_cast<double>(n),
                f.pluginPeakGrowthKb / 1024 / static_cast<double>(n), Median(phoneMiB),
                slowest / Median(f.downloadSeconds), eff);
    std::printf(
        "%6s download %.2f s median, %.2f s slowest; named waits and pauses %.2f s per "
        "phone; %zu plug-in log lines per download\n",
        "", Median(f.downloadSeconds), slowest, f.waitingSeconds, logLines / n);
    std::fflush(stdout);
  }
  std::printf(
      "(MB/s xwait: outside the named waits; plugCPU/p, plugMiB/p: this process's CPU time and "
      "peak resident growth per phone; phoneCPU/p, phoneMiB/p: per vphone process, mean and "
      "median; eff = aggregate / (1 phone's rate x min(phones, cores)))\n");

  tr52::SetClock(&clock.Inner());
  tr52::ModuleDetach();
  tr52::SetExecutablePathOverride("");
  if (!ok) std::printf("bench_scale: not every download ended with result 0\n");
  return ok ? 0 : 1;
}
