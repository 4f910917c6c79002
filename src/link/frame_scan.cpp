#include "link/frame_scan.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tr52 {
namespace {

#if defined(__SSE2__)

constexpr size_t kBlock = 16;
constexpr uint32_t kFullMask = 0xFFFF;

inline __m128i LoadBlock(const uint8_t* p) {
  __m128i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Bit j set when byte j of the block equals `value`.
inline uint32_t EqualMask(const uint8_t* p, uint8_t value) {
  const __m128i eq = _mm_cmpeq_epi8(LoadBlock(p), _mm_set1_epi8(static_cast<char>(value)));
  return static_cast<uint32_t>(_mm_movemask_epi8(eq));
}

inline uint32_t EscapableMask(const uint8_t* p) {
  const __m128i v = LoadBlock(p);
  const __m128i eq =
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(kFrameFlag))),
                   _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(kFrameEscape))));
  return static_cast<uint32_t>(_mm_movemask_epi8(eq));
}

// A block of nothing but flag and escape bytes: 0x7D before each byte XOR 0x20, 32 bytes out.
inline void EscapeWholeBlock(const uint8_t* p, uint8_t* out) {
  const __m128i x = _mm_xor_si128(LoadBlock(p), _mm_set1_epi8(kEscapeXor));
  const __m128i esc = _mm_set1_epi8(static_cast<char>(kFrameEscape));
  const __m128i lo = _mm_unpacklo_epi8(esc, x), hi = _mm_unpackhi_epi8(esc, x);
  std::memcpy(out, &lo, sizeof lo);
  std::memcpy(out + 16, &hi, sizeof hi);
}
constexpr bool kHasWholeBlockEscape = true;

// Eight escape pairs (0x7D at every even place): the odd bytes XOR 0x20, 8 bytes out.
constexpr uint32_t kEscapePairs = 0x5555;
inline void UnescapePairs(const uint8_t* p, uint8_t* out) {
  const __m128i odd = _mm_srli_epi16(LoadBlock(p), 8);
  const __m128i packed = _mm_xor_si128(_mm_packus_epi16(odd, odd), _mm_set1_epi8(kEscapeXor));
  std::memcpy(out, &packed, 8);
}
constexpr bool kHasPairUnescape = true;

#else

constexpr size_t kBlock = 8;
constexpr uint32_t kFullMask = 0xFF;
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;

inline uint64_t LoadWord(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// 0x80 in every byte of `word` that equals `value`, 0 elsewhere (exact: no borrow between bytes).
inline uint64_t EqualHighBits(uint64_t word, uint8_t value) {
  const uint64_t x = word ^ (kOnes * value);
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Gathers the high bit of each byte into bit j for byte j.
inline uint32_t Compress(uint64_t highBits) {
  return static_cast<uint32_t>(((highBits >> 7) * 0x0102040810204080ULL) >> 56);
}

inline uint32_t EqualMask(const uint8_t* p, uint8_t value) {
  return Compress(EqualHighBits(LoadWord(p), value));
}

inline uint32_t EscapableMask(const uint8_t* p) {
  const uint64_t w = LoadWord(p);
  return Compress(EqualHighBits(w, kFrameFlag) | EqualHighBits(w, kFrameEscape));
}

constexpr bool kHasWholeBlockEscape = false;
inline void EscapeWholeBlock(const uint8_t*, uint8_t*) {}
constexpr bool kHasPairUnescape = false;
constexpr uint32_t kEscapePairs = 0;
inline void UnescapePairs(const uint8_t*, uint8_t*) {}

#endif

// Writes b escaped when `escape` is 1, as it is when 0, without a branch; returns the count.
inline size_t PutByte(uint8_t b, uint32_t escape, uint8_t* out) {
  out[0] = escape ? kFrameEscape : b;
  out[escape] = static_cast<uint8_t>(b ^ (escape * kEscapeXor));
  return 1 + escape;
}

}  // namespace

size_t FindByteBytewise(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  while (i < length && data[i] != value) ++i;
  return i;
}

size_t FindByte(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  for (; length - i >= kBlock; i += kBlock) {
    const uint32_t m = EqualMask(data + i, value);
    if (m != 0) return i + static_cast<size_t>(std::countr_zero(m));
  }
  return i + FindByteBytewise(data + i, length - i, value);
}

size_t SkipByteBytewise(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  while (i < length && data[i] == value) ++i;
  return i;
}

size_t SkipByte(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  for (; length - i >= kBlock; i += kBlock) {
    const uint32_t m = ~EqualMask(data + i, value) & kFullMask;
    if (m != 0) return i + static_cast<size_t>(std::countr_zero(m));
  }
  return i + SkipByteBytewise(data + i, length - i, value);
}

size_t CountEscapableBytewise(const uint8_t* data, size_t length) {
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) n += NeedsEscape(data[i]);
  return n;
}

