// Facts about the running process: where the host executable lies (the settings file, the log
// and the log viewer are found beside it), the process id and the working directory.
#pragma once

#include <string>

namespace tr52 {

// Full path of the host executable (/proc/self/exe), or the path set by
// SetExecutablePathOverride. The settings file and the log live beside it.
std::string ExecutablePath();
// Folder of ExecutablePath() with a trailing '/'.
std::string ExecutableDir();
// Tests stand in for a host executable somewhere else; an empty path removes the override.
void SetExecutablePathOverride(const std::string& path);

unsigned ProcessId();
std::string CurrentDirectory();

}  // namespace tr52
