#include "plugin_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

namespace station {

PluginModule::~PluginModule() {
  // The module stays loaded until the process ends: its unload hooks (image slots released,
  // log footer written) run at exit all the same, and the objects it keeps for the life of the
  // process (registries, log) stay reachable instead of being cut off by an early unload.
}

bool PluginModule::Load(const std::string& path, std::string& error) {
  // A path without a slash would be searched on the library path; the user meant a file.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = "cannot load plug-in: " + std::string(why ? why : file);
    return false;
  }
  dlerror();
  void* sym = dlsym(handle, "_A130");
  if (!sym) {
    const char* why = dlerror();
    error = "plug-in " + file +
            " has no entry point _A130: " + std::string(why ? why : "symbol not found");
    dlclose(handle);
    return false;
  }
  auto entry = reinterpret_cast<PluginEntry>(sym);
  PluginOps ops{};
  if (entry(&ops) != 1) {
    error = "plug-in " + file + ": _A130 refused to fill the operation table";
    dlclose(handle);
    return false;
  }
  if (!ops.IsDisconnected || !ops.IsConnected || !ops.OpenProgress || !ops.CloseProgress ||
      !ops.ShowConfiguration || !ops.GetConfigInfo) {
    error = "plug-in " + file + ": _A130 left operations empty";
    dlclose(handle);
    return false;
  }
  handle_ = handle;
  ops_ = ops;
  return true;
}

std::string PluginPathFor(const std::string& exe) {
  return LibraryPathFor(exe, kPluginFileName);
}

std::string LibraryPathFor(const std::string& exe, const std::string& fileName,
                           const std::string& installedFolder) {
  const std::filesystem::path folder = std::filesystem::path(exe).parent_path();
  const std::filesystem::path beside = folder / fileName;
  const std::filesystem::path installed = (folder / installedFolder / fileName).lexically_normal();
  std::error_code ec;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
    return installed.string();
  return beside.string();
}

std::string DefaultPluginPath() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return kPluginFileName;
  return PluginPathFor(exe.string());
}

}  // namespace station
