#include "run_exit_status.h"

#include "options.h"

namespace station {

int RunExitStatus(const std::deque<PortSlot>& slots, bool batch, bool timedOut, bool stopped) {
  bool failed = false;
  bool unfinished = false;
  for (const auto& slot : slots) {
    failed = failed || slot.sessions.AnyFailed();
    unfinished = unfinished || slot.sessions.AnyUnfinished();
    // No phone at all only matters in batch mode, where every port is expected to be served.
    if (slot.sessions.Empty() && batch) {
      if (slot.connectEverFailed)
        failed = true;
      else
        unfinished = true;
    }
  }
  // A stop that let every download finish keeps the run's status; one that left work undone
  // says so (the time limit says it with its own status).
  if (stopped && unfinished && !timedOut) return kExitInterrupted;
  if (failed) return kExitPortFailed;
  if (unfinished) return timedOut ? kExitTimeLimit : kExitPortFailed;
  return kExitOk;
}

}  // namespace station
