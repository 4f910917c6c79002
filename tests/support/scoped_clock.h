// Installs a sped-up process clock for the life of a test and restores the previous one.
//
// The process clock never runs backwards, as the system's does not: each sped-up clock starts
// where the last one of the program ended (or at the clock in place, if that is later). Code that
// keeps times across tests (the module's port view, one per program) would otherwise take the
// questions of two tests for one sweep of the host.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/clock.h"

namespace tr52test {

class ScopedClock {
 public:
  explicit ScopedClock(double factor) : clock_(factor, std::max(tr52::NowMs(), EndedAtMs())) {
    tr52::SetClock(&clock_);
  }
  ~ScopedClock() {
    EndedAtMs() = clock_.NowMs();
    tr52::SetClock(nullptr);
  }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
  tr52::ScaledClock& Clock() { return clock_; }

 private:
  static uint64_t& EndedAtMs() {
    static uint64_t endedAt = 0;
    return endedAt;
  }
  tr52::ScaledClock clock_;
};

}  // namespace tr52test
