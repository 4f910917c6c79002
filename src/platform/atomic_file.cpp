#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/path_parts.h"

namespace tr52 {

bool SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

AtomicFileWriter::AtomicFileWriter(std::string path, mode_t newFileMode)
    : path_(std::move(path)), folder_(FolderOf(path_)) {
  // A short name of our own: "<path>.<pid>.tmp" could pass the 255-byte limit of a name.
  std::string tmp = (folder_ == "/" ? "" : folder_) + "/.tr52-XXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) {
    Fail("create a temporary file in", folder_, errno);
    return;
  }
  fd_ = fd;
  tmp_ = std::move(tmp);
  struct stat old {};
  const mode_t mode = ::stat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : newFileMode;
  if (::fchmod(fd_, mode) != 0) {
    Fail("set the permissions of", tmp_, errno);
    Discard();
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  Discard();
}

void AtomicFileWriter::Fail(const std::string& what, const std::string& name, int err) {
  error_ = "cannot " + what + " " + name + ": " + std::strerror(err);
}

void AtomicFileWriter::Discard() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  if (!tmp_.empty()) ::unlink(tmp_.c_str());
  tmp_.clear();
}

bool AtomicFileWriter::Append(std::string_view content) {
  if (fd_ < 0) return false;
  while (!content.empty()) {
    const ssize_t n = ::write(fd_, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail("write", tmp_, n == 0 ? EIO : errno);
      return false;
    }
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool AtomicFileWriter::Commit() {
  if (fd_ < 0) return false;
  if (::fsync(fd_) != 0) {
    Fail("flush", tmp_, errno);
    Discard();
    return false;
  }
  if (::close(std::exchange(fd_, -1)) != 0) {
    Fail("close", tmp_, errno);
    Discard();
    return false;
  }
  if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
    Fail("replace", path_, errno);
    Discard();
    return false;
  }
  tmp_.clear();
  if (!SyncFolder(folder_)) {
    Fail("flush the folder", folder_, errno);
    error_ += " (" + path_ + " was replaced)";
    return false;
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content, std::string& error,
                           mode_t newFileMode) {
  AtomicFileWriter file(path, newFileMode);
  const bool ok = file.Append(content) && file.Commit();
  if (!ok) error = file.Error();
  return ok;
}

}  // namespace tr52
