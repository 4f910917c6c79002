#include "phonedata/file_replacement.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

namespace tr52 {

namespace {

constexpr int kNameAttempts = 32;
constexpr char kNameChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Forces the data of `fd` to disk. Descriptors that cannot be synchronised (EINVAL: a special
// file) count as done.
bool SyncFd(int fd) {
  return ::fsync(fd) == 0 || errno == EINVAL;
}

// Makes a rename inside `folder` durable.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  SyncFd(fd);
  ::close(fd);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FileReplacement::FileReplacement(std::string path) : path_(std::move(path)) {
  const size_t slash = path_.rfind('/');
  const std::string prefix = slash == std::string::npos
                                 ? "." + path_
                                 : path_.substr(0, slash + 1) + "." + path_.substr(slash + 1);
  std::random_device seed;
  std::minstd_rand pick(seed());
  std::uniform_int_distribution<size_t> letter(0, sizeof kNameChars - 2);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string candidate = prefix + ".";
    for (int i = 0; i < 6; ++i) candidate += kNameChars[letter(pick)];
    // Exclusive creation: never an existing file, never through a symbolic link.
    const int fd =
        ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      fd_ = fd;
      tempPath_ = std::move(candidate);
      return;
    }
    if (errno != EEXIST) return;
  }
}

FileReplacement::~FileReplacement() {
  Discard();
}

bool FileReplacement::Commit() {
  if (fd_ < 0) return false;
  const bool synced = SyncFd(fd_);
  const bool closed = ::close(std::exchange(fd_, -1)) == 0;
  if (!synced || !closed || ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
    Discard();
    return false;
  }
  tempPath_.clear();
  SyncFolder(FolderOf(path_));
  return true;
}

void FileReplacement::Discard() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

}  // namespace tr52
