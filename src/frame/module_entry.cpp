#include "frame/module_entry.h"

#include <atomic>

#include "frame/contained_call.h"
#include "frame/module_root.h"

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

// What the module makes at load; ModuleDetach undoes it. The root builds and tears down its
// parts in the order its members state.
void ModuleAttach() {
  // A second attach without a detach keeps the root it has.
  ModuleRoot* expected = nullptr;
  auto root = std::make_unique<ModuleRoot>();
  if (g_root.compare_exchange_strong(expected, root.get(), std::memory_order_acq_rel)) {
    root->RouteLogHere();
    root.release();
  }
}

void ModuleDetach() {
  std::unique_ptr<ModuleRoot> root(g_root.exchange(nullptr, std::memory_order_acq_rel));
  if (!root) return;
  // First the ports: no worker may still run, and no pane's timer or handler be called, once
  // the module's code and data are gone.
  ContainedCall("ModuleDetach", [&] {
    root->EndAllPorts();
    return 1;
  });
  // Then the rest of the root, the log last, after its footer; later lines are dropped.
  root.reset();
}

}  // namespace tr52
