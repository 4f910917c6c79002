// HDLC-like framing: flag 0x7E, escape 0x7D (byte XOR 0x20), CRC-16/X.25 check sequence sent
// low byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "link/crc16.h"
#include "link/frame_scan.h"

namespace tr52 {

class FrameCodec {
 public:
  static constexpr size_t kBufferSize = 32768;

  FrameCodec();

  // Builds the frame of `length` payload bytes into the tx buffer. False (tx length 0) when
  // the frame would not fit the tx buffer.
  [[nodiscard]] bool ComputeTxCRC(const uint8_t* payload, size_t length);
  // One run of payload bytes; a payload may be framed from several runs that lie apart.
  struct Piece {
    const uint8_t* data;
    size_t length;
  };
  // As ComputeTxCRC over the runs joined in order, without joining them first: a packet whose
  // data stay where they are is framed straight from there.
  [[nodiscard]] bool ComputeTxCRC(const Piece* pieces, size_t count);
  const uint8_t* TxBuffer() const { return tx_.get(); }
  int TxLength() const { return txLength_; }

  // `bytes` are the escaped bytes between the leading flags and the closing flag. Unescapes into
  // the rx buffer and checks the CRC residue. A frame ending in the escape byte is bad.
  [[nodiscard]] bool CheckRxFrame(const uint8_t* bytes, size_t length) {
    return CheckRxFrameAt(bytes, length, 0);
  }
  // As CheckRxFrame, but unescapes to rx buffer position `offset` (frames kept one after
  // another). RxLength() is the length of this frame alone. False when it would not fit.
  [[nodiscard]] bool CheckRxFrameAt(const uint8_t* bytes, size_t length, size_t offset);
  uint8_t* RxBuffer() { return rx_.get(); }
  const uint8_t* RxBuffer() const { return rx_.get(); }
  int RxLength() const { return rxLength_; }
  void SetRxLength(int n) { rxLength_ = n; }
  // Highest rx buffer position written since the last ClearRxFrom.
  size_t RxHighWater() const { return rxHighWater_; }
  // Zeroes the rx buffer from `position` up to what was written, so nothing of an earlier,
  // longer answer is left behind.
  void ClearRxFrom(size_t position);

 private:
  // The tx buffer: 32768 bytes for frames, then room for a frame that came out too long to be
  // sent (every byte escaped) while it is being built.
  static constexpr size_t kTxRoom = 2 * kBufferSize + 8;

  int txLength_ = 0;
  int rxLength_ = 0;
  size_t rxHighWater_ = 0;
  std::unique_ptr<uint8_t[]> tx_;
  std::unique_ptr<uint8_t[]> rx_;
};

// Frame delimiting of a received stream. Feed bytes; each complete frame (leading flags
// dropped, closing flag excluded) is handed out. A run of more than 32768 bytes without a
// closing flag drops the partial frame.
class FrameAssembler {
 public:
  static constexpr size_t kCapacity = 32768;
  // Feeds one byte; true when it completed a frame, then Frame()/FrameLength() hold it
  // (escaped, without flags) until the next Feed.
  bool Feed(uint8_t byte);
  // Feeds data[0, length) as Feed would one byte at a time, but stops after the byte that
  // completes a frame; returns the number of bytes taken. FrameReady() tells whether the last
  // byte taken completed a frame. Searches for flags a block at a time.
  size_t FeedBytes(const uint8_t* data, size_t length);
  // True when the last byte fed completed a frame (Frame()/FrameLength() hold it).
  bool FrameReady() const { return complete_; }
  const uint8_t* Frame() const { return buf_ + frameStart_; }
  size_t FrameLength() const { return frameLength_; }
  // Raw bytes of the completed frame including the closing flag (for dumps).
  const uint8_t* Raw() const { return buf_ + frameStart_; }
  size_t RawLength() const { return frameLength_ + 1; }
  // Number of partial frames dropped because they outgrew the capacity.
  size_t DroppedOversize() const { return dropped_; }
  // True while bytes of an unfinished frame are held.
  bool HasPartial() const { return seenData_; }
  void Reset();

 private:
  // Marks the frame in buf_ (closing flag last) complete, past its leading flags.
  // Before the next byte: starts afresh after a handed-out frame, drops a partial frame that
  // filled the buffer without a closing flag.
  void MakeRoom();
  void Complete();

  uint8_t buf_[kCapacity];
  size_t used_ = 0;
  bool seenData_ = false;
  bool complete_ = false;
  size_t frameStart_ = 0;
  size_t frameLength_ = 0;
  size_t dropped_ = 0;
};

}  // namespace tr52
