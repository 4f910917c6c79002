// What the plug-in does when the host loads and unloads it.
#pragma once

namespace tr52 {

// Load: settings path (host executable's folder + "ZUDP2.ini"), the session and dialog locks,
// the image catalogue reset.
void ModuleAttach();
// Unload: ends every port (aborts the downloads, destroys the panes, waits for the workers,
// frees panes and sessions), releases every image slot, then writes "Log finished" and closes
// the log.
void ModuleDetach();

}  // namespace tr52
