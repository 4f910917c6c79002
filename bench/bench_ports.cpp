// The ports of a station that serves many phones.
//
// 1. The host's presence question: the host asks the plug-in, port by port, whether a phone is
//    there (IsDisconnected) for every port it serves and does so about once a second, on its
//    user-interface thread. Here it serves 256 ports, 64 of which have a phone's tty (USB devices
//    named by the phones' udev rule, scripted in umockdev). Prints
//    "presence check, 256 ports: X ms per round", then the round after a phone is unplugged and
//    after it is plugged in again (the answers must follow at once).
// 2. The station program serving 1, then PHONES virtual phones at once (each a vphone process,
//    the station in batch mode with its named waits shortened SCALE times): the aggregate MB/s
//    of image data over the station's run, the scaling efficiency = aggregate / (phones x one
//    phone's rate) (and against min(phones, cores), as bench_scale gives it), and the station's
//    peak resident memory per phone.
//
// Usage: bench_ports [SCALE [PHONES]]   (default 20 and 64; PHONES 0: the presence check only)
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download_bench_support.h"
#include "frame/host_operations.h"
#include "frame/module_entry.h"
#include "phone_process.h"
#include "platform/process_info.h"
#include "support/temp_dir.h"
#include "usb_testbed.h"

namespace {

namespace fs = std::filesystem;
using tr52bench::Seconds;
using tr52bench::SteadyClock;

constexpr int kServedPorts = 256;
constexpr int kPluggedPhones = 64;

// One round of the host's question over every served port; the number of ports with a phone.
int PresenceRound() {
  int present = 0;
  for (int port = 0; port < kServedPorts; ++port) present += tr52::IsDisconnected(port) == 0;
  return present;
}

struct Timed {
  int present = 0;
  double ms = 0;
};

Timed TimedRound() {
  const auto start = SteadyClock::now();
  const int present = PresenceRound();
  return {present, Seconds(SteadyClock::now() - start) * 1e3};
}

// Phone `i` in hub port i + 1; umockdev never gives a node name back, so a phone plugged in
// again needs a new kernel name.
tr52test::UsbSerial Phone(int i, int kernelNumber) {
  return tr52test::NormalModePhone(std::to_string(i + 1), "ttyACM" + std::to_string(kernelNumber));
}

// Part 1; false when it could not run or an answer was wrong.
bool PresenceCheck() {
  std::string why;
  if (!tr52test::UsbTestbed::Available(why)) {
    std::printf("presence check: not run: %s\n", why.c_str());
    return false;
  }
  tr52test::TempDir dir;
  const std::string table = dir.File("ports"), state = dir.File("state");
  mkdir(table.c_str(), 0700);
  setenv("TR52_PORT_TABLE", table.c_str(), 1);
  setenv("TR52_COM_MAP_DIR", state.c_str(), 1);
  tr52::SetExecutablePathOverride(dir.File("bench_host"));
  bool ok = true;
  {
    tr52test::UsbTestbed bed;
    for (int i = 0; i < kPluggedPhones && ok; ++i) ok = bed.Plug(Phone(i, i), why);
    if (!ok) std::printf("presence check: umockdev refused a device: %s\n", why.c_str());
    tr52::ModuleAttach();
    // The first round numbers the new positions in the COM map.
    const Timed first = ok ? TimedRound() : Timed{};
    int rounds = 0, wrong = 0;
    const auto start = SteadyClock::now();
    while (ok && (rounds < 3 || Seconds(SteadyClock::now() - start) < 2.0) && rounds < 100000) {
      wrong += PresenceRound() != kPluggedPhones;
      ++rounds;
    }
    const double perRound = rounds ? Seconds(SteadyClock::now() - start) * 1e3 / rounds : 0;
    if (ok) {
      std::printf("presence check, %d ports: %.4f ms per round\n", kServedPorts, perRound);
      std::printf("  (%d phone ports present; %d rounds; the first round %.2f ms)\n", first.present,
                  rounds, first.ms);
      bed.Unplug(Phone(0, 0));
      const Timed gone = TimedRound();
      std::string error;
      ok = bed.Plug(Phone(0, kPluggedPhones), error);
      const Timed back = TimedRound();
      std::printf(
          "  a phone unplugged: %d present in the next round (%.2f ms); plugged in again: %d "
          "present (%.2f ms)\n",
          gone.present, gone.ms, back.present, back.ms);
      ok = ok && first.present == kPluggedPhones && wrong == 0 &&
           gone.present == kPluggedPhones - 1 && back.present == kPluggedPhones;
      if (!ok) std::printf("presence check: wrong answers (%d wrong rounds)\n", wrong);
    }
    tr52::ModuleDetach();
  }
  tr52::SetExecutablePathOverride("");
  unsetenv("TR52_PORT_TABLE");
  unsetenv("TR52_COM_MAP_DIR");
  return ok;
}

struct StationRun {
  bool ok = false;
  double seconds = 0;
  long peakKiB = 0;
};

// The station of this build, copied with its plug-in into `bin` (its settings file and log go
// beside it), in batch mode over the phones on `firstCom`...; its wall time and peak memory.
StationRun RunStation(const fs::path& bin, const std::string& package, const std::string& table,
                      int firstCom, int phones, double scale) {
  StationRun run;
  std::vector<std::unique_ptr<tr52bench::PhoneProcess>> started;
  const std::string vphone = tr52bench::ProgramDir() + "/vphone";
  for (int i = 0; i < phones; ++i)
    started.push_back(std::make_unique<tr52bench::PhoneProcess>(vphone, firstCom + i, table));
  for (auto& p : started)
    if (!p->Started() || !p->WaitDeclared(20)) {
      std::printf("station: phone COM%d did not start\n", p->Com());
      return run;
    }
  char scaleText[32];
  std::snprintf(scaleText, sizeof scaleText, "%g", scale);
  const std::string ports = std::to_string(firstCom) + "-" + std::to_string(firstCom + phones - 1);
  const std::string program = (bin / "station").string();
  const std::string out = (bin / ("station_" + std::to_string(phones) + ".txt")).string();
  const auto start = SteadyClock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
    }
    execl(program.c_str(), "station", "--plain", "--batch", "--package", package.c_str(), "--ports",
          ports.c_str(), "--time-scale", scaleText, "--poll-ms", "100", "--timeout", "900",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (pid > 0) wait4(pid, &status, 0, &ru);
  run.seconds = Seconds(SteadyClock::now() - start);
  run.peakKiB = ru.ru_maxrss;
  run.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!run.ok) {
    // The folder goes with the run: its last lines say what happened.
    std::printf("station: %d phones: exit status %d; its last lines:\n", phones,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    std::ifstream in(out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    for (size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i)
      std::printf("  | %s\n", lines[i].c_str());
  }
  return run;
}

// Part 2; false when a run failed.
bool StationScaling(double scale, int phones) {
  const std::string here = tr52bench::ProgramDir();
  for (const char* program : {"station", "vphone"})
    if (access((here + "/" + program).c_str(), X_OK) != 0) {
      std::printf("station: not run: no %s/%s (build the station and vphone targets)\n",
                  here.c_str(), program);
      return false;
    }
  tr52test::TempDir dir;
  const fs::path bin = dir.File("bin");
  std::error_code ec;
  fs::create_directories(bin, ec);
  for (const char* name : {"station", "libtr52_win.so", "TR52_091117_MP.so"})
    fs::copy_file(fs::path(here) / name, bin / name, ec);
  // The port table where a user's is, in a memory file system (the runtime folder).
  const tr52test::TempDir runtime(access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "");
  const std::string table = runtime.File("ports");
  mkdir(table.c_str(), 0700);
  // The station and the phones are children: they see the real /sys and /dev, and private
  // folders of this run.
  unsetenv("LD_PRELOAD");
  unsetenv("UMOCKDEV_DIR");
  setenv("TR52_PORT_TABLE", table.c_str(), 1);
  setenv("TR52_COM_MAP_DIR", dir.File("state").c_str(), 1);
  const tr52bench::Package package =
      tr52bench::WriteDownloadBenchPackage(dir.File("TR52_PORTS.dz"), 3, 2);
  if (ec || package.path.empty()) {
    std::printf("station: cannot set up %s\n", dir.Path().c_str());
    return false;
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf(
      "station: package %.2f MB of images; named waits %gx shorter; %u cores; each phone a vphone "
      "process\n",
      static_cast<double>(package.imageBytes) / 1e6, scale, cores);
  const StationRun one = RunStation(bin, package.path, table, 101, 1, scale);
  const StationRun many =
      one.ok ? RunStation(bin, package.path, table, 101, phones, scale) : StationRun{};
  if (!one.ok || !many.ok) return false;
  const double mb = static_cast<double>(package.imageBytes) / 1e6;
  const double oneRate = mb / one.seconds;
  const double rate = mb * phones / many.seconds;
  const double parallel = std::min<double>(phones, cores);
  std::printf("station, 1 phone: %.2f s, %.2f MB/s, peak resident %.1f MiB\n", one.seconds, oneRate,
              static_cast<double>(one.peakKiB) / 1024);
  std::printf(
      "station, %d phones: %.2f s, %.2f MB/s aggregate, scaling efficiency %.2f (aggregate / "
      "(%d x one phone's rate); %.2f against min(phones, cores)), peak resident %.1f MiB = %.2f "
      "MiB per phone (%.2f MiB per phone beyond the first)\n",
      phones, many.seconds, rate, rate / (oneRate * phones), phones, rate / (oneRate * parallel),
      static_cast<double>(many.peakKiB) / 1024, static_cast<double>(many.peakKiB) / 1024 / phones,
      static_cast<double>(many.peakKiB - one.peakKiB) / 1024 / std::max(1, phones - 1));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tr52test::UsbTestbed::ReexecUnderPreload(argv);
  const double scale = argc > 1 ? std::atof(argv[1]) : 20.0;
  const int phones = argc > 2 ? std::atoi(argv[2]) : 64;
  if (!(scale >= 1) || phones < 0 || phones > 155) {
    std::fprintf(stderr, "usage: bench_ports [SCALE>=1 [PHONES(1..155, 0: no station run)]]\n");
    return 2;
  }
  const bool presence = PresenceCheck();
  std::fflush(stdout);
  const bool station = phones == 0 || StationScaling(scale, phones);
  return presence && station ? 0 : 1;
}
