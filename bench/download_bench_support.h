// What the whole-download benchmarks share: the package they flash (every image of the plug-in's
// mask, AMSS enciphered as a real package stores it, AMSS and EFS GANG as large as asked), the
// result code of a result message, and a clock that adds up the time threads spent sleeping.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "dz_writer.h"
#include "package/image_type.h"
#include "platform/clock.h"
#include "session/result_codes.h"
#include "support/test_pattern.h"
#include "win/window.h"

namespace tr52bench {

struct Package {
  std::string path;
  uint64_t imageBytes = 0;
};

// Writes `path`; an empty path in the result (and a line on standard error) when it cannot.
inline Package WriteDownloadBenchPackage(const std::string& path, size_t amssMiB, size_t efsMiB) {
  static std::vector<std::vector<uint8_t>> data;  // the writer reads the images at Write
  const std::pair<int, size_t> images[] = {
      {tr52::IMAGE_AMSS, amssMiB << 20}, {tr52::IMAGE_EFS_GANG, efsMiB << 20},
      {tr52::IMAGE_PARTITION_TBL, 512},  {tr52::IMAGE_FLEXIBLE_LOGO, 64 << 10},
      {tr52::IMAGE_DBL, 32 << 10},       {tr52::IMAGE_FSBL, 64 << 10},
      {tr52::IMAGE_OSBL, 128 << 10},
  };
  Package package;
  tr52::DzWriter writer;
  for (const auto& [type, size] : images) {
    data.push_back(tr52test::Pattern(size, static_cast<uint32_t>(type)));
    writer.Add({static_cast<uint32_t>(type), tr52::ImageTypeName(type), type == tr52::IMAGE_AMSS,
                data.back()});
    package.imageBytes += size;
  }
  package.path = path;
  if (!writer.Write(package.path)) {
    std::fprintf(stderr, "cannot write the package %s: %s\n", path.c_str(), writer.Error().c_str());
    package.path.clear();
  }
  return package;
}

// Pumps the host's messages until every opened download has a result (>= 0) or `deadline`
// passes; true when every opened download has one.
template <typename TimePoint>
bool PumpUntilResults(const std::vector<bool>& opened, const std::vector<int>& results,
                      TimePoint deadline) {
  auto pending = [&] {
    for (size_t i = 0; i < opened.size(); ++i)
      if (opened[i] && results[i] < 0) return true;
    return false;
  };
  while (pending() && std::chrono::steady_clock::now() < deadline) win::PumpMessages(10);
  return !pending();
}

// The download's result code for the low word of a result message (1 = success = code 0).
inline int ResultCode(win::WPARAM wParam) {
  const unsigned word = win::LOWORD(wParam);
  return word == 1 ? tr52::ToInt(tr52::ResultCode::Ok) : static_cast<int>(word);
}

using SteadyClock = std::chrono::steady_clock;

double Seconds(SteadyClock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The process clock the plug-in runs on, passed through, with the real time every thread spent
// in SleepMs added up per thread.
class CountingClock : public tr52::Clock {
 public:
  explicit CountingClock(tr52::Clock& inner) : inner_(inner) {}
  uint64_t NowMs() override { return inner_.NowMs(); }
  void SleepMs(uint64_t ms) override {
    const auto start = SteadyClock::now();
    inner_.SleepMs(ms);
    const double slept = Seconds(SteadyClock::now() - start);
    std::lock_guard<std::mutex> lock(mutex_);
    sleptByThread_[std::this_thread::get_id()] += slept;
  }
  double Speed() const override { return inner_.Speed(); }
  tr52::Clock& Inner() { return inner_; }

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleptByThread_.clear();
  }
  // The sleep total of all threads since the last call, and the count starts again.
  double TakeSlept() {
    std::lock_guard<std::mutex> lock(mutex_);
    double total = 0;
    for (const auto& [id, slept] : sleptByThread_) total += slept;
    sleptByThread_.clear();
    return total;
  }
  // The sleep totals of the threads that slept.
  std::vector<double> SleptPerThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> out;
    for (const auto& [id, s] : sleptByThread_) out.push_back(s);
    return out;
  }

 private:
  tr52::Clock& inner_;
  mutable std::mutex mutex_;
  std::map<std::thread::id, double> sleptByThread_;
};

}  // namespace tr52bench
