// The module's exported entry points and its load/unload hooks.
#include "base/process_log.h"
#include "frame/contained_call.h"
#include "frame/host_operations.h"
#include "frame/module_entry.h"
#include "frame/plugin_ops.h"
#include "win/window.h"

#define TR52_EXPORT __attribute__((visibility("default")))

extern "C" {

TR52_EXPORT int _A130(PluginOps* table) {
  return tr52::ContainedCall("_A130", [&] {
    if (table == nullptr) return 0;
    tr52::FillPluginOps(*table);
    return 1;
  });
}

TR52_EXPORT int _A129(PluginOps* table) {
  return tr52::ContainedCall("_A129", [&] {
    if (table == nullptr) return 0;
    tr52::FillStubOps(*table);
    tr52::Log("Version 36 at least is required.");
    win::MessageBox(nullptr, tr52::kOldHostWarning, "TR52_091117_MP", win::MB_OK);
    return 0;
  });
}

}  // extern "C"

namespace {

// Runs the module's start-up when the host loads it and its clean-up when it unloads it.
__attribute__((constructor)) void OnModuleLoad() {
  tr52::ModuleAttach();
}
__attribute__((destructor)) void OnModuleUnload() {
  tr52::ModuleDetach();
}

}  // namespace
