#include "link/frame_scan.h"

#include "link/frame_scan_blocks.h"

namespace tr52 {

using frame_blocks::NativeBlocks;

size_t FindByteBytewise(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  while (i < length && data[i] != value) ++i;
  return i;
}

size_t FindByte(const uint8_t* data, size_t length, uint8_t value) {
  return frame_blocks::FindByte<NativeBlocks>(data, length, value);
}

size_t SkipByteBytewise(const uint8_t* data, size_t length, uint8_t value) {
  size_t i = 0;
  while (i < length && data[i] == value) ++i;
  return i;
}

size_t SkipByte(const uint8_t* data, size_t length, uint8_t value) {
  return frame_blocks::SkipByte<NativeBlocks>(data, length, value);
}

size_t CountEscapableBytewise(const uint8_t* data, size_t length) {
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) n += NeedsEscape(data[i]);
  return n;
}

size_t CountEscapable(const uint8_t* data, size_t length) {
  return frame_blocks::CountEscapable<NativeBlocks>(data, length);
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
  return frame_blocks::EscapeBody<NativeBlocks>(data, length, out);
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
  return frame_blocks::UnescapeBody<NativeBlocks>(data, length, out, room, written);
}

}  // namespace tr52
