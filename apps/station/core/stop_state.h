// What a request to stop does to a run, without the signals: the first request stops taking
// phones and lets the running downloads finish (they cannot be cancelled), a second one leaves
// them; the quit key leaves at once (after its own question when downloads run).
#pragma once

#include <string>
#include <vector>

namespace station {

enum class StopPhase {
  kServing,   // no stop asked for
  kDraining,  // no new phones; the run ends when the running downloads have ended
  kLeaving,   // the run ends now, whatever still runs
};

// The phase after `stopSignals` stop signals, or at once when the quit key left.
StopPhase PhaseOf(int stopSignals, bool quitKey);

// True when the run's loop ends in `phase` with downloads still running or not.
bool RunEnds(StopPhase phase, bool anyRunning);

// "waiting for COM5, COM7 to finish; Ctrl-C again to leave them"; empty without ports.
std::string WaitingText(const std::vector<std::string>& ports);

// "SIGINT", "SIGTERM", "SIGHUP", else "signal <n>".
std::string SignalName(int signal);

}  // namespace station
