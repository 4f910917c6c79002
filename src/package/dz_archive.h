// Reader of the .dz firmware package: the trailer's offset table, the main header with the
// model name, the sub headers, and the extraction of images (deciphered into a temporary file,
// then inflated from it straight into memory and checked against their MD5 digests).
//
// Every failure returns false and leaves a message in LastError(); wrapping messages embed the
// message before them through "%s". The package is opened read-only under an exclusive lock,
// so a second open of the same file while one is open fails.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "package/image_buffer.h"
#include "platform/crypto.h"
#include "platform/temp_file.h"

namespace tr52 {

class GzipFile;

struct DzEntry {
  uint32_t key = 0;     // image type number
  uint32_t offset = 0;  // file offset of the entry's sub header
};

struct DzSubHeader {
  uint32_t enciphered = 0;
  uint32_t storedSize = 0;
  std::string name;  // up to the first NUL within its 128 bytes
  uint32_t totalSize = 0;
  uint32_t partIndex = 0;
  Md5Digest imageDigest{};
};

class DzArchive {
 public:
  DzArchive() = default;
  ~DzArchive() { Close(); }
  DzArchive(const DzArchive&) = delete;
  DzArchive& operator=(const DzArchive&) = delete;

  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return open_; }

  // The model name of the main header; empty when no header was read.
  std::string ModelName() const;
  uint32_t Version() const { return version_; }
  const std::vector<DzEntry>& Entries() const { return entries_; }
  const std::string& LastError() const { return lastError_; }

  bool ReadSubHeaderAt(uint32_t offset, DzSubHeader& header);
  // Reads the sub header at the current position; on success keeps its image digest.
  bool ReadSubHeader(DzSubHeader& header);

  // The image of key `type` into `data`/`size` (the caller empties both first); true with size
  // 0 when the package has no such image. Split images are joined in part order.
  bool ReadImage(uint32_t type, std::string& name, ImageBuffer& data, uint32_t& size);
  // The single sub file whose sub header stands at `offset`.
  bool ExtractSubFile(uint32_t offset, std::string& name, ImageBuffer& data, uint32_t& size);

  // Progress of long work, per sub file: phase "copy" counts stored bytes read out of the
  // package, phase "inflate" counts inflated bytes against the size the sub header announces.
  using ProgressFn = std::function<void(const char* phase, uint64_t done, uint64_t total)>;
  void SetProgress(ProgressFn fn) { progress_ = std::move(fn); }

  // The second temporary file of a sub file: the first one's path with the sub-file name made
  // safe (only letters, digits, '.', '-' and '_'; never empty) appended.
  static std::string SafeNameSuffix(const std::string& subFileName);
  // A new empty "DZ" temporary file; empty text when none can be made.
  static std::string MakeTempPath();
  // Inflates `source` into the new file `destination` and checks the MD5 of the result against
  // the kept image digest; the inflated size, 0 on failure.
  uint64_t InflateFile(const std::string& source, const std::string& destination);

 private:
  bool ReadAt(uint64_t offset, void* buffer, size_t size);
  // Checks a sub-header offset and moves there; false (with the error text for a bad offset)
  // when it is unusable or at the end of the file.
  bool SeekSubHeader(uint32_t offset);
  bool ReadOffsetTable();
  bool ReadMainHeader();
  bool ExtractInto(uint32_t offset, std::string& name, ImageBuffer& data, size_t at, uint64_t limit,
                   uint64_t& produced);
  // Inflates the opened `source` into `data` behind its first `at` bytes, checking the digest;
  // the inflated size, 0 on failure (then `data` keeps only its first `at` bytes). Output that
  // would pass `bound` bytes ends the inflation there, with `overBound` set.
  uint64_t InflateInto(GzipFile& source, uint64_t bound, ImageBuffer& data, size_t at,
                       bool& overBound);
  void Report(const char* phase, uint64_t done, uint64_t total) {
    if (progress_) progress_(phase, done, total);
  }
  void Fail(std::string message) { lastError_ = std::move(message); }
  void Wrap(const char* format);

  bool open_ = false;
  int fd_ = -1;
  uint64_t length_ = 0;
  uint64_t position_ = 0;
  uint32_t version_ = 0;
  std::vector<DzEntry> entries_;
  std::array<uint8_t, 316> mainHeader_{};
  bool haveMainHeader_ = false;
  Md5Digest imageDigest_{};
  std::string lastError_;
  ProgressFn progress_;
};

}  // namespace tr52
