// Reading side of a gzip file on zlib's gzopen/gzread/gzclose. Data without a gzip header are
// passed through unchanged, as zlib does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tr52 {

class GzipFile {
 public:
  enum Mode { kWrite = 1, kRead = 2 };

  GzipFile() = default;
  ~GzipFile() { Close(); }
  GzipFile(const GzipFile&) = delete;
  GzipFile& operator=(const GzipFile&) = delete;

  // Only kRead is supported (the system never writes gzip files through this class).
  bool Open(const std::string& path, Mode mode);
  // Reads the open file `fd` from its start (a file without a name, say); `fd` stays the
  // caller's.
  bool OpenFd(int fd);
  bool IsOpen() const { return file_ != nullptr; }
  // Up to `size` inflated bytes; 0 at the end, -1 on damaged data.
  int Read(void* buffer, unsigned size);
  void Close();
  // The length of the (compressed) file as opened.
  uint64_t FileLength() const { return length_; }

 private:
  void* file_ = nullptr;  // gzFile
  uint64_t length_ = 0;
};

}  // namespace tr52
