// The NV backup file and its records in memory.
//
// File layout (little-endian): a 36-byte header, then N records of 133 bytes (NvRecord).
//   0  "ZUNV"      4  version 2     8  model "TR52", NUL-padded to 8     16  record count N
//   20 time of writing, UTC: year, month, day of week, day, hour, minute, second, milliseconds
// Reading takes the header as it stands: magic, version, model and time are not checked.
//
// Writing never touches the file in place: it is replaced whole (platform/atomic_file.h), so a
// backup that fails half-way keeps the previous one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "phonedata/nv_record.h"

namespace tr52 {

class NvBackupSet {
 public:
  static constexpr size_t kHeaderSize = 36;
  static constexpr uint32_t kVersion = 2;

  enum Mode : int { kClosed = 0, kRead = 1, kWrite = 2 };

  NvBackupSet();
  ~NvBackupSet();
  NvBackupSet(const NvBackupSet&) = delete;
  NvBackupSet& operator=(const NvBackupSet&) = delete;

  // kRead: opens an existing file (shared for reading) and loads it; false when it cannot be
  // opened or does not hold exactly the header's count of whole records.
  // kWrite: starts a new set with the header (count 0); `path` itself is left as it is until
  // Flush. False when the folder of `path` cannot take a new file.
  // Any other mode fails. An open set is closed first.
  [[nodiscard]] bool Open(const std::string& path, int mode);
  // Closes the file, forgets path and records; mode 0. A new file not yet flushed is removed.
  void Close();
  // Adds a copy at the end of the records in memory.
  bool Append(const NvRecord& record);
  // Copies record `index` out; false when the set is not open or the index is out of range.
  [[nodiscard]] bool Get(size_t index, NvRecord& record) const;
  // Records in memory; 0 when the set is not open.
  size_t Count() const;
  // Write mode: header (count, current UTC time) and all records replace `path` whole, on disk
  // before Flush returns. On failure `path` keeps its previous content. Read mode: the header
  // is read again. False when that fails (Error() says why in write mode).
  [[nodiscard]] bool Flush();
  // Why the last Open(kWrite) or write-mode Flush failed.
  const std::string& Error() const { return error_; }

  int OpenMode() const { return mode_; }
  const std::string& Path() const { return path_; }
  // The header's record count as last written or read.
  uint32_t HeaderCount() const;

  // Parses a whole backup file image (header + records) without touching the disk: the same
  // rules as Open(kRead). Used by Open and by the fuzz target.
  [[nodiscard]] static bool ParseImage(const uint8_t* bytes, size_t size,
                                       std::vector<NvRecord>& records,
                                       uint32_t* headerCount = nullptr);

 private:
  void ResetHeader();
  [[nodiscard]] bool WriteAll();
  [[nodiscard]] bool ReadHeader();

  int fd_ = -1;  // read mode: the file
  int mode_ = kClosed;
  std::string path_;
  std::array<uint8_t, kHeaderSize> header_{};
  std::vector<NvRecord> records_;
  std::string error_;
};

}  // namespace tr52
