// The station's exit status from what became of every port's downloads.
#pragma once

#include <deque>

#include "port_slot.h"

namespace station {

// kExitInterrupted when interrupted; else kExitPortFailed when a download failed, a pane was
// refused or (batch) a phone's port could not be opened; else, when a download has no result
// or (batch) a port saw no phone, kExitTimeLimit if the time limit ended the run and
// kExitPortFailed otherwise; else kExitOk.
int RunExitStatus(const std::deque<PortSlot>& slots, bool batch, bool timedOut, bool interrupted);

}  // namespace station
