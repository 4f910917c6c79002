// CRC-16/X.25: reflected polynomial 0x8408, init 0xFFFF, final XOR 0xFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tr52 {

// CRC-16/X.25 step over `length` bytes starting from `crc` (no final XOR): the carry-less
// multiply kernel where the CPU has one and the input is long enough, slicing-by-16 otherwise.
// Same result as Crc16UpdateBytewise.
uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length);
// One table look-up per byte: the reference the fast steps are checked against.
uint16_t Crc16UpdateBytewise(uint16_t crc, const uint8_t* data, size_t length);
// 16 bytes per step through slicing tables built at compile time.
uint16_t Crc16UpdateSliced(uint16_t crc, const uint8_t* data, size_t length);
// Folds 64 bytes per step with carry-less multiplies; the sliced step where the CPU lacks them.
uint16_t Crc16UpdateClmul(uint16_t crc, const uint8_t* data, size_t length);
// True when this CPU runs Crc16UpdateClmul with carry-less multiplies.
bool Crc16HasClmul();
// Full CRC-16/X.25 (init 0xFFFF, final XOR 0xFFFF); "123456789" gives 0x906E.
uint16_t Crc16(const uint8_t* data, size_t length);
// Residue of an intact payload + FCS run through Crc16Update from 0xFFFF.
constexpr uint16_t kCrcResidue = 0xF0B8;

}  // namespace tr52
