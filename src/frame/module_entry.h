// What the plug-in does when the host loads and unloads it.
#pragma once

namespace tr52 {

// Load: settings path (host executable's folder + "ZUDP2.ini"), the session and dialog locks,
// the image catalogue reset; and a sped-up process clock when TR52_TIME_SCALE holds a number
// greater than 1.
void ModuleAttach();
// Unload: ends every port (aborts the downloads, destroys the panes, waits for the workers,
// frees panes and sessions), releases every image slot, then writes "Log finished" and closes
// the log.
void ModuleDetach();

// The factor TR52_TIME_SCALE asks for, or 0 when it is unset, not a number or not above 1.
double TimeScaleFromEnvironment();

}  // namespace tr52
