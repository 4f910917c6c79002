#include "link/frame_codec.h"

#include <algorithm>
#include <cstring>

namespace tr52 {

FrameCodec::FrameCodec() : tx_(new uint8_t[kTxRoom]()), rx_(new uint8_t[kBufferSize]()) {}

bool FrameCodec::ComputeTxCRC(const uint8_t* payload, size_t length) {
  const Piece whole{payload, length};
  return ComputeTxCRC(&whole, 1);
}

bool FrameCodec::ComputeTxCRC(const Piece* pieces, size_t count) {
  const size_t previous = static_cast<size_t>(txLength_);
  txLength_ = 0;
  uint16_t crc = 0xFFFF;
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) {
    crc = Crc16Update(crc, pieces[i].data, pieces[i].length);
    length += pieces[i].length;
  }
  crc ^= 0xFFFF;
  const uint8_t fcs[2] = {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
  uint8_t* out = tx_.get();
  // Flags, payload and FCS, every byte escaped, take at most 2 * length + 6 bytes, which the
  // buffer's slack behind its 32768 bytes always holds for a payload that could fit at all: the
  // frame is built without counting escapes first, and refused when it came out too long.
  if (length > kBufferSize - 4) {
    std::memset(out, 0, previous);
    return false;
  }
  size_t n = 0;
  out[n++] = kFrameFlag;
  for (size_t i = 0; i < count; ++i) n += EscapeBody(pieces[i].data, pieces[i].length, out + n);
  n += EscapeBody(fcs, sizeof fcs, out + n);
  out[n++] = kFrameFlag;
  if (n > kBufferSize) {
    std::memset(out, 0, std::max(n, previous));
    return false;
  }
  // Past the new frame nothing of a longer previous one is left.
  if (previous > n) std::memset(out + n, 0, previous - n);
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
