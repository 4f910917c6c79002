#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace tr52 {
namespace {

uint64_t RealMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

SystemClock& DefaultClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<Clock*> g_clock{nullptr};

}  // namespace

uint64_t SystemClock::NowMs() {
  return RealMicros() / 1000;
}

void SystemClock::SleepMs(uint64_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ScaledClock::ScaledClock(double factor, uint64_t startMs)
    : factor_(factor > 0 ? factor : 1.0), startMs_(startMs), startRealUs_(RealMicros()) {}

uint64_t ScaledClock::NowMs() {
  const double elapsedUs = static_cast<double>(RealMicros() - startRealUs_);
  return startMs_ + static_cast<uint64_t>(elapsedUs * factor_ / 1000.0);
}

void ScaledClock::SleepMs(uint64_t ms) {
  const auto realUs = static_cast<uint64_t>(static_cast<double>(ms) * 1000.0 / factor_);
  std::this_thread::sleep_for(std::chrono::microseconds(realUs));
}

Clock& GetClock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : DefaultClock();
}

void SetClock(Clock* clock) {
  g_clock.store(clock, std::memory_order_release);
}

}  // namespace tr52
