// A new version of a file, written beside it under a temporary name and put in its place by
// one rename once it is complete and on disk: a reader, or a crash, sees the old file or the
// new one, never a part of the new one, and a write that fails half-way leaves the old file as
// it was.
#pragma once

#include <string>

namespace tr52 {

class FileReplacement {
 public:
  // Creates the temporary file (".<name>.XXXXXX", mode 0644 less the umask) in the folder of
  // `path`; Valid() tells whether that worked.
  explicit FileReplacement(std::string path);
  // Removes the temporary file unless it was committed.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  bool Valid() const { return fd_ >= 0; }
  // The temporary file, open for reading and writing; -1 when not valid.
  int Fd() const { return fd_; }
  const std::string& TemporaryPath() const { return tempPath_; }

  // Flushes the temporary file to disk, renames it over the target and flushes the folder.
  // False when any of that fails; the temporary file is then removed and the target untouched.
  bool Commit();
  // Removes the temporary file; the target stays as it is.
  void Discard();

 private:
  std::string path_;
  std::string tempPath_;
  int fd_ = -1;
};

}  // namespace tr52
