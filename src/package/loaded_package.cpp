#include "package/loaded_package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/crypto.h"

namespace tr52 {

namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

PackageFileWatch::PackageFileWatch(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
  }
  if (fd_ < 0) return;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  size_ = st.st_size;
  mtime_ = st.st_mtim;
}

PackageFileWatch::~PackageFileWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool PackageFileWatch::Unchanged() const {
  if (fd_ < 0) return false;
  struct stat held {};
  struct stat named {};
  if (::fstat(fd_, &held) != 0 || ::stat(path_.c_str(), &named) != 0) return false;
  return named.st_dev == dev_ && named.st_ino == ino_ && held.st_size == size_ &&
         SameTime(held.st_mtim, mtime_);
}

bool PackageFileWatch::Digest(uint64_t& size, std::string& md5) const {
  if (fd_ < 0) return false;
  Md5 digest;
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t done = 0;
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    digest.Update(buffer.data(), static_cast<size_t>(n));
    done += static_cast<uint64_t>(n);
  }
  size = done;
  md5 = Md5Hex(digest.Final());
  return true;
}

}  // namespace tr52
