#include "atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/temp_file.h"

namespace station {

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string tmpPath = path + "." + std::to_string(getpid()) + ".tmp";
  tr52::TempFile tmp = tr52::TempFile::CreateExclusive(tmpPath);
  if (!tmp.Valid()) {
    error = "cannot create " + tmpPath + ": " + std::strerror(errno);
    return false;
  }
  // The temporary file is made private; the result is meant to be read like any output file.
  ::fchmod(tmp.Fd(), 0644);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(tmp.Fd(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = "cannot write " + tmpPath + ": " + std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(tmp.Fd()) != 0) {
    error = "cannot flush " + tmpPath + ": " + std::strerror(errno);
    return false;
  }
  if (!tmp.CloseFd()) {
    error = "cannot close " + tmpPath + ": " + std::strerror(errno);
    return false;
  }
  if (std::rename(tmpPath.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + tmpPath + " to " + path + ": " + std::strerror(errno);
    return false;
  }
  tmp.Release();
  return true;
}

}  // namespace station
