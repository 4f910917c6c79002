// Block-wise kernels of the frame codec: escaping, unescaping and flag search over 16 bytes per
// step with SSE2 compares where the compiler targets them, 8 bytes as one 64-bit word otherwise
// (frame_scan_blocks.h). Each has a
// byte-wise reference with the same result, which the differential tests hold them to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tr52 {

constexpr uint8_t kFrameFlag = 0x7E;
constexpr uint8_t kFrameEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;

constexpr bool NeedsEscape(uint8_t b) {
  return b == kFrameFlag || b == kFrameEscape;
}

// Index of the first byte equal to `value` in data[0, length), or `length`.
size_t FindByte(const uint8_t* data, size_t length, uint8_t value);
size_t FindByteBytewise(const uint8_t* data, size_t length, uint8_t value);

// Index of the first byte not equal to `value` in data[0, length), or `length`.
size_t SkipByte(const uint8_t* data, size_t length, uint8_t value);
size_t SkipByteBytewise(const uint8_t* data, size_t length, uint8_t value);

// Number of bytes of data[0, length) that are sent escaped.
size_t CountEscapable(const uint8_t* data, size_t length);
size_t CountEscapableBytewise(const uint8_t* data, size_t length);

// Escapes data[0, length) into `out`, which must hold the escaped size (length plus
// CountEscapable). Returns the number of bytes written.
size_t EscapeBody(const uint8_t* data, size_t length, uint8_t* out);
size_t EscapeBodyBytewise(const uint8_t* data, size_t length, uint8_t* out);

// Unescapes data[0, length) into out[0, room). `*written` is the number of bytes stored. False
// when the input ends in an escape byte or the output would pass `room`; what was unescaped up
// to that point is stored and counted all the same. Never reads past data[length - 1].
bool UnescapeBody(const uint8_t* data, size_t length, uint8_t* out, size_t room, size_t* written);
bool UnescapeBodyBytewise(const uint8_t* data, size_t length, uint8_t* out, size_t room,
                          size_t* written);

}  // namespace tr52
