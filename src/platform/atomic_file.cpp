#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/path_parts.h"

namespace tr52 {
namespace {

std::string Failure(const std::string& what, const std::string& path, int err) {
  return "cannot " + what + " " + path + ": " + std::strerror(err);
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content, std::string& error,
                           mode_t newFileMode) {
  const std::string folder = FolderOf(path);
  // A short name of our own: "<path>.<pid>.tmp" could pass the 255-byte limit of a name.
  std::string tmp = (folder == "/" ? "" : folder) + "/.tr52-XXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = Failure("create a temporary file in", folder, errno);
    return false;
  }
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : newFileMode;
  int err = 0;
  const char* what = nullptr;
  if (::fchmod(fd, mode) != 0) {
    err = errno, what = "set the permissions of";
  } else if (!WriteAll(fd, content)) {
    err = errno, what = "write";
  } else if (::fsync(fd) != 0) {
    err = errno, what = "flush";
  }
  if (::close(fd) != 0 && err == 0) err = errno, what = "close";
  if (err == 0 && std::rename(tmp.c_str(), path.c_str()) != 0) {
    err = errno;
    ::unlink(tmp.c_str());
    error = Failure("replace", path, err);
    return false;
  }
  if (err != 0) {
    ::unlink(tmp.c_str());
    error = Failure(what, tmp, err);
    return false;
  }
  if (!SyncFolder(folder)) {
    error = Failure("flush the folder", folder, errno) + " (" + path + " was replaced)";
    return false;
  }
  return true;
}

}  // namespace tr52
