// Writing a whole file so that a reader sees either the old file or the complete new one.
#pragma once

#include <string>

namespace station {

// Writes `text` into a new file beside `path` (same folder, so the rename stays on one file
// system), flushes it to disk and renames it over `path`. On failure `path` is untouched, the
// temporary file is removed and `error` says why.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);

}  // namespace station
