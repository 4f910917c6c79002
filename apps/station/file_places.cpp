#include "file_places.h"

#include "base/process_log.h"
#include "base/settings_file.h"
#include "link/com_map.h"
#include "platform/port_table.h"

namespace station {
namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string OrUnknown(const std::string& path) {
  return path.empty() ? "(none: neither TR52_COM_MAP_DIR, XDG_STATE_HOME nor HOME is set)" : path;
}

}  // namespace

FilePlaces CurrentFilePlaces() {
  return {tr52::SettingsFile::PathBesideHost(), tr52::ProcessLog::DefaultPath(), tr52::ComMapDir(),
          tr52::PortTableDir()};
}

std::string FilePlacesText(const FilePlaces& places) {
  const std::string comMap = places.comMapFolder.empty() ? "" : places.comMapFolder + "/com-map";
  return "settings file     " + places.settingsFile + "\n" + "log folder        " +
         FolderOf(places.logFile) + " (the plug-in's log " +
         places.logFile.substr(places.logFile.rfind('/') + 1) + ")\n" + "download records  " +
         FolderOf(places.logFile) + " (beside the log)\n" + "COM map           " +
         OrUnknown(comMap) + "\n" + "port table        " + places.portTableFolder + "\n";
}

}  // namespace station
