// The pipelined flash write: large packets streamed under a credit of outstanding packets,
// with the phone acknowledging runs of packets and the host checking the acknowledgements for
// gaps. The phone programs its flash itself; there is no separate program request.
#pragma once

#include <cstdint>

#include "link/phone_link.h"

namespace tr52 {

class ProgressSink;
class SentTally;

class PipelinedWriter {
 public:
  static constexpr int kRequestLength = 16464;
  static constexpr uint32_t kHeaderLength = 16;  // fields before the data area
  static constexpr int kTimeoutMs = 70000;
  static constexpr uint32_t kPacket = 16384;
  static constexpr uint32_t kSmallPacket = 2112;  // MASTER ROM, ZIMAGE_RAMDISK, SYSTEM
  static constexpr int kAckLength = 15;
  static constexpr int kAckStride = 17;  // acknowledgement + its 2 FCS bytes
  static constexpr uint32_t kLostPacket = 0x30;
  static constexpr uint16_t kWindow = 15;

  PipelinedWriter(PhoneLink& link, ProgressSink* reporter) : link_(link), reporter_(reporter) {}

  // Writes `size` bytes in packets of `packetSize` (at most kPacket); true when every byte was
  // acknowledged. Each packet's bytes go to `sent` (when given) once the packet went out.
  // The link is back in its normal mode on every return.
  [[nodiscard]] bool Write(const uint8_t* data, uint32_t size, uint32_t packetSize,
                           const char* name, SentTally* sent = nullptr);

 private:
  enum class Examined { Good, Failed };

  // The last packet is due when at most one packet's worth remains: it goes with its real
  // size and kind 2, and the write then waits for its acknowledgement.
  void ScheduleLastIfDue();
  void BuildPacket(const uint8_t* data);
  Examined ExamineBatch();
  void Progress(uint64_t amount);
  // The packet at the current offset went out: its bytes not counted yet go to the tally.
  void PacketSent();
  int Port() const { return link_.PortNumber(); }

  PhoneLink& link_;
  ProgressSink* reporter_;

  uint32_t remaining_ = 0;
  uint32_t offset_ = 0;
  uint32_t packet_ = 0;
  uint32_t seq_ = 0;
  uint16_t credit_ = kWindow;
  uint32_t waitSeq_ = 0;
  uint32_t lastAck_ = 0xFFFFFFFFu;
  uint32_t lastBatchAck_ = 0;
  uint64_t acked_ = 0;
  uint32_t ackInterval_ = 0;
  bool waiting_ = false;
  bool lastPhase_ = false;
  uint32_t lastSeq_ = 0;
  int frames_ = 0;                 // acknowledgements of the current batch
  const uint8_t* body_ = nullptr;  // the last built packet's bytes, in the image
  uint32_t bodyLength_ = 0;
  const uint8_t* data_ = nullptr;  // the image
  SentTally* sent_ = nullptr;
  uint64_t counted_ = 0;  // bytes of the image that went to the tally
};

}  // namespace tr52
