// The one clock every wait of the system goes through.
//
// Real phones need real waits (40 s after switching to download mode, 60 s after a reset,
// 3 s protocol time-outs). Tests and the demo compress all of them at once by installing a
// ScaledClock: time then runs `factor` times faster for everyone, so the flows and the
// time-outs keep their values and their order.
#pragma once

#include <cstdint>

namespace tr52 {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic scale (only differences mean anything).
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint64_t ms) = 0;
  // How much faster than real time this clock runs (1 for the real clock). Code that waits on
  // the operating system directly (poll on a port) divides its real wait by this.
  virtual double Speed() const { return 1.0; }
};

// Real time.
class SystemClock : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
};

// Real time sped up by a factor: NowMs advances `factor` ms per real ms, SleepMs(ms) sleeps
// ms / factor real milliseconds.
class ScaledClock : public Clock {
 public:
  // Starts at `startMs`; a clock put in place of another starts where that one stands, so that
  // the process clock never runs backwards.
  explicit ScaledClock(double factor, uint64_t startMs = 0);
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
  double Speed() const override { return factor_; }

 private:
  double factor_;
  uint64_t startMs_;
  uint64_t startRealUs_;
};

// The process-wide clock (a SystemClock unless one was installed).
Clock& GetClock();
// Installs a clock for the whole process; nullptr restores the system clock. The caller keeps
// ownership and must keep it alive while installed. Install before starting threads.
void SetClock(Clock* clock);

// Shorthands for GetClock().
inline uint64_t NowMs() {
  return GetClock().NowMs();
}
inline void SleepMs(uint64_t ms) {
  GetClock().SleepMs(ms);
}

}  // namespace tr52
