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

// The plug-in module's file name, and the private library folder of an installed station
// relative to its program's folder (bin/station, lib/tr52/TR52_091117_MP.so).
constexpr const char* kPluginFileName = "TR52_091117_MP.so";
constexpr const char* kInstalledLibraryFolder = "../lib/tr52";
// The desktop module is installed in a folder of its own below it: its package then holds no
// shared object directly in a system library folder, for which ldconfig would be run in vain.
constexpr const char* kInstalledDesktopFolder = "../lib/tr52/desktop";

// The plug-in for a program at `exe`: beside it (a bin folder copied anywhere), else in the
// installed library folder when one is there; the path beside it when neither exists, so that
// the error names the first place looked.
std::string PluginPathFor(const std::string& exe);
// The same for any module of the station, installed in `installedFolder` (relative to the
// program's folder).
std::string LibraryPathFor(const std::string& exe, const std::string& fileName,
                           const std::string& installedFolder = kInstalledLibraryFolder);
// PluginPathFor the running program.
std::string DefaultPluginPath();

}  // namespace station
