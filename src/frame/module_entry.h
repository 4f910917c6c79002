// What the plug-in does when the host loads and unloads it.
#pragma once

namespace tr52 {

class ModuleRoot;

// Load: the log, the settings path (host executable's folder + "ZUDP2.ini"), the image
// catalogue reset, then the module's root (registries and port view).
void ModuleAttach();
// Unload: ends every port (aborts the downloads, destroys the panes, waits for the workers,
// frees panes and sessions), releases every image slot, destroys the root, then writes
// "Log finished" and closes the log.
void ModuleDetach();

// The root of the attached module; null before ModuleAttach and after ModuleDetach (a host
// operation called then fails).
ModuleRoot* AttachedModuleRoot();

// Tests only: makes `root` (which the caller owns; may be null) the one the host operations
// reach, and returns the one they reached before.
ModuleRoot* ExchangeModuleRootForTesting(ModuleRoot* root);

}  // namespace tr52
