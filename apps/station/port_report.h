// One port's entry of the run record, from what the station saw of its last download and from
// the plug-in's log.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "port_slot.h"
#include "run_report.h"

namespace station {

// `log` is the whole log text of the run; the port's last download is read from the offset it
// recorded. `imageSizes` maps image type names to sizes (empty when the package was unreadable).
PortReport MakePortReport(const PortSlot& slot, std::string_view log,
                          const std::map<std::string, uint64_t>& imageSizes);

}  // namespace station
