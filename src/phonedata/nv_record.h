// One NV item as it travels: the 133-byte DIAG NV packet, which is also the record of the NV
// backup file.
//
// Offset 0 holds the command code (0x26 read, 0x27 write) in a packet and the valid flag in a
// stored record; 1-2 the item number; 3-130 the item data; 131-132 the status. Little-endian.
// Bytes are converted explicitly (EncodeTo / DecodeFrom), never by casting the struct.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tr52 {

// 16-bit status of an NV answer.
enum NvStatus : uint16_t {
  NV_DONE_S = 0,
  NV_BUSY_S = 1,
  NV_BADCMD_S = 2,
  NV_FULL_S = 3,
  NV_FAIL_S = 4,
  NV_NOTACTIVE_S = 5,
  NV_BADPARM_S = 6,
  NV_READONLY_S = 7,
  NV_BADTG_S = 8,
  NV_NOMEM_S = 9,
  NV_NOTALLOC_S = 10,
  NV_STAT_ENUM_PAD = 32767,
};

// The name the log shows for a status: the table's text for 0 to 10 and 32767,
// "NV_UNKNOWN_S" for every other code. Never reads outside the table.
const char* NvStatusName(unsigned status);

constexpr uint8_t kNvReadCommand = 0x26;
constexpr uint8_t kNvWriteCommand = 0x27;

struct NvRecord {
  static constexpr size_t kSize = 133;
  static constexpr size_t kDataSize = 128;

  uint8_t flag = 0;  // packet: command code; stored record: 1 = read successfully
  uint16_t item = 0;
  std::array<uint8_t, kDataSize> data{};
  uint16_t status = 0;

  bool IsValid() const { return flag == 1; }
  void Clear() { *this = NvRecord{}; }

  // Writes the 133 bytes at `out`.
  void EncodeTo(uint8_t* out) const;
  // Reads 133 bytes at `in` (the caller guarantees they are there).
  static NvRecord DecodeFrom(const uint8_t* in);

  bool operator==(const NvRecord&) const = default;
};

}  // namespace tr52
