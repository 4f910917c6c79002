// The choice of the station's front end.
#pragma once

#include <memory>
#include <string>

#include "core/options.h"
#include "core/station_front_end.h"
#include "core/ui_choice.h"

namespace station {

// The front end ChooseUi names for this process. One that cannot start gives way to the next
// (window, then full screen, then plain) with a line saying why, unless --ui asked for it: then
// nullptr and `error`.
std::unique_ptr<StationFrontEnd> MakeFrontEnd(const Options& options, std::string& error);

}  // namespace station
