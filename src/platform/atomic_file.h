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

// The same replacement for a file too large to hold in memory: written through Fd() (at any
// offset), then put in place by Commit. Destroyed without a successful Commit, the temporary
// file is removed and `path` is as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string path, mode_t newFileMode = 0644);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // The temporary file, open for reading and writing; -1 when it could not be made (Error()
  // says why).
  int Fd() const { return fd_; }
  const std::string& TemporaryPath() const { return tmp_; }
  const std::string& Error() const { return error_; }

  // Writes all of `content` at the end of what was written; false (Error() set) on failure.
  [[nodiscard]] bool Append(std::string_view content);
  // Flushes the file, renames it over `path` and flushes the folder. False, with Error(), when
  // any of that fails; the temporary file is then gone (and `path` untouched unless only the
  // folder flush failed, which Error() says).
  [[nodiscard]] bool Commit();

 private:
  void Fail(const std::string& what, const std::string& name, int err);
  void Discard();

  std::string path_;
  std::string folder_;
  std::string tmp_;
  std::string error_;
  int fd_ = -1;
};

// Flushes the folder `dir` to disk (after a rename or an unlink in it). True when flushed or
// when its file system cannot flush folders.
[[nodiscard]] bool SyncFolder(const std::string& dir);

}  // namespace tr52
