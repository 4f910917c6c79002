// What the plug-in does when the host loads and unloads it.
#pragma once

namespace tr52 {

class ModuleRoot;

// Load: the module's root (log, settings beside the host executable, image catalogue,
// registries, port view), with Log() routed to its log.
void ModuleAttach();
// Unload: ends every port (aborts the downloads, destroys the panes, waits for the workers,
// frees panes and sessions), destroys the rest of the root (the images with it), then writes
// "Log finished" and closes the log.
void ModuleDetach();

// The root of the attached module; null before ModuleAttach and after ModuleDetach (a host
// operation called then fails).
ModuleRoot* AttachedModuleRoot();

// Tests only: makes `root` (which the caller owns; may be null) the one the host operations
// reach, and returns the one they reached before.
ModuleRoot* ExchangeModuleRootForTesting(ModuleRoot* root);

}  // namespace tr52
