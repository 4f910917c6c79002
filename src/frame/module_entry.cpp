#include "frame/module_entry.h"

#include <cstdlib>

#include "base/process_log.h"
#include "base/settings_file.h"
#include "frame/contained_call.h"
#include "frame/port_teardown.h"
#include "package/image_store.h"
#include "platform/clock.h"
#include "session/session_registry.h"
#include "ui/dialog_registry.h"

namespace tr52 {

namespace {

// The module's own sped-up clock; installed for the whole life of the module. A plain pointer
// on purpose: the unload hook may run after the module's static objects were destroyed at exit,
// so the clock must not be owned by one of them.
ScaledClock*& ModuleClock() {
  static ScaledClock* clock = nullptr;
  return clock;
}

}  // namespace

double TimeScaleFromEnvironment() {
  const char* text = std::getenv("TR52_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const double factor = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(factor > 1.0) || factor > 1e9) return 0;
  return factor;
}

void ModuleAttach() {
  // The log object now, while loading is ours: it opens its code page converter on creation,
  // which a worker must not be the first to do during an unload (see ProcessLog).
  ProcessLog::Instance();
  Settings().SetPath(SettingsFile::PathBesideHost());
  SessionRegistry::Instance();
  DialogRegistry::Instance();
  ResetImageStore();
  if (const double factor = TimeScaleFromEnvironment(); factor > 0 && !ModuleClock()) {
    ModuleClock() = new ScaledClock(factor);
    SetClock(ModuleClock());
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
  if (ModuleClock()) {
    SetClock(nullptr);
    delete ModuleClock();
    ModuleClock() = nullptr;
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
