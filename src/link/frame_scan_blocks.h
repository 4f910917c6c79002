// The block-wise frame kernels as templates over how a block is compared: 16 bytes with SSE2
// where the compiler targets it, one 64-bit word of 8 bytes otherwise. frame_scan.cpp instantiates
// them for the native blocks; tests instantiate the word blocks too, so the portable path is
// checked on every machine.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/byte_reader.h"
#include "link/frame_scan.h"

namespace tr52::frame_blocks {

// Eight bytes as one 64-bit word, compared without carries between bytes.
struct WordBlocks {
  static constexpr size_t kSize = 8;
  static constexpr uint32_t kFull = 0xFF;
  static constexpr bool kDenseKernels = false;

  // Bit j set when byte j of the block equals `value`.
  static uint32_t EqualMask(const uint8_t* p, uint8_t value) {
    return Compress(EqualHighBits(Load(p), value));
  }
  static uint32_t EscapableMask(const uint8_t* p) {
    const uint64_t w = Load(p);
    return Compress(EqualHighBits(w, kFrameFlag) | EqualHighBits(w, kFrameEscape));
  }
  static void EscapeWholeBlock(const uint8_t*, uint8_t*) {}
  static void UnescapePairs(const uint8_t*, uint8_t*) {}

 private:
  static constexpr uint64_t kOnes = 0x0101010101010101ULL;
  static constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;

  // Byte j of the block in bits 8j..8j+7 on any host.
  static uint64_t Load(const uint8_t* p) { return LoadU64le(p); }
  // 0x80 in every byte of `word` equal to `value`, 0 elsewhere: the low seven bits are added
  // apart from the top bit, so no carry crosses into the next byte.
  static uint64_t EqualHighBits(uint64_t word, uint8_t value) {
    const uint64_t x = word ^ (kOnes * value);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
  }
  // Gathers the top bit of byte j into bit j.
  static uint32_t Compress(uint64_t highBits) {
    return static_cast<uint32_t>(((highBits >> 7) * 0x0102040810204080ULL) >> 56);
  }
};

#if defined(__SSE2__)
// Sixteen bytes compared at once.
struct Sse2Blocks {
  static constexpr size_t kSize = 16;
  static constexpr uint32_t kFull = 0xFFFF;
  static constexpr bool kDenseKernels = true;

  static uint32_t EqualMask(const uint8_t* p, uint8_t value) {
    return Movemask(_mm_cmpeq_epi8(Load(p), Splat(value)));
  }
  static uint32_t EscapableMask(const uint8_t* p) {
    const __m128i v = Load(p);
    return Movemask(
        _mm_or_si128(_mm_cmpeq_epi8(v, Splat(kFrameFlag)), _mm_cmpeq_epi8(v, Splat(kFrameEscape))));
  }
  // A block of nothing but flag and escape bytes: 0x7D before each byte XOR 0x20, 32 bytes.
  static void EscapeWholeBlock(const uint8_t* p, uint8_t* out) {
    const __m128i x = _mm_xor_si128(Load(p), Splat(kEscapeXor));
    const __m128i esc = Splat(kFrameEscape);
    const __m128i lo = _mm_unpacklo_epi8(esc, x), hi = _mm_unpackhi_epi8(esc, x);
    std::memcpy(out, &lo, sizeof lo);
    std::memcpy(out + 16, &hi, sizeof hi);
  }
  // Eight escape pairs (0x7D at every even place): the odd bytes XOR 0x20, 8 bytes out.
  static void UnescapePairs(const uint8_t* p, uint8_t* out) {
    const __m128i odd = _mm_srli_epi16(Load(p), 8);
    const __m128i packed = _mm_xor_si128(_mm_packus_epi16(odd, odd), Splat(kEscapeXor));
    std::memcpy(out, &packed, 8);
  }

 private:
  static __m128i Load(const uint8_t* p) {
    __m128i v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static __m128i Splat(uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
  static uint32_t Movemask(__m128i v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }
};
using NativeBlocks = Sse2Blocks;
#else
using NativeBlocks = WordBlocks;
#endif

// Writes b escaped when `escape` is 1, as it is when 0, without a branch; returns the count.
inline size_t PutByte(uint8_t b, uint32_t escape, uint8_t* out) {
  out[0] = escape ? kFrameEscape : b;
  out[escape] = static_cast<uint8_t>(b ^ (escape * kEscapeXor));
  return 1 + escape;
}

template <class B>
size_t FindByte(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  for (; length - i >= B::kSize; i += B::kSize) {
    const uint32_t m = B::EqualMask(data + i, value);
    if (m != 0) return i + static_cast<size_t>(std::countr_zero(m));
  }
  return i + FindByteBytewise(data + i, length - i, value);
}

template <class B>
size_t SkipByte(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  for (; length - i >= B::kSize; i += B::kSize) {
    const uint32_t m = ~B::EqualMask(data + i, value) & B::kFull;
    if (m != 0) return i + static_cast<size_t>(std::countr_zero(m));
  }
  return i + SkipByteBytewise(data + i, length - i, value);
}

template <class B>
size_t CountEscapable(const uint8_t* data, size_t length) {
  size_t n = 0, i = 0;
  for (; length - i >= B::kSize; i += B::kSize)
    n += static_cast<size_t>(std::popcount(B::EscapableMask(data + i)));
  return n + CountEscapableBytewise(data + i, length - i);
}

template <class B>
size_t EscapeBody(const uint8_t* data, size_t length, uint8_t* out) {
  size_t n = 0, i = 0;
  for (; length - i >= B::kSize; i += B::kSize) {
    const uint32_t m = B::EscapableMask(data + i);
    if (m == 0) {  // the common case: the block goes out as it is
      std::memcpy(out + n, data + i, B::kSize);
      n += B::kSize;
      continue;
    }
    if (B::kDenseKernels && m == B::kFull) {
      B::EscapeWholeBlock(data + i, out + n);
      n += 2 * B::kSize;
      continue;
    }
    for (size_t j = 0; j < B::kSize; ++j) n += PutByte(data[i + j], (m >> j) & 1, out + n);
  }
  for (; i < length; ++i) n += PutByte(data[i], NeedsEscape(data[i]) ? 1 : 0, out + n);
  return n;
}

template <class B>
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
  constexpr uint32_t kEvenPlaces = static_cast<uint32_t>(0x5555555555555555ULL & B::kFull);
  while (length - i >= B::kSize) {
    const uint32_t m = B::EqualMask(data + i, kFrameEscape);
    if (m == 0) {
      std::memcpy(out + n, data + i, B::kSize);
      n += B::kSize;
      i += B::kSize;
      continue;
    }
    // i always starts a byte or a pair, so escapes at every even place make whole pairs,
    // whatever the odd bytes hold.
    if (B::kDenseKernels && (m & kEvenPlaces) == kEvenPlaces) {
      B::UnescapePairs(data + i, out + n);
      n += B::kSize / 2;
      i += B::kSize;
      continue;
    }
    // An escape pair may straddle the block end, so i can finish one past it.
    for (const size_t end = i + B::kSize; i < end;)
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

}  // namespace tr52::frame_blocks
