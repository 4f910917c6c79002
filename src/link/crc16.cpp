#include "link/crc16.h"

#include <array>
#include <bit>
#include <cstring>

#include "base/byte_reader.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TR52_CRC_CLMUL 1
#include <immintrin.h>
#endif

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

inline uint16_t T(size_t k, uint64_t byte) {
  return kCrcTables[k][byte & 0xFF];
}

}  // namespace

uint16_t Crc16UpdateBytewise(uint16_t crc, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i)
    crc = static_cast<uint16_t>(kCrcTables[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return crc;
}

uint16_t Crc16UpdateSliced(uint16_t crc, const uint8_t* data, size_t length) {
  while (length >= kSlices) {
    // The state is folded into the first two bytes; every byte then goes through the table of
    // its distance from the end of the block.
    const uint64_t a = LoadU64le(data) ^ crc;
    const uint64_t b = LoadU64le(data + 8);
    crc = static_cast<uint16_t>(T(15, a) ^ T(14, a >> 8) ^ T(13, a >> 16) ^ T(12, a >> 24) ^
                                T(11, a >> 32) ^ T(10, a >> 40) ^ T(9, a >> 48) ^ T(8, a >> 56) ^
                                T(7, b) ^ T(6, b >> 8) ^ T(5, b >> 16) ^ T(4, b >> 24) ^
                                T(3, b >> 32) ^ T(2, b >> 40) ^ T(1, b >> 48) ^ T(0, b >> 56));
    data += kSlices;
    length -= kSlices;
  }
  return Crc16UpdateBytewise(crc, data, length);
}

#if TR52_CRC_CLMUL
namespace {

// x^n mod P for the CRC polynomial P = x^16 + x^12 + x^5 + 1, bit d holding x^d.
constexpr uint64_t XPowModP(unsigned n) {
  uint32_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & 0x10000) r ^= 0x11021;
  }
  return r;
}

// The bit-reflected form the folds multiply by: x^d in bit 63 - d.
constexpr uint64_t Reflect64(uint64_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 64; ++i)
    if (v >> i & 1) r |= uint64_t{1} << (63 - i);
  return r;
}

// A 128-bit block holds the message bits with x^127 in bit 0 (bytes in order, least
// significant bit first). Moving it `distance` bits further on multiplies its first half by
// x^(distance + 64) and its second half by x^distance, both taken mod P. A reflected carry-less
// product lands one place short, so the constants carry one power of x less.
struct FoldConstants {
  uint64_t first;
  uint64_t second;
};
constexpr FoldConstants Fold(unsigned distance) {
  return {Reflect64(XPowModP(distance + 63)), Reflect64(XPowModP(distance - 1))};
}
constexpr FoldConstants kFold128 = Fold(128);
constexpr FoldConstants kFold512 = Fold(512);

__attribute__((target("pclmul,sse2"))) inline __m128i Load128(const uint8_t* p) {
  __m128i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// `x` moved on by the distance of `k`, added to `next`.
__attribute__((target("pclmul,sse2"))) inline __m128i FoldInto(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul,sse2"))) uint16_t ClmulKernel(uint16_t crc, const uint8_t* data,
                                                            size_t length) {
  // The running CRC is added to the first 16 message bits; then four lanes of 16 bytes fold
  // 64 bytes per step, join into one lane, and the last lane's 16 bytes go through the tables
  // from a zero state: they are congruent to the whole message mod P.
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512.second),
                                      static_cast<long long>(kFold512.first));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128.second),
                                      static_cast<long long>(kFold128.first));
  __m128i x0 = _mm_xor_si128(Load128(data), _mm_cvtsi32_si128(crc));
  __m128i x1 = Load128(data + 16);
  __m128i x2 = Load128(data + 32);
  __m128i x3 = Load128(data + 48);
  data += 64;
  length -= 64;
  for (; length >= 64; data += 64, length -= 64) {
    x0 = FoldInto(x0, k512, Load128(data));
    x1 = FoldInto(x1, k512, Load128(data + 16));
    x2 = FoldInto(x2, k512, Load128(data + 32));
    x3 = FoldInto(x3, k512, Load128(data + 48));
  }
  x1 = FoldInto(x0, k128, x1);
  x2 = FoldInto(x1, k128, x2);
  x3 = FoldInto(x2, k128, x3);
  for (; length >= 16; data += 16, length -= 16) x3 = FoldInto(x3, k128, Load128(data));
  uint8_t last[16];
  std::memcpy(last, &x3, sizeof last);
  return Crc16UpdateSliced(Crc16UpdateSliced(0, last, sizeof last), data, length);
}

bool CpuHasClmul() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}

}  // namespace
#endif

bool Crc16HasClmul() {
#if TR52_CRC_CLMUL
  static const bool has = CpuHasClmul();
  return has;
#else
  return false;
#endif
}

uint16_t Crc16UpdateClmul(uint16_t crc, const uint8_t* data, size_t length) {
#if TR52_CRC_CLMUL
  if (length >= 64 && Crc16HasClmul()) return ClmulKernel(crc, data, length);
#endif
  return Crc16UpdateSliced(crc, data, length);
}

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length) {
  // Below a few blocks the folding set-up costs more than the tables.
  return length >= 128 ? Crc16UpdateClmul(crc, data, length) : Crc16UpdateSliced(crc, data, length);
}

uint16_t Crc16(const uint8_t* data, size_t length) {
  return static_cast<uint16_t>(Crc16Update(0xFFFF, data, length) ^ 0xFFFF);
}

}  // namespace tr52
