// CRC-16/X.25: reflected polynomial 0x8408, init 0xFFFF, final XOR 0xFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tr52 {

// CRC-16/X.25 step over `length` bytes starting from `crc` (no final XOR). Works 16 bytes per
// step (slicing-by-16 tables built at compile time); same result as Crc16UpdateBytewise.
uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length);
// One table look-up per byte: the reference the fast step is checked against.
uint16_t Crc16UpdateBytewise(uint16_t crc, const uint8_t* data, size_t length);
// Full CRC-16/X.25 (init 0xFFFF, final XOR 0xFFFF); "123456789" gives 0x906E.
uint16_t Crc16(const uint8_t* data, size_t length);
// Residue of an intact payload + FCS run through Crc16Update from 0xFFFF.
constexpr uint16_t kCrcResidue = 0xF0B8;

}  // namespace tr52
