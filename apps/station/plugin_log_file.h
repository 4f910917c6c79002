// The plug-in's log file as this station sees it. The plug-in deletes and re-creates the log the
// first time it writes in a process, so a log found beside the station may still be the one of
// an earlier run: its header names the process that made it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace station {

// True when `logText` starts with the header the plug-in writes for the process `pid`
// ("... (ProcID: 0x<pid as 8 hex digits>) ..." within its first lines).
bool LogWrittenByProcess(std::string_view logText, unsigned pid);

// Where the lines of a download that starts now will begin: the log's size when the log is
// this process's, else 0 (the plug-in re-creates the file before writing its first line).
uint64_t LogOffsetForNewDownload(const std::string& path, unsigned pid);

// The log's text when this process's plug-in wrote it, else empty.
std::string ReadOwnLog(const std::string& path, unsigned pid);

}  // namespace station
