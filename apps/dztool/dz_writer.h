// Writes .dz firmware packages: for tests, the demo and the package tool (never the plug-in).
//
// Each image is gzip-compressed (or stored as it is), optionally RC4-enciphered in 16,384-byte
// chunks, and guarded by MD5 digests. An image at least as large as the version's part size
// (version 3: 0x5000000, version 2: 0xA000000) is split into floor(T / P) + 1 parts of nearly
// equal size, each at most P bytes, named "<name>_<index>".
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tr52 {

struct DzWriterImage {
  uint32_t key = 0;  // image type number
  std::string name;  // sub-file name (at most 127 bytes are kept)
  bool enciphered = false;
  std::span<const uint8_t> data;  // must stay valid until Write returns
};

struct DzWriterOptions {
  uint32_t version = 3;
  std::string model = "TR52";  // raw bytes, at most 276 kept (no NUL when all 276 are used)
  int compressionLevel = 6;    // zlib level 0..9; -1 stores the data without a gzip header
  bool reverseTable = false;   // list the entries in the offset table last to first
};

// One sub file as written.
struct DzWrittenEntry {
  uint32_t key = 0;
  uint32_t offset = 0;  // file offset of its sub header
  uint32_t storedSize = 0;
  uint32_t partIndex = 0;
  uint32_t totalSize = 0;
};

class DzWriter {
 public:
  explicit DzWriter(DzWriterOptions options = {}) : options_(std::move(options)) {}

  void Add(DzWriterImage image) { images_.push_back(std::move(image)); }

  // Writes the package to `path`, replaced whole at the end (platform/atomic_file.h). On
  // failure returns false with a message in Error(); `path` is then left untouched.
  bool Write(const std::string& path);

  const std::string& Error() const { return error_; }
  // The sub files of the last Write, in file order.
  const std::vector<DzWrittenEntry>& Written() const { return written_; }

  // Progress over all input bytes.
  using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;
  void SetProgress(ProgressFn fn) { progress_ = std::move(fn); }

 private:
  DzWriterOptions options_;
  std::vector<DzWriterImage> images_;
  std::vector<DzWrittenEntry> written_;
  std::string error_;
  ProgressFn progress_;
};

// Helpers that rewrite the digests of a package held in memory, so that tests can change a
// field and still have the header digests right.
void DzRehashMainHeader(std::vector<uint8_t>& package);
void DzRehashSubHeader(std::vector<uint8_t>& package, uint32_t offset);
// Rewrites the trailer from a table (count, entries, size word); the old trailer of `oldTableSize`
// bytes is dropped first.
void DzRewriteTrailer(std::vector<uint8_t>& package, int32_t oldTableSize,
                      const std::vector<uint8_t>& table);
// The table of a package built from entries: count, (key, offset) pairs, size word.
std::vector<uint8_t> DzMakeTable(const std::vector<std::pair<uint32_t, uint32_t>>& entries);

}  // namespace tr52
