#include "frame/module_entry.h"

#include <memory>
#include <mutex>

#include "base/process_log.h"
#include "base/settings_file.h"
#include "frame/contained_call.h"
#include "frame/port_teardown.h"
#include "link/port_view.h"
#include "package/image_store.h"
#include "session/session_registry.h"
#include "ui/dialog_registry.h"

namespace tr52 {

namespace {

// The module's own pieces that are not registries: made at load, destroyed at unload.
struct ModulePieces {
  std::mutex mutex;
  std::unique_ptr<PortView> ports;
};

ModulePieces& Pieces() {
  static ModulePieces pieces;
  return pieces;
}

}  // namespace

PortView& ModulePortView() {
  ModulePieces& pieces = Pieces();
  std::lock_guard hold(pieces.mutex);
  if (!pieces.ports) pieces.ports = std::make_unique<PortView>();
  return *pieces.ports;
}

void ModuleAttach() {
  // The log object now, while loading is ours: it opens its code page converter on creation,
  // which a worker must not be the first to do during an unload (see ProcessLog).
  ProcessLog::Instance();
  Settings().SetPath(SettingsFile::PathBesideHost());
  SessionRegistry::Instance();
  DialogRegistry::Instance();
  ResetImageStore();
  {
    std::lock_guard hold(Pieces().mutex);
    Pieces().ports = std::make_unique<PortView>();
  }
}

void ModuleDetach() {
  // First the ports: no worker may still run, and no pane's timer or handler be called, once
  // the module's code and data are gone. The workers also read the images released next.
  ContainedCall("ModuleDetach", [] {
    EndAllPorts();
    return 1;
  });
  ReleaseAllImages();
  // The port view's udev monitor and inotify watch go with the module; it logs, so before
  // the log.
  {
    std::lock_guard hold(Pieces().mutex);
    Pieces().ports.reset();
  }
  // The process-wide objects the module made for itself go with it: registries (empty by
  // now), settings, the image catalogue, and last the log after its footer.
  DialogRegistry::ReleaseInstance();
  SessionRegistry::ReleaseInstance();
  ReleaseSettings();
  FreeImageStore();
  ProcessLog::ReleaseInstance();
}

}  // namespace tr52
