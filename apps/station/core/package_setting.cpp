#include "package_setting.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/settings_file.h"

namespace station {

bool SavePackagePath(const std::string& settingsPath, const std::string& packagePath,
                     std::string& saved, std::string& error) {
  struct stat st {};
  if (::stat(packagePath.c_str(), &st) != 0) {
    error = "package " + packagePath + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "package " + packagePath + " is not a regular file";
    return false;
  }
  // The plug-in opens the path when a download starts, from whatever folder the station then
  // runs in: keep it absolute.
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(packagePath, ec).lexically_normal();
  if (ec) {
    error = "package " + packagePath + ": " + ec.message();
    return false;
  }
  // The settings are read back into 260 bytes: a longer path would come back cut and name
  // another file.
  if (absolute.size() >= static_cast<size_t>(tr52::kSettingsValueBuffer)) {
    error = "package path " + absolute + " has " + std::to_string(absolute.size()) +
            " characters; the settings file keeps at most " +
            std::to_string(tr52::kSettingsValueBuffer - 1);
    return false;
  }
  tr52::SettingsFile settings;
  settings.SetPath(settingsPath);
  settings.Write(tr52::kSettingsSection, tr52::kPathBinKey, absolute);
  // The settings writer reports no errors: an unwritable folder shows only on reading back.
  if (settings.Read(tr52::kSettingsSection, tr52::kPathBinKey, "") != absolute) {
    error = "could not save the package path into " + settingsPath;
    return false;
  }
  saved = absolute;
  return true;
}

}  // namespace station
