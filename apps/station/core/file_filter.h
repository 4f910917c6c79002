// The filter of a file-open request ("Binary Image (*.dz)|*.dz||"), for the front ends' file
// choosers.
#pragma once

#include <string>
#include <vector>

namespace station {

// One "description|patterns|" pair of a file-open filter; patterns such as "*.dz".
struct FileFilter {
  std::string description;
  std::vector<std::string> patterns;
};

// "Binary Image (*.dz)|*.dz||" gives {"Binary Image (*.dz)", {"*.dz"}}; patterns are split at
// ';'. A description without its pattern part is dropped.
std::vector<FileFilter> ParseFileFilter(const std::string& filter);
// True when `name` matches a pattern of a filter (case ignored, as the file-open dialog does);
// no filter at all lets every name through.
bool MatchesFilter(const std::string& name, const std::vector<FileFilter>& filters);

}  // namespace station
