// Link figures: frame build + check throughput (MB/s of payload, without and with escapes)
// and the round-trip time of a one-byte request answered over a pseudo-terminal, by the
// virtual phone and by the test suite's scripted peer (median and 99th percentile).
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "link/phone_link.h"
#include "support/scripted_peer.h"
#include "vphone/scripted_responder.h"
#include "vphone/virtual_phone.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void FrameThroughput(const char* label, uint8_t fill) {
  tr52::FrameCodec codec;
  const std::vector<uint8_t> payload(4096, fill);
  // Warm up, then run for about half a second.
  size_t frames = 0;
  const auto start = Clock::now();
  bool ok = true;
  while (Seconds(Clock::now() - start) < 0.5) {
    for (int i = 0; i < 64; ++i) {
      ok &= codec.ComputeTxCRC(payload.data(), payload.size());
      ok &= codec.CheckRxFrame(codec.TxBuffer() + 1, static_cast<size_t>(codec.TxLength() - 2));
      ++frames;
    }
  }
  const double secs = Seconds(Clock::now() - start);
  std::printf("frame build+check, %-12s: %8.1f MB/s of payload (%zu frames of %zu bytes)%s\n",
              label, frames * payload.size() / secs / 1e6, frames, payload.size(),
              ok ? "" : "  CHECK FAILED");
  std::fflush(stdout);
}

void RoundTrips(const char* label, uint8_t com, int count) {
  tr52::PhoneLink link;
  if (!link.Open(com)) {
    std::printf("round trip, %s: cannot open COM%d\n", label, com);
    return;
  }
  link.SetProtocolMode(tr52::Protocol::Diag);
  auto bufs = link.PacketBuffers();
  std::vector<double> us;
  us.reserve(count);
  int failures = 0;
  for (int i = 0; i < count + 50; ++i) {
    bufs.request[0] = 0x7B;
    const auto t0 = Clock::now();
    const tr52::TxRxResult r = link.AsyncTxRx(bufs.request, bufs.response, 1, 3000);
    const auto t1 = Clock::now();
    if (r != tr52::TxRxResult::Accepted) ++failures;
    if (i >= 50) us.push_back(Seconds(t1 - t0) * 1e6);  // first 50 warm up
  }
  link.Close();
  std::sort(us.begin(), us.end());
  const double median = us[us.size() / 2];
  const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  std::printf(
      "round trip, 1-byte request, %-15s: median %7.1f us, p99 %7.1f us over %zu transactions"
      " (%d failed; target median < 1000 us)\n",
      label, median, p99, us.size(), failures);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1000, atoi(argv[1])) : 2000;
  FrameThroughput("no escapes", 0x11);
  FrameThroughput("all escapes", 0x7E);

  // The scripted peer's port table is a temporary folder of this process.
  tr52test::ScriptedPeer::TableDir();
  {
    tr52test::ScriptedPeer peer(78, [](const tr52test::ScriptedPeer::Bytes& req) {
      return tr52test::ScriptedPeer::Answers{{req[0], 0x00}};
    });
    RoundTrips("scripted peer", 78, count);
  }
  {
    vphone::PhoneOptions options;
    options.com = 77;
    vphone::VirtualPhone phone(options);
    std::string error;
    if (phone.Start(&error)) {
      phone.Script().Answer({0x7B}, {0x7B, 0x00});
      RoundTrips("virtual phone", 77, count);
    } else
      std::printf("virtual phone did not start: %s\n", error.c_str());
  }
  return 0;
}
