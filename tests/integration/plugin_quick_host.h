// The test host of whole downloads (PluginHost) with waits shaped for many downloads in a row on
// a busy machine: a clock 50 times faster than real time (a 3 s protocol time-out is 60 ms,
// enough for a phone thread to answer in time while other programs build), the named waits 10
// times shorter again (as the station's --time-scale makes them: the 40 s wait takes 4 s on the
// clock, 80 ms), and phones back from a reboot after 0.2 s on the clock (plus their port's own
// settling, about 25 ms), well within those waits.
#pragma once

#include <memory>
#include <string>

#include "plugin_host_fixture.h"

namespace tr52test {

class PluginQuickHost : public PluginHost {
 public:
  PluginQuickHost() : PluginHost(kClockSpeed) { rebootDelayMs_ = kRebootDelayMs; }

  static constexpr double kClockSpeed = 50;
  static constexpr int kWaitScale = 10;
  static constexpr uint32_t kRebootDelayMs = 200;

 private:
  ScopedEnv waitScale_{"TR52_TIME_SCALE", std::to_string(kWaitScale)};
};

}  // namespace tr52test
