#include "link/frame_codec.h"

#include <algorithm>
#include <cstring>

namespace tr52 {

FrameCodec::FrameCodec() : tx_(new uint8_t[kBufferSize]()), rx_(new uint8_t[kBufferSize]()) {}

bool FrameCodec::ComputeTxCRC(const uint8_t* payload, size_t length) {
  // Only the part of the buffer the previous frame used needs zeroing.
  std::memset(tx_.get(), 0, static_cast<size_t>(txLength_));
  txLength_ = 0;
  const uint16_t crc = Crc16(payload, length);
  const uint8_t fcs[2] = {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
  // Flags, payload and FCS, every byte escaped, fit as long as length <= (size - 6) / 2: then
  // the escapes need no counting. Longer payloads are sized exactly before anything is written.
  if (length > (kBufferSize - 6) / 2) {
    const size_t size = 2 + length + CountEscapable(payload, length) + 2 + NeedsEscape(fcs[0]) +
                        NeedsEscape(fcs[1]);
    if (size > kBufferSize) return false;
  }
  uint8_t* out = tx_.get();
  size_t n = 0;
  out[n++] = kFrameFlag;
  n += EscapeBody(payload, length, out + n);
  n += EscapeBody(fcs, sizeof fcs, out + n);
  out[n++] = kFrameFlag;
  txLength_ = static_cast<int>(n);
  return true;
}

bool FrameCodec::CheckRxFrameAt(const uint8_t* bytes, size_t length, size_t offset) {
  rxLength_ = 0;
  if (offset >= kBufferSize) return false;
  uint8_t* out = rx_.get() + offset;
  size_t n = 0;
  const bool ok = UnescapeBody(bytes, length, out, kBufferSize - offset, &n);
  rxLength_ = static_cast<int>(n);
  if (offset + n > rxHighWater_) rxHighWater_ = offset + n;
  if (!ok || n == 0) return false;
  return Crc16Update(0xFFFF, out, n) == kCrcResidue;
}

void FrameCodec::ClearRxFrom(size_t position) {
  if (position < rxHighWater_) std::memset(rx_.get() + position, 0, rxHighWater_ - position);
  rxHighWater_ = position < rxHighWater_ ? position : rxHighWater_;
}

void FrameAssembler::MakeRoom() {
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
}

bool FrameAssembler::Feed(uint8_t byte) {
  MakeRoom();
  buf_[used_++] = byte;
  if (byte != kFrameFlag) {
    seenData_ = true;
    return false;
  }
  if (!seenData_) return false;  // a leading flag, dropped when the frame completes
  Complete();
  return true;
}

size_t FrameAssembler::FeedBytes(const uint8_t* data, size_t length) {
  size_t taken = 0;
  while (taken < length) {
    MakeRoom();
    // Up to the capacity: the byte after it first drops the partial frame, as in Feed.
    const uint8_t* in = data + taken;
    const size_t span = std::min(length - taken, kCapacity - used_);
    size_t k = 0;
    if (!seenData_) {
      k = SkipByte(in, span, kFrameFlag);  // leading flags are kept until the frame completes
      if (k < span) seenData_ = true;
    }
    // The first flag after frame data closes the frame.
    const size_t flag = k + FindByte(in + k, span - k, kFrameFlag);
    const size_t copy = flag < span ? flag + 1 : span;
    std::memcpy(buf_ + used_, in, copy);
    used_ += copy;
    taken += copy;
    if (flag < span) {
      Complete();
      break;
    }
  }
  return taken;
}

void FrameAssembler::Complete() {
  const size_t lead = SkipByte(buf_, used_, kFrameFlag);
  frameStart_ = lead;
  frameLength_ = used_ - lead - 1;
  complete_ = true;
}

void FrameAssembler::Reset() {
  used_ = 0;
  seenData_ = false;
  complete_ = false;
  frameStart_ = 0;
  frameLength_ = 0;
}

}  // namespace tr52
