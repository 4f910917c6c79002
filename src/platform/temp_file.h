// Temporary files that remove themselves.
//
// Created exclusively (never an existing file, never through a symbolic link) in $TMPDIR, or
// /tmp when it is unset; the object owns the file and removes it when destroyed. A file that
// needs no name is best made anonymous: a crash then leaves nothing.
#pragma once

#include <string>

namespace tr52 {

// $TMPDIR when set and not empty, else "/tmp"; without a trailing '/'.
std::string TempDirectory();

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // A new empty file "<TempDirectory()>/<prefix>XXXXXX" with a unique name, open for reading
  // and writing. Invalid (empty path) on failure.
  static TempFile CreateUnique(const std::string& prefix);
  // Creates exactly `path`, which must not exist yet, open for reading and writing.
  static TempFile CreateExclusive(const std::string& path);
  // A new file without a name in TempDirectory(), open for reading and writing (Path() is
  // empty): made unnamed (O_TMPFILE), or, where the file system cannot, removed from its folder
  // right after its creation (under a name "<prefix>XXXXXX"). Its space is freed when the
  // descriptor closes, however the process ends: nothing is ever left behind.
  static TempFile CreateAnonymous(const std::string& prefix);

  bool Valid() const { return fd_ >= 0 || !path_.empty(); }
  const std::string& Path() const { return path_; }
  int Fd() const { return fd_; }
  // Closes the descriptor; the file stays until Remove or destruction. False on a close error.
  bool CloseFd();
  // Closes and deletes the file now.
  void Remove();
  // Closes the descriptor and gives up ownership: the file stays. Returns its path.
  std::string Release();

 private:
  TempFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  std::string path_;
  int fd_ = -1;
};

}  // namespace tr52
