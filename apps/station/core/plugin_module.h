// The plug-in module loaded at run time, and its table of six operations.
#pragma once

#include <string>

#include "frame/plugin_ops.h"

namespace station {

// The loaded module: unloaded (dlclose) when this object goes, unless the station leaves with
// downloads still running (then the process ends without unloading anything under them).
class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // dlopen + _A130. On failure returns false and `error` holds the reason (dlerror text).
  bool Load(const std::string& path, std::string& error);
  const PluginOps& Ops() const { return ops_; }
  bool Loaded() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
  PluginOps ops_{};
};

// TR52_091117_MP.so in the folder of the running program.
std::string DefaultPluginPath();

}  // namespace station
