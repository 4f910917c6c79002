// The objects the loaded module owns: the log, the settings, the image catalogue, the session
// and pane registries and the view of the phone ports. Built at module attach and destroyed at
// detach (module_entry.h), in the order of the members below; a test may build another root beside
// the module's.
#pragma once

#include <memory>
#include <optional>

#include "base/process_log.h"
#include "base/settings_file.h"
#include "package/image_catalogue.h"
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

  SettingsFile& Settings() { return settings_; }
  ImageCatalogue& Images() { return images_; }
  SessionRegistry& Sessions() { return sessions_; }
  DialogRegistry& Dialogs() { return dialogs_; }
  PortView& Ports() { return *ports_; }

  // Routes Log() to this root's log until the root goes (the attached module's root; a root
  // beside it keeps its log to itself).
  void RouteLogHere() { logRoute_.emplace(log_); }

  // Aborts every download and frees every pane and session, the panes (and their workers)
  // first. The destructor does it too; the module's detach calls it before the images go.
  void EndAllPorts();

 private:
  // First in, last out: everything below may log while it works and while it is torn down. The
  // converter it opens on creation must be opened while loading is ours, never first by a
  // worker during an unload.
  ProcessLog log_;
  std::optional<LogTarget> logRoute_;
  // In the host's folder, or the user's when that folder is not the host's own.
  SettingsFile settings_{SettingsFile::PathBesideHost()};
  // The sessions read the images until their ports are ended.
  ImageCatalogue images_;
  // The sessions outlive the panes: a pane's worker runs its port's session until the pane
  // waited for it.
  SessionRegistry sessions_;
  DialogRegistry dialogs_;
  // It logs as it goes, so it goes before the log (which the module's detach closes last).
  std::unique_ptr<PortView> ports_;
};

}  // namespace tr52
