#include "file_places.h"

#include "base/process_log.h"
#include "base/settings_file.h"
#include "link/com_map.h"
#include "platform/path_parts.h"
#include "platform/port_table.h"
#include "session/download_record.h"

namespace station {
namespace {

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
  const std::string logFolder = tr52::FolderOf(places.logFile);
  std::string text;
  text += "settings file     " + places.settingsFile + "\n";
  text += "log folder        " + logFolder + " (the plug-in's log " +
          tr52::FileNameOf(places.logFile) + ")\n";
  text += "download records  " + tr52::RecordPathFor(places.logFile) + "\n";
  text += "COM map           " + OrUnknown(comMap) + "\n";
  text += "port table        " + places.portTableFolder + "\n";
  return text;
}

}  // namespace station
