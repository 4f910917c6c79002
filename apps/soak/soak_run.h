// One soak run: a private folder with a copy of the station and its plug-in, a generated package
// and a port table; the station serving `phones` ports in its interactive mode; on each port a
// virtual phone plugged in, downloaded, unplugged, and the next one plugged in, `downloads`
// times; a seeded tenth of the downloads with a fault. Then the figures, and whether the
// station stayed healthy; then the stop round (a station stopped by a signal at a random moment
// of a busy run).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct SoakOptions {
  int phones = 16;
  int downloads = 50;
  uint64_t seed = 0;
  double timeScale = 50;         // the station's --time-scale
  uint32_t rebootDelayMs = 300;  // the phones' reboot delay (real time)
  int firstCom = 30;
  int timeoutSeconds = 3600;  // the whole run
  double maxGrowth = 0.10;    // resident memory growth allowed from start to end
  // Downloads without a fault may fail without failing the soak (sanitizer builds: their slowed
  // phones may lose the answer race at a reset).
  bool unfaultedMayFail = false;
  std::string binDir;                    // where station, libtr52_win.so and the plug-in are
  std::vector<std::string> stationArgs;  // more arguments for the station
  bool keep = false;  // keep the work folder (it is kept anyway when the soak fails)
};

// Runs the soak and prints its figures; the exit status (0 healthy, 1 not, 2 could not run).
int RunSoak(const SoakOptions& options);

}  // namespace soak
