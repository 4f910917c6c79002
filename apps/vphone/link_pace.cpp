#include "vphone/link_pace.h"

#include <algorithm>

namespace vphone {

size_t LinkPace::Chunk(size_t max) const {
  if (!Paced()) return max;
  return std::clamp<size_t>(static_cast<size_t>(rate_ / 100), 1, std::max<size_t>(max, 1));
}

LinkPace::Clock::time_point LinkPace::Pass(size_t bytes, Clock::time_point now) {
  if (!Paced()) return now;
  const auto start = std::max(now, free_);
  // Whole nanoseconds per transfer: the rounding never adds up to a faster line.
  const auto ns = (static_cast<uint64_t>(bytes) * 1'000'000'000ULL + rate_ - 1) / rate_;
  free_ = start + std::chrono::nanoseconds(ns);
  return free_;
}

}  // namespace vphone
