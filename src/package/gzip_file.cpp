#include "package/gzip_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace tr52 {

bool GzipFile::Open(const std::string& path, Mode mode) {
  Close();
  if (mode != kRead) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) return false;
  gzbuffer(f, 128 * 1024);  // fewer, larger reads of the source file
  file_ = f;
  length_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool GzipFile::OpenFd(int fd) {
  Close();
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);  // gzclose closes it, not the caller's
  if (own < 0) return false;
  gzFile f = ::lseek(own, 0, SEEK_SET) == 0 ? gzdopen(own, "rb") : nullptr;
  if (!f) {
    ::close(own);
    return false;
  }
  gzbuffer(f, 128 * 1024);
  file_ = f;
  length_ = static_cast<uint64_t>(st.st_size);
  return true;
}

int GzipFile::Read(void* buffer, unsigned size) {
  if (!file_) return -1;
  return gzread(static_cast<gzFile>(file_), buffer, size);
}

void GzipFile::Close() {
  if (file_) gzclose(static_cast<gzFile>(file_));
  file_ = nullptr;
  length_ = 0;
}

}  // namespace tr52
