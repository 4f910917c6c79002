// Flash write throughput: one 32 MiB image written to the virtual phone over a pseudo-terminal
// by the classic block write, the RAM download and the pipelined write, beside a raw copy of
// the same bytes through a pseudo-terminal. Every method runs twice: with the pseudo-terminal's
// own turnaround (about 0.1 ms) and with the phone holding every answer back 1 ms, as a USB
// serial line's turnaround does. Prints MB/s of image data for each, its ratio to the raw copy
// and the pipelined/classic ratio; the pipelined write is meant to run at least 3x the classic
// write.
//
// Usage: bench_flash_write [MiB [runs [route [latency]]]]   (default 32 MiB, best of 3 runs, every
// route, both latencies; a route argument runs only the methods whose name contains it, e.g.
// "pipelined", and a latency argument in microseconds only that latency, for profiling)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "support/temp_dir.h"
#include "ui/progress_reporter.h"
#include "vphone/virtual_phone.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kCom = 71;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  uint32_t x = 12345;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

// The same bytes written into one side of a raw pseudo-terminal and read from the other.
double RawCopySeconds(const Bytes& data) {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return -1;
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  const auto start = Clock::now();
  std::thread reader([&] {
    std::vector<uint8_t> buf(65536);
    size_t got = 0;
    while (got < data.size()) {
      const ssize_t n = read(slave, buf.data(), buf.size());
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  });
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n =
        write(master, data.data() + sent, std::min<size_t>(data.size() - sent, 65536));
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  reader.join();
  const double secs = Seconds(Clock::now() - start);
  close(master);
  close(slave);
  return secs;
}

struct Route {
  const char* name;
  const char* flashName;
  vphone::FlashMethod method;
  std::function<bool(tr52::DloadClient&)> write;
};

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 32;
  const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::string only = argc > 3 ? argv[3] : "";
  const long onlyLatency = argc > 4 ? std::strtol(argv[4], nullptr, 10) : -1;
  const Bytes image = Pattern(mib << 20);
  tr52test::TempDir ports;
  setenv("TR52_PORT_TABLE", ports.Path().c_str(), 1);

  double rawSecs = RawCopySeconds(image);
  for (int i = 1; i < reps; ++i) rawSecs = std::min(rawSecs, RawCopySeconds(image));
  const double mb = image.size() / 1e6;
  std::printf("image: %zu bytes (%zu MiB), best of %d runs each\n", image.size(), mib, reps);
  std::printf("%-16s %8.1f MB/s  (%.2f s)\n", "raw pty copy", mb / rawSecs, rawSecs);
  std::fflush(stdout);

  const Route routes[] = {
      {"classic write", "AMSS", vphone::FlashMethod::Classic,
       [](tr52::DloadClient& c) {
         return c.NandFlashImageInit(tr52::IMAGE_AMSS) && c.NandFlashWrite(tr52::IMAGE_AMSS) &&
                c.NandFlashFinalize();
       }},
      {"RAM download", "AMSS", vphone::FlashMethod::RamDownload,
       [](tr52::DloadClient& c) {
         return c.Dl_Init() && c.Dl_Write(tr52::IMAGE_AMSS) == tr52::DlWriteResult::Done &&
                c.Dl_Program();
       }},
      {"pipelined write", "AMSS", vphone::FlashMethod::Pipelined,
       [](tr52::DloadClient& c) {
         return c.NandFlashImageInit(tr52::IMAGE_AMSS) && c.Dl_AsyncOptimizeWrite(tr52::IMAGE_AMSS);
       }},
  };

  const Bytes header(256, 0x5A);
  // One write of the image by `route` to a fresh phone that holds every answer back
  // `latencyUs`; seconds, or -1 when the write failed or the phone's flash does not hold the
  // image afterwards.
  auto runOnce = [&](const Route& route, uint32_t latencyUs) -> double {
    vphone::PhoneOptions options;
    options.com = kCom;
    options.startMode = vphone::Mode::Download;
    options.rebootDelayMs = 100;
    options.answerLatencyUs = latencyUs;
    vphone::VirtualPhone phone(options);
    std::string error;
    if (!phone.Start(&error) || !phone.WaitFor(true, vphone::Mode::Download, 10000)) return -1;
    tr52::PhoneLink link;
    if (!link.Open(kCom)) return -1;
    link.SetProtocolMode(tr52::Protocol::Dload);
    tr52::ProgressReporter reporter;
    tr52::DloadClient client;
    client.AttachLink(&link, &reporter);
    client.SetImageSource([&](tr52::ImageType type) {
      tr52::ImageView view;
      const Bytes* b = type == tr52::IMAGE_AMSS                ? &image
                       : type == tr52::IMAGE_AMSS_MODEM_HEADER ? &header
                                                               : nullptr;
      if (b != nullptr) view = {true, b->data(), static_cast<uint32_t>(b->size())};
      return view;
    });
    if (!client.DloadUnlock(tr52::kPhoneSecurityCode) || !client.SetTrustedMode(1)) return -1;

    const auto start = Clock::now();
    const bool ok = route.write(client);
    const double secs = Seconds(Clock::now() - start);
    link.Close();
    const auto stored = phone.Flash().Find(route.flashName);
    const bool same = stored && stored->method == route.method && stored->data == image;
    return ok && same ? secs : -1;
  };

  struct Latency {
    uint32_t us;
    const char* what;
  };
  const Latency latencies[] = {{0, "none added, pseudo-terminal turnaround only"},
                               {1000, "like a USB serial line"}};
  for (const auto& latency : latencies) {
    if (onlyLatency >= 0 && latency.us != static_cast<uint32_t>(onlyLatency)) continue;
    std::printf("\nanswer latency %u us (%s)\n", latency.us, latency.what);
    double classicRate = 0;
    double pipelinedRate = 0;
    for (const auto& route : routes) {
      if (!only.empty() && std::string(route.name).find(only) == std::string::npos) continue;
      std::vector<double> times;
      for (int i = 0; i < reps; ++i) {
        const double secs = runOnce(route, latency.us);
        if (secs < 0) {
          std::printf("%-16s WRITE FAILED OR FLASH DIFFERS\n", route.name);
          return 1;
        }
        times.push_back(secs);
      }
      std::sort(times.begin(), times.end());
      const double best = times.front();
      const double median = times[times.size() / 2];
      const double rate = mb / best;
      std::printf("%-16s %8.1f MB/s best (%.2f s), %.1f MB/s median  %.2fx raw\n", route.name, rate,
                  best, mb / median, rawSecs / best);
      std::fflush(stdout);
      if (route.method == vphone::FlashMethod::Classic) classicRate = rate;
      if (route.method == vphone::FlashMethod::Pipelined) pipelinedRate = rate;
    }
    if (classicRate > 0 && pipelinedRate > 0)
      std::printf("pipelined / classic: %.2fx (target >= 3x)\n", pipelinedRate / classicRate);
    std::fflush(stdout);
  }
  return 0;
}
