// The soak's look at the station's history file: one row for every download the station
// started, every row complete, none twice.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace soak {

// Prints the figures of the rows of the station process `pid` in the history at `path` and adds
// a problem for each way they fall short of `started` downloads.
void CheckHistory(const std::string& path, pid_t pid, int started,
                  std::vector<std::string>& problems);

}  // namespace soak
