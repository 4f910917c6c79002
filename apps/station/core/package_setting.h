// Saving the package path into the settings file without the configuration dialog.
#pragma once

#include <string>

namespace station {

// Checks that `packagePath` names an existing regular file and writes its absolute path (its
// folder resolved, so that it names the file that was checked) as PATH_BIN of section TR52 into
// the settings file `settingsPath`, through the same settings writer as the configuration
// dialog's OK. A path holding a control character is refused. The value is read back to make
// sure it was saved. On success `saved` holds the path written; on failure `error` says why and
// nothing was written.
bool SavePackagePath(const std::string& settingsPath, const std::string& packagePath,
                     std::string& saved, std::string& error);

}  // namespace station
