// Which front end a run asks for, from its options and what the process finds around it.
#pragma once

#include "options.h"

namespace station {

// What the choice looks at besides the options.
struct Surroundings {
  bool display = false;         // DISPLAY or WAYLAND_DISPLAY is set
  bool stdinTerminal = false;   // standard input is a terminal
  bool stdoutTerminal = false;  // standard output is a terminal
};

// --ui when given; plain for --plain and --batch; a window when there is a display and
// something to show (ports to serve or the configuration dialog); full screen when standard
// input is a terminal and so is standard output when ports are served; else plain.
UiKind ChooseUi(const Options& options, const Surroundings& where);

}  // namespace station
