// The desktop front end as a module of its own, loaded by the station when a window is wanted:
// the station itself never needs GTK, so a machine without a desktop runs it headless without
// the desktop's libraries installed.
#include <string>

#include "desktop_front_end.h"
#include "desktop_module.h"

extern "C" __attribute__((visibility("default"))) station::StationFrontEnd*
tr52_station_desktop_open(std::string* why) {
  std::string reason;
  auto frontEnd = station::DesktopFrontEnd::Open(reason);
  if (!frontEnd && why) *why = reason;
  return frontEnd.release();
}
