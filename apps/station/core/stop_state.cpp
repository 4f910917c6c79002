#include "stop_state.h"

#include <signal.h>

namespace station {

StopPhase PhaseOf(int stopSignals, bool quitKey) {
  if (quitKey || stopSignals >= 2) return StopPhase::kLeaving;
  return stopSignals == 1 ? StopPhase::kDraining : StopPhase::kServing;
}

bool RunEnds(StopPhase phase, bool anyRunning) {
  switch (phase) {
    case StopPhase::kServing:
      return false;
    case StopPhase::kDraining:
      return !anyRunning;
    case StopPhase::kLeaving:
      return true;
  }
  return true;
}

std::string WaitingText(const std::vector<std::string>& ports) {
  if (ports.empty()) return "";
  std::string list;
  for (const auto& port : ports) list += (list.empty() ? "" : ", ") + port;
  return "waiting for " + list + " to finish; Ctrl-C again to leave them";
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace station
