// The named waits of a download and the pauses between port re-acquisition tries.
#include <atomic>
#include <cstdlib>

#include "base/process_log.h"
#include "link/phone_link.h"
#include "platform/clock.h"
#include "platform/port_table.h"
#include "session/download_steps.h"

namespace tr52 {

namespace {
constexpr uint64_t kWaitSliceMs = 250;
}  // namespace

double WaitScaleFromEnvironment() {
  const char* text = std::getenv("TR52_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const double factor = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(factor > 1.0) || factor > 1e9) return 0;
  return factor;
}

double WaitScaleForPort(int port) {
  const double scale = WaitScaleFromEnvironment();
  if (scale == 0) return 0;
  // A port of the port table is a virtual phone or a test peer; anything else may be a real
  // phone, whose reboots take the time they take.
  for (const DeclaredPort& declared : ListDeclaredPorts())
    if (declared.com == port) return scale;
  static std::atomic<bool> told{false};
  if (!told.exchange(true))
    Log("[COM%d] time scale %g ignored: only ports of the port table wait shorter", port, scale);
  return 0;
}

void RetryPause(const StepContext& ctx, uint64_t ms) {
  const double scale = ctx.job.waitScale >= 1.0 ? ctx.job.waitScale : 1.0;
  uint64_t left = static_cast<uint64_t>(static_cast<double>(ms) / scale);
  // In slices, so that a host closing the port (which aborts the link) never waits out a
  // minute-long wait.
  while (left > 0 && !(ctx.link != nullptr && ctx.link->IsAborted())) {
    const uint64_t slice = left < kWaitSliceMs ? left : kWaitSliceMs;
    SleepMs(slice);
    left -= slice;
  }
}

void WaitSeconds(const StepContext& ctx, uint8_t port, int seconds) {
  (void)port;  // the wait is the same for every port; the port only names it
  if (seconds > 0) RetryPause(ctx, static_cast<uint64_t>(seconds) * 1000);
}

void Wait(const StepContext& ctx, const NamedWait& wait) {
  // Said before it starts, so that a minute without a line in the log has its reason there.
  Log("[COM%d] Wait \"%s\" (%d s)", ctx.job.port, wait.name, wait.seconds);
  WaitSeconds(ctx, ctx.job.port, wait.seconds);
}

}  // namespace tr52
