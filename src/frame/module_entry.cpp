#include "frame/module_entry.h"

#include <atomic>

#include "base/process_log.h"
#include "base/settings_file.h"
#include "frame/contained_call.h"
#include "frame/module_root.h"
#include "package/image_store.h"

namespace tr52 {

namespace {

// The root of the attached module. The host's operations carry no context: this is how they
// reach it.
std::atomic<ModuleRoot*> g_root{nullptr};

}  // namespace

ModuleRoot* AttachedModuleRoot() {
  return g_root.load(std::memory_order_acquire);
}

ModuleRoot* ExchangeModuleRootForTesting(ModuleRoot* root) {
  return g_root.exchange(root, std::memory_order_acq_rel);
}

// What the module makes at load, in this order; ModuleDetach undoes it in the reverse order.
void ModuleAttach() {
  // The log object first, while loading is ours: it opens its code page converter on creation,
  // which a worker must not be the first to do during an unload (see ProcessLog).
  ProcessLog::Instance();
  Settings().SetPath(SettingsFile::PathBesideHost());
  ResetImageStore();
  // A second attach without a detach keeps the root it has.
  ModuleRoot* expected = nullptr;
  auto root = std::make_unique<ModuleRoot>();
  if (g_root.compare_exchange_strong(expected, root.get(), std::memory_order_acq_rel))
    root.release();
}

void ModuleDetach() {
  std::unique_ptr<ModuleRoot> root(g_root.exchange(nullptr, std::memory_order_acq_rel));
  // First the ports: no worker may still run, and no pane's timer or handler be called, once
  // the module's code and data are gone. The workers also read the images released next.
  if (root) {
    ContainedCall("ModuleDetach", [&] {
      root->EndAllPorts();
      return 1;
    });
  }
  ReleaseAllImages();
  // Then the port view and the registries (empty by now); the port view logs as it goes, so
  // before the log.
  root.reset();
  // Last the process-wide objects behind the free functions: settings, the image catalogue,
  // and the log after its footer.
  ReleaseSettings();
  FreeImageStore();
  ProcessLog::ReleaseInstance();
}

}  // namespace tr52
