// Replacing a whole file so that a reader, a crash or a power cut finds either the old file or
// the complete new one, never a mix.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace tr52 {

// Writes `content` into a new file with a short unique name in the folder of `path` (same file
// system, and no name longer than the folder allows), flushes it to disk, renames it over `path`
// and flushes the folder, so the rename itself survives a power cut. A file that exists keeps
// its permissions; a new one gets `newFileMode`. On failure `path` is as it was, the temporary
// file is gone, and `error` says what failed and why.
[[nodiscard]] bool ReplaceFileAtomically(const std::string& path, std::string_view content,
                                         std::string& error, mode_t newFileMode = 0644);

// Flushes the folder `dir` to disk (after a rename or an unlink in it). True when flushed or
// when its file system cannot flush folders.
[[nodiscard]] bool SyncFolder(const std::string& dir);

}  // namespace tr52
