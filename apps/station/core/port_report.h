// One port's entry of the run record, from what the station saw of its last download and the
// plug-in's record of it.
#pragma once

#include "port_slot.h"
#include "run_report.h"

namespace station {

PortReport MakePortReport(const PortSlot& slot);

}  // namespace station
