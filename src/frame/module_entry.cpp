#include "frame/module_entry.h"

#include "base/process_log.h"
#include "base/settings_file.h"
#include "package/image_store.h"
#include "session/session_registry.h"
#include "ui/dialog_registry.h"

namespace tr52 {

void ModuleAttach() {
  Settings().SetPath(SettingsFile::PathBesideHost());
  SessionRegistry::Instance();
  DialogRegistry::Instance();
  ResetImageStore();
}

void ModuleDetach() {
  ReleaseAllImages();
  // The process-wide objects the module made for itself go with it: registries (their arrays,
  // not the sessions or panes they may still point to), settings, the image catalogue, and
  // last the log after its footer.
  DialogRegistry::ReleaseInstance();
  SessionRegistry::ReleaseInstance();
  ReleaseSettings();
  FreeImageStore();
  ProcessLog::ReleaseInstance();
}

}  // namespace tr52
