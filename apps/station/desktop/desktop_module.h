// The entry point of the desktop module (tr52_station_desktop.so): the station looks it up by
// this name after loading the module.
#pragma once

#include <string>

#include "core/station_front_end.h"

inline constexpr char kDesktopModuleName[] = "tr52_station_desktop.so";
inline constexpr char kDesktopEntryName[] = "tr52_station_desktop_open";

// Opens the desktop front end on the calling thread (the one that owns the station's windows);
// null with the reason in `why` when the display cannot be opened. The caller owns the result.
extern "C" station::StationFrontEnd* tr52_station_desktop_open(std::string* why);
using DesktopOpenFunction = station::StationFrontEnd* (*)(std::string* why);
