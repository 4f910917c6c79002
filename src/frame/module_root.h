// The objects the loaded module owns: the session and pane registries and the view of the phone
// ports. Built at module attach and destroyed at detach (module_entry.h), in the order of the
// members below; a test may build another root beside the module's.
#pragma once

#include <memory>

#include "session/session_registry.h"
#include "ui/dialog_registry.h"

namespace tr52 {

class PortView;

class ModuleRoot {
 public:
  // Builds the members top to bottom.
  ModuleRoot();
  // Ends every port (aborts the downloads, destroys the panes, waits for the workers, frees
  // panes and sessions), then destroys the members bottom to top.
  ~ModuleRoot();

  ModuleRoot(const ModuleRoot&) = delete;
  ModuleRoot& operator=(const ModuleRoot&) = delete;

  SessionRegistry& Sessions() { return sessions_; }
  DialogRegistry& Dialogs() { return dialogs_; }
  PortView& Ports() { return *ports_; }

  // Aborts every download and frees every pane and session, the panes (and their workers)
  // first. The destructor does it too; the module's detach calls it before the images go.
  void EndAllPorts();

 private:
  // The sessions outlive the panes: a pane's worker runs its port's session until the pane
  // waited for it.
  SessionRegistry sessions_;
  DialogRegistry dialogs_;
  // It logs as it goes, so it goes before the log (which the module's detach closes last).
  std::unique_ptr<PortView> ports_;
};

}  // namespace tr52
