#include "platform/temp_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace tr52 {

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string d = (dir && *dir) ? dir : "/tmp";
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  return d;
}

TempFile::~TempFile() {
  Remove();
}

TempFile::TempFile(TempFile&& other) noexcept
    : path_(std::exchange(other.path_, std::string())), fd_(std::exchange(other.fd_, -1)) {}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, std::string());
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TempFile TempFile::CreateUnique(const std::string& prefix) {
  std::string tmpl = TempDirectory() + "/" + prefix + "XXXXXX";
  int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return TempFile();
  return TempFile(tmpl, fd);
}

TempFile TempFile::CreateExclusive(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return TempFile();
  return TempFile(path, fd);
}

TempFile TempFile::CreateAnonymous(const std::string& prefix) {
  const std::string dir = TempDirectory();
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return TempFile(std::string(), fd);
  // No unnamed files here (an old kernel, or a file system without them): a unique name for
  // the moment of the creation only.
  TempFile named = CreateUnique(prefix);
  if (!named.Valid()) return TempFile();
  ::unlink(named.path_.c_str());
  named.path_.clear();
  return TempFile(std::string(), std::exchange(named.fd_, -1));
}

bool TempFile::CloseFd() {
  if (fd_ < 0) return true;
  int rc = ::close(std::exchange(fd_, -1));
  return rc == 0;
}

void TempFile::Remove() {
  CloseFd();
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

std::string TempFile::Release() {
  CloseFd();
  return std::exchange(path_, std::string());
}

}  // namespace tr52
