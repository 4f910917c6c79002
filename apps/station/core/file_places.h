// The files the station and its plug-in keep, where they are for this program and this user
// (`station --info`): beside the program in a folder of its own, else in the user's folders
// (platform/program_files.h).
#pragma once

#include <string>

namespace station {

struct FilePlaces {
  std::string settingsFile;  // ZUDP2.ini
  std::string logFile;       // the plug-in's log; download records are written beside it
  std::string comMapFolder;
  std::string portTableFolder;
};

// The places the running program uses (the user's folders are created when they are used).
FilePlaces CurrentFilePlaces();

// One line per place, "<what>  <path>", for people to read.
std::string FilePlacesText(const FilePlaces& places);

}  // namespace station
