// Installs a sped-up process clock for the life of a test and restores the previous one.
#pragma once

#include "platform/clock.h"

namespace tr52test {

class ScopedClock {
 public:
  explicit ScopedClock(double factor) : clock_(factor) { tr52::SetClock(&clock_); }
  ~ScopedClock() { tr52::SetClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
  tr52::ScaledClock& Clock() { return clock_; }

 private:
  tr52::ScaledClock clock_;
};

}  // namespace tr52test
