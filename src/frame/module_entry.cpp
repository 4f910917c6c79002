#include "frame/module_entry.h"

#include "base/module_singleton.h"
#include "base/process_log.h"
#include "base/settings_file.h"
#include "frame/contained_call.h"
#include "frame/port_teardown.h"
#include "link/port_view.h"
#include "package/image_store.h"
#include "session/session_registry.h"
#include "ui/dialog_registry.h"

namespace tr52 {

PortView& ModulePortView() {
  return ModuleSingleton<PortView>::Get();
}

void ModuleAttach() {
  // The log object now, while loading is ours: it opens its code page converter on creation,
  // which a worker must not be the first to do during an unload (see ProcessLog).
  ProcessLog::Instance();
  Settings().SetPath(SettingsFile::PathBesideHost());
  SessionRegistry::Instance();
  DialogRegistry::Instance();
  ResetImageStore();
  ModulePortView();
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
  ModuleSingleton<PortView>::Release();
  // The process-wide objects the module made for itself go with it: registries (empty by
  // now), settings, the image catalogue, and last the log after its footer.
  DialogRegistry::ReleaseInstance();
  SessionRegistry::ReleaseInstance();
  ReleaseSettings();
  FreeImageStore();
  ProcessLog::ReleaseInstance();
}

}  // namespace tr52
