// One whole download through the plug-in's operations (IsConnected, OpenProgress, the result
// message, CloseProgress) against in-process virtual phones, from a package shaped like the
// demo's (every image of the plug-in's mask, AMSS and EFS GANG a few MiB). The named waits are
// shortened as the station's --time-scale does (TR52_TIME_SCALE, read when the module starts).
//
// Prints, for one phone and for four phones at once: the result of every download, the wall
// time split into waiting (the download threads' sleeps: named waits, port re-acquisition and
// protocol pauses) and the rest (transfer and protocol), the transactions the phones answered,
// and the aggregate MB/s of image data. Exits 1 when a download did not end with result 0.
//
// Usage: bench_download [SCALE [AMSS_MiB [EFS_MiB]]]   (default 20, 3, 2: the demo's package)
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
#include "platform/clock.h"
#include "platform/process_info.h"
#include "session/download_session.h"
#include "session/result_codes.h"
#include "support/temp_dir.h"
#include "support/test_pattern.h"
#include "vphone/virtual_phone.h"
#include "win/window.h"

namespace {

using tr52bench::CountingClock;
using tr52bench::Package;
using tr52bench::ResultCode;
using tr52bench::Seconds;
using tr52bench::SteadyClock;
using tr52bench::WriteDownloadBenchPackage;

struct RunFigures {
  std::vector<int> results;  // per phone; -1 when no result came
  double wallSeconds = 0;
  double waitingSeconds = 0;  // mean per download of the threads' sleeps
  uint64_t transactions = 0;
};

// One download on each of `coms` at once.
RunFigures RunDownloads(const std::vector<int>& coms, CountingClock& clock, double limitSeconds) {
  RunFigures figures;
  std::vector<std::unique_ptr<vphone::VirtualPhone>> phones;
  for (int com : coms) {
    vphone::PhoneOptions options;
    options.com = com;
    // Back from a mode switch well within the shortened 40 s wait.
    options.rebootDelayMs = 500;
    phones.push_back(std::make_unique<vphone::VirtualPhone>(options));
    std::string error;
    if (!phones.back()->Start(&error)) {
      std::fprintf(stderr, "bench_download: phone COM%d: %s\n", com, error.c_str());
      figures.results.assign(coms.size(), -1);
      return figures;
    }
  }

  const size_t n = coms.size();
  std::vector<win::CWnd> parents(n);
  std::vector<int> results(n, -1);
  for (size_t i = 0; i < n; ++i) {
    parents[i].m_hWnd =
        win::CreateWindowEx(nullptr, "BenchHost", "", 0, {},
                            [&results, i](win::HWND, win::UINT msg, win::WPARAM wp, win::LPARAM) {
                              if (msg == tr52::WM_DOWNLOAD_RESULT && results[i] < 0)
                                results[i] = ResultCode(wp);
                              return win::LRESULT{0};
                            });
  }

  clock.Reset();
  const auto start = SteadyClock::now();
  std::vector<bool> opened(n, false);
  for (size_t i = 0; i < n; ++i) {
    if (tr52::IsConnected(coms[i]) != 1) {
      std::fprintf(stderr, "bench_download: COM%d could not be connected\n", coms[i]);
      continue;
    }
    opened[i] = tr52::OpenProgress(&parents[i], coms[i], 0) == 1;
  }
  const auto deadline = start + std::chrono::duration<double>(limitSeconds);
  const bool allDone = tr52bench::PumpUntilResults(opened, results, deadline);
  figures.wallSeconds = Seconds(SteadyClock::now() - start);

  const auto slept = clock.SleptPerThread();
  double sum = 0;  // the download threads (the phones' threads never sleep on this clock)
  for (double s : slept) sum += s;
  figures.waitingSeconds = sum / static_cast<double>(n);
  for (const auto& phone : phones) figures.transactions += phone->RequestsSeen();
  figures.results = results;

  if (!allDone) {
    // A download cannot be cancelled and its pane may only be closed after its result: leave
    // without tearing anything down under it.
    std::printf("bench_download: a download gave no result within %.0f s\n", limitSeconds);
    std::fflush(stdout);
    std::_Exit(1);
  }
  for (size_t i = 0; i < n; ++i)
    if (opened[i]) tr52::CloseProgress(&parents[i]);
  win::PumpMessages(0);
  for (auto& parent : parents) win::DestroyWindow(parent.m_hWnd);
  for (auto& phone : phones) phone->Stop();
  return figures;
}

bool Report(const char* label, size_t phones, const RunFigures& f, uint64_t imageBytes) {
  bool ok = !f.results.empty();
  std::string results;
  for (int r : f.results) {
    ok = ok && r == tr52::ToInt(tr52::ResultCode::Ok);
    results +=
        (results.empty() ? "" : ", ") +
        (r < 0 ? std::string("no result") : std::to_string(r) + " " + tr52::ResultCodeName(r));
  }
  const double mb = static_cast<double>(imageBytes) * static_cast<double>(phones) / 1e6;
  const double transfer = std::max(0.0, f.wallSeconds - f.waitingSeconds);
  std::printf(
      "%-8s wall %7.2f s = waiting %6.2f s + transfer/protocol %6.2f s; %8llu "
      "transactions; %6.2f MB/s aggregate (%6.2f MB/s outside the waits)\n",
      label, f.wallSeconds, f.waitingSeconds, transfer,
      static_cast<unsigned long long>(f.transactions), mb / f.wallSeconds,
      transfer > 0 ? mb / transfer : 0.0);
  std::printf("         results: %s\n", results.c_str());
  std::fflush(stdout);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 20.0;
  const size_t amssMiB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 3;
  const size_t efsMiB = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2;
  if (!(scale >= 1) || amssMiB < 1 || efsMiB < 1) {
    std::fprintf(stderr, "usage: bench_download [SCALE>=1 [AMSS_MiB>=1 [EFS_MiB>=1]]]\n");
    return 2;
  }

  tr52test::TempDir dir;
  setenv("TR52_PORT_TABLE", dir.File("ports").c_str(), 1);
  char scaleText[32];
  std::snprintf(scaleText, sizeof scaleText, "%g", scale);
  setenv("TR52_TIME_SCALE", scaleText, 1);
  // The host executable stands in the temporary folder: settings and log go there.
  tr52::SetExecutablePathOverride(dir.File("bench_host"));
  tr52::ModuleAttach();
  CountingClock clock(tr52::GetClock());
  tr52::SetClock(&clock);

  const Package package = WriteDownloadBenchPackage(dir.Path() + "/TR52_BENCH.dz", amssMiB, efsMiB);
  if (package.path.empty()) return 1;
  if (std::string error; !tr52::AttachedModuleRoot()->Settings().Write(
          tr52::kSettingsSection, tr52::kPathBinKey, package.path, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf(
      "package: AMSS %zu MiB, EFS GANG %zu MiB and 5 small images = %.2f MB; named "
      "waits %gx shorter; phones answer by their defaults (communication mode 2)\n",
      amssMiB, efsMiB, static_cast<double>(package.imageBytes) / 1e6, scale);

  // The images are loaded once per process, by the first download: load them here so that both
  // runs measure downloads only.
  const auto loadStart = SteadyClock::now();
  tr52::ImageCatalogue& images = tr52::AttachedModuleRoot()->Images();
  images.SetImagePaths(tr52::kPluginImageMask, package.path);
  const bool loaded = images.LoadImages(package.path, tr52::kPluginImageMask);
  std::printf("package load (once per process): %.2f s%s\n",
              Seconds(SteadyClock::now() - loadStart), loaded ? "" : " (FAILED)");

  // A download takes a few minutes of named waits at scale 1; allow that, shortened, and more.
  const double limit = 60.0 + 600.0 / scale;
  bool ok = Report("1 phone", 1, RunDownloads({61}, clock, limit), package.imageBytes);
  ok =
      Report("4 phones", 4, RunDownloads({62, 63, 64, 65}, clock, limit), package.imageBytes) && ok;

  tr52::SetClock(&clock.Inner());
  tr52::ModuleDetach();
  tr52::SetExecutablePathOverride("");
  if (!ok) std::printf("bench_download: not every download ended with result 0\n");
  return ok ? 0 : 1;
}
