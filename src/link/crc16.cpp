#include "link/crc16.h"

#include <array>
#include <bit>
#include <cstring>

namespace tr52 {
namespace {

constexpr size_t kSlices = 16;
using CrcTables = std::array<std::array<uint16_t, 256>, kSlices>;

// tables[0] is the byte table of the reflected polynomial; tables[k][b] is the CRC state after
// byte b followed by k zero bytes, so 16 bytes fold into one state with 16 independent look-ups.
constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int b = 0; b < 8; ++b) c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0x8408) : c >> 1;
    t[0][i] = c;
  }
  for (size_t k = 1; k < kSlices; ++k)
    for (unsigned i = 0; i < 256; ++i) {
      const uint16_t prev = t[k - 1][i];
      t[k][i] = static_cast<uint16_t>(t[0][prev & 0xFF] ^ (prev >> 8));
    }
  return t;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

// Little-endian 64-bit load from any alignment.
inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline uint16_t T(size_t k, uint64_t byte) {
  return kCrcTables[k][byte & 0xFF];
}

}  // namespace

uint16_t Crc16UpdateBytewise(uint16_t crc, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i)
    crc = static_cast<uint16_t>(kCrcTables[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return crc;
}

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length) {
  while (length >= kSlices) {
    // The state is folded into the first two bytes; every byte then goes through the table of
    // its distance from the end of the block.
    const uint64_t a = LoadLe64(data) ^ crc;
    const uint64_t b = LoadLe64(data + 8);
    crc = static_cast<uint16_t>(T(15, a) ^ T(14, a >> 8) ^ T(13, a >> 16) ^ T(12, a >> 24) ^
                                T(11, a >> 32) ^ T(10, a >> 40) ^ T(9, a >> 48) ^ T(8, a >> 56) ^
                                T(7, b) ^ T(6, b >> 8) ^ T(5, b >> 16) ^ T(4, b >> 24) ^
                                T(3, b >> 32) ^ T(2, b >> 40) ^ T(1, b >> 48) ^ T(0, b >> 56));
    data += kSlices;
    length -= kSlices;
  }
  return Crc16UpdateBytewise(crc, data, length);
}

uint16_t Crc16(const uint8_t* data, size_t length) {
  return static_cast<uint16_t>(Crc16Update(0xFFFF, data, length) ^ 0xFFFF);
}

}  // namespace tr52
