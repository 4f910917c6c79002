#include "link/frame_codec.h"

#include <array>
#include <cstring>

namespace tr52 {
namespace {

// Table of the reflected polynomial 0x8408, built at compile time.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int b = 0; b < 8; ++b) c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0x8408) : c >> 1;
    t[i] = c;
  }
  return t;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

inline bool NeedsEscape(uint8_t b) {
  return b == kFrameFlag || b == kFrameEscape;
}

}  // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i)
    crc = static_cast<uint16_t>(kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return crc;
}

uint16_t Crc16(const uint8_t* data, size_t length) {
  return static_cast<uint16_t>(Crc16Update(0xFFFF, data, length) ^ 0xFFFF);
}

FrameCodec::FrameCodec() : tx_(new uint8_t[kBufferSize]()), rx_(new uint8_t[kBufferSize]()) {}

bool FrameCodec::ComputeTxCRC(const uint8_t* payload, size_t length) {
  // Only the part of the buffer the previous frame used needs zeroing.
  std::memset(tx_.get(), 0, static_cast<size_t>(txLength_));
  txLength_ = 0;
  // Exact size first (escapes counted), so the copy below needs no bounds checks.
  const uint16_t crc = Crc16(payload, length);
  const uint8_t fcs[2] = {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
  size_t size = 2 + length + 2;
  for (size_t i = 0; i < length; ++i) size += NeedsEscape(payload[i]);
  size += NeedsEscape(fcs[0]) + NeedsEscape(fcs[1]);
  if (size > kBufferSize) return false;
  uint8_t* out = tx_.get();
  size_t n = 0;
  out[n++] = kFrameFlag;
  auto put = [&](uint8_t b) {
    if (NeedsEscape(b)) {
      out[n++] = kFrameEscape;
      out[n++] = static_cast<uint8_t>(b ^ 0x20);
    } else {
      out[n++] = b;
    }
  };
  for (size_t i = 0; i < length; ++i) put(payload[i]);
  put(fcs[0]);
  put(fcs[1]);
  out[n++] = kFrameFlag;
  txLength_ = static_cast<int>(n);
  return true;
}

bool FrameCodec::CheckRxFrameAt(const uint8_t* bytes, size_t length, size_t offset) {
  rxLength_ = 0;
  if (offset >= kBufferSize) return false;
  uint8_t* out = rx_.get() + offset;
  const size_t room = kBufferSize - offset;
  size_t n = 0;
  bool ok = true;
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = bytes[i];
    if (b == kFrameEscape) {
      if (i + 1 >= length) {  // escape as the last byte: malformed, never read past the frame
        ok = false;
        break;
      }
      b = static_cast<uint8_t>(bytes[++i] ^ 0x20);
    }
    if (n >= room) {
      ok = false;
      break;
    }
    out[n++] = b;
  }
  rxLength_ = static_cast<int>(n);
  if (offset + n > rxHighWater_) rxHighWater_ = offset + n;
  if (!ok || n == 0) return false;
  return Crc16Update(0xFFFF, out, n) == kCrcResidue;
}

void FrameCodec::ClearRxFrom(size_t position) {
  if (position < rxHighWater_) std::memset(rx_.get() + position, 0, rxHighWater_ - position);
  rxHighWater_ = position < rxHighWater_ ? position : rxHighWater_;
}

bool FrameAssembler::Feed(uint8_t byte) {
  if (complete_) {  // the previous frame was handed out: start afresh
    used_ = 0;
    seenData_ = false;
    complete_ = false;
  }
  if (used_ >= kCapacity) {
    // Too long without a closing flag: whatever this is, it is not a frame we can hold.
    used_ = 0;
    seenData_ = false;
    ++dropped_;
  }
  buf_[used_++] = byte;
  if (byte != kFrameFlag) {
    seenData_ = true;
    return false;
  }
  if (!seenData_) return false;  // a leading flag, dropped when the frame completes
  size_t lead = 0;
  while (lead < used_ && buf_[lead] == kFrameFlag) ++lead;
  frameStart_ = lead;
  frameLength_ = used_ - lead - 1;
  complete_ = true;
  return true;
}

void FrameAssembler::Reset() {
  used_ = 0;
  seenData_ = false;
  complete_ = false;
  frameStart_ = 0;
  frameLength_ = 0;
}

}  // namespace tr52