size_t CountEscapable(const uint8_t* data, size_t length) {
  size_t n = 0, i = 0;
  for (; length - i >= kBlock; i += kBlock)
    n += static_cast<size_t>(std::popcount(EscapableMask(data + i)));
  return n + CountEscapableBytewise(data + i, length - i);
}

size_t EscapeBodyBytewise(const uint8_t* data, size_t length, uint8_t* out) {
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = data[i];
    if (NeedsEscape(b)) {
      out[n++] = kFrameEscape;
      out[n++] = static_cast<uint8_t>(b ^ kEscapeXor);
    } else {
      out[n++] = b;
    }
  }
  return n;
}

size_t EscapeBody(const uint8_t* data, size_t length, uint8_t* out) {
  size_t n = 0, i = 0;
  for (; length - i >= kBlock; i += kBlock) {
    const uint32_t m = EscapableMask(data + i);
    if (m == 0) {  // the common case: the block goes out as it is
      std::memcpy(out + n, data + i, kBlock);
      n += kBlock;
      continue;
    }
    if (kHasWholeBlockEscape && m == kFullMask) {
      EscapeWholeBlock(data + i, out + n);
      n += 2 * kBlock;
      continue;
    }
    for (size_t j = 0; j < kBlock; ++j) n += PutByte(data[i + j], (m >> j) & 1, out + n);
  }
  for (; i < length; ++i) n += PutByte(data[i], NeedsEscape(data[i]) ? 1 : 0, out + n);
  return n;
}

bool UnescapeBodyBytewise(const uint8_t* data, size_t length, uint8_t* out, size_t room,
                          size_t* written) {
  size_t n = 0;
  bool ok = true;
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = data[i];
    if (b == kFrameEscape) {
      if (i + 1 >= length) {  // escape as the last byte: malformed, never read past the input
        ok = false;
        break;
      }
      b = static_cast<uint8_t>(data[++i] ^ kEscapeXor);
    }
    if (n >= room) {
      ok = false;
      break;
    }
    out[n++] = b;
  }
  *written = n;
  return ok;
}

bool UnescapeBody(const uint8_t* data, size_t length, uint8_t* out, size_t room, size_t* written) {
  // The output is never longer than the input, so with room for all of it no store needs a
  // check; only a frame kept near the end of the rx buffer takes the careful path.
  if (length > room) return UnescapeBodyBytewise(data, length, out, room, written);
  size_t n = 0, i = 0;
  // Takes the byte at i, or the escaped byte after it; false on an escape as the last byte.
  auto take = [&]() {
    uint8_t b = data[i];
    if (b == kFrameEscape) {
      if (i + 1 >= length) return false;
      b = static_cast<uint8_t>(data[i + 1] ^ kEscapeXor);
      i += 2;
    } else {
      ++i;
    }
    out[n++] = b;
    return true;
  };
  // n <= i throughout, so a whole block stored at n stays below length <= room.
  while (length - i >= kBlock) {
    const uint32_t m = EqualMask(data + i, kFrameEscape);
    if (m == 0) {
      std::memcpy(out + n, data + i, kBlock);
      n += kBlock;
      i += kBlock;
      continue;
    }
    // i always starts a byte or a pair, so escapes at every even place make whole pairs,
    // whatever the odd bytes hold.
    if (kHasPairUnescape && (m & kEscapePairs) == kEscapePairs) {
      UnescapePairs(data + i, out + n);
      n += kBlock / 2;
      i += kBlock;
      continue;
    }
    // An escape pair may straddle the block end, so i can finish one past it.
    for (const size_t end = i + kBlock; i < end;)
      if (!take()) {
        *written = n;
        return false;
      }
  }
  while (i < length)
    if (!take()) {
      *written = n;
      return false;
    }
  *written = n;
  return true;
}

}  // namespace tr52
