#include "package_setting.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/printable_text.h"
#include "base/settings_file.h"
#include "win/profile_text.h"

namespace station {
namespace {

namespace fs = std::filesystem;

// The absolute path of the file `packagePath` names, as the system resolved it: its folder with
// every link and "." or ".." resolved the way stat resolved them (a "link/.." is the folder
// above the link's target, not the folder holding the link), and its own name kept, so a link
// to the package stays a link.
std::string ResolvedPath(const std::string& packagePath, std::error_code& ec) {
  const fs::path path = fs::absolute(packagePath, ec);
  if (ec) return "";
  const fs::path folder = fs::canonical(path.parent_path(), ec);
  if (ec) return "";
  return (folder / path.filename()).string();
}

}  // namespace

bool SavePackagePath(const std::string& settingsPath, const std::string& packagePath,
                     std::string& saved, std::string& error) {
  // Refused before anything else, with the path shown escaped: a line break in the value would
  // write another entry of the settings file.
  if (const std::string problem = win::ProblemWithProfileValue(packagePath); !problem.empty()) {
    error = "package path \"" + tr52::PrintableText(packagePath) + "\" " + problem +
            "; such a path cannot be saved in the settings file";
    return false;
  }
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
  // runs in: keep it absolute, and naming the very file that was checked.
  std::error_code ec;
  const std::string absolute = ResolvedPath(packagePath, ec);
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
  std::string why;
  if (!settings.Write(tr52::kSettingsSection, tr52::kPathBinKey, absolute, why)) {
    error = "could not save the package path into " + settingsPath + ": " + why;
    return false;
  }
  // Read back: blanks at either end of a value do not survive the settings file.
  if (settings.Read(tr52::kSettingsSection, tr52::kPathBinKey, "") != absolute) {
    error = "could not save the package path into " + settingsPath +
            ": it does not read back as written";
    return false;
  }
  saved = absolute;
  return true;
}

}  // namespace station
