// The station's exit status from what became of every port's downloads.
#pragma once

#include <deque>

#include "port_slot.h"

namespace station {

// A download without a result, or (batch) a port that saw no phone, leaves the run unfinished.
// kExitInterrupted when a stop (a signal or the quit key) left it unfinished before the time
// limit; else kExitPortFailed when a download failed, a pane was refused or (batch) a phone's
// port could not be opened; else, when unfinished, kExitTimeLimit if the time limit ended the
// run and kExitPortFailed otherwise; else kExitOk.
int RunExitStatus(const std::deque<PortSlot>& slots, bool batch, bool timedOut, bool stopped);

}  // namespace station
