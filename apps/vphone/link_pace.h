// The pace of a slow serial link: bytes cross it one after another at a fixed rate, so a
// burst written at once arrives over time. The virtual phone uses it to take the host's bytes
// and to send its answers no faster than a real phone's line carries them (a pseudo-terminal
// alone moves them as fast as the processor copies them).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vphone {

class LinkPace {
 public:
  using Clock = std::chrono::steady_clock;

  // `bytesPerSecond` 0: no pace (every transfer is over at once).
  explicit LinkPace(uint64_t bytesPerSecond) : rate_(bytesPerSecond) {}

  bool Paced() const { return rate_ > 0; }
  // The most bytes worth taking in one go: about 10 ms of the line, so that the waits stay
  // short and the phone's other work (timers, late answers) is not held up; `max` unpaced.
  size_t Chunk(size_t max) const;
  // `bytes` start across the line at `now`, or when the line is free if it is still busy
  // with earlier ones; returns when the last of them is over. An idle line saves no credit.
  Clock::time_point Pass(size_t bytes, Clock::time_point now);

 private:
  uint64_t rate_;
  Clock::time_point free_{};  // when the bytes passed so far are over
};

}  // namespace vphone
