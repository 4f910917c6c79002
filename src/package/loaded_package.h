// What the phones of this process receive: the package the image catalogue was loaded from, as
// it was when it was loaded, and every image as it sits in memory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tr52 {

struct LoadedImage {
  std::string type;  // image type name ("AMSS", ...)
  std::string name;  // its name in the package (a plain image file: the file's name)
  uint64_t size = 0;
  std::string md5;  // of the bytes in memory, lower-case hex
};

struct LoadedPackage {
  std::string path;
  uint64_t size = 0;
  std::string md5;  // of the whole file, lower-case hex
  std::vector<LoadedImage> images;
};

// The package file held open while its images are read: its digest is taken from the file that
// was opened, and Unchanged() tells whether the path still names that file, as it was.
class PackageFileWatch {
 public:
  // Opens `path` read-only (non-blocking, so a FIFO cannot hold the load up); a path that is
  // not a regular file is watched as absent.
  explicit PackageFileWatch(const std::string& path);
  ~PackageFileWatch();
  PackageFileWatch(const PackageFileWatch&) = delete;
  PackageFileWatch& operator=(const PackageFileWatch&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // True when the path names the file opened at construction and that file kept its size and
  // modification time.
  [[nodiscard]] bool Unchanged() const;
  // Size and MD5 of the opened file (read from its start to its end); false on a read error.
  [[nodiscard]] bool Digest(uint64_t& size, std::string& md5) const;

 private:
  std::string path_;
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  off_t size_ = 0;
  struct timespec mtime_ {};
};

}  // namespace tr52
