// Where the history is kept when no path is given, and what a station is called by default.
#pragma once

#include <string>

namespace history {

// $XDG_STATE_HOME/tr52/history.sqlite (an absolute XDG_STATE_HOME only), else
// ~/.local/state/tr52/history.sqlite; empty when there is no home folder to put it in.
std::string DefaultHistoryPath();

// The machine's host name ("station" when it has none).
std::string DefaultStationId();

}  // namespace history
