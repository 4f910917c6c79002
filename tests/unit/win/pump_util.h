// Runs the calling thread's message loop until a condition holds or a real-time limit passes.
#pragma once

#include <chrono>
#include <functional>

#include "win/window.h"

namespace wintest {

inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    win::PumpMessages(5);
  }
  return true;
}

}  // namespace wintest
