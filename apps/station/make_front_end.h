// The choice of the station's front end.
#pragma once

#include <memory>

#include "core/options.h"
#include "core/station_front_end.h"

namespace station {

// The full-screen front end when standard input is a terminal, and so is standard output
// when ports are served, the run is not a batch run, --plain was not given and curses can
// drive the terminal; else plain text.
std::unique_ptr<StationFrontEnd> MakeFrontEnd(const Options& options);

}  // namespace station
