// What the plug-in does when the host loads and unloads it.
#pragma once

namespace tr52 {

class PortView;

// Load: settings path (host executable's folder + "ZUDP2.ini"), the session and dialog locks,
// the image catalogue reset.
void ModuleAttach();
// Unload: ends every port (aborts the downloads, destroys the panes, waits for the workers,
// frees panes and sessions), releases every image slot, then writes "Log finished" and closes
// the log.
void ModuleDetach();

// The module's view of the phone ports, which the host's per-port questions are answered from.
// Made by ModuleAttach and destroyed by ModuleDetach (after the ports ended, before the log);
// a host that drives the operations without loading the module (a test) gets it made at first
// use. The operations of the host's table carry no context: this is how they reach it.
PortView& ModulePortView();

}  // namespace tr52
