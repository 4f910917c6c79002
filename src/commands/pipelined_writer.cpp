#include "commands/pipelined_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/messages.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "commands/dload_requests.h"
#include "commands/sent_tally.h"

namespace tr52 {

namespace {

constexpr uint32_t kKindFirst = 0;
constexpr uint32_t kKindNext = 1;
constexpr uint32_t kKindLast = 2;

}  // namespace

void PipelinedWriter::ScheduleLastIfDue() {
  if (lastPhase_ || remaining_ > packet_) return;
  packet_ = remaining_;
  lastSeq_ = seq_;
  credit_ = 1;
  lastPhase_ = true;
  Log("Tx packet : Last packet sequence : %d ", static_cast<int>(seq_));
}

void PipelinedWriter::BuildPacket(const uint8_t* data) {
  uint8_t* req = link_.PacketBuffers().request;
  // The packet's bytes stay in the image: the link frames them from there (bytes 16 to
  // 16 + packet of the request buffer are not used). What follows them in the request is zero.
  const auto header =
      BuildAsyncWriteHeader(offset_, static_cast<uint16_t>(packet_), seq_,
                            lastPhase_ ? kKindLast : (seq_ == 0 ? kKindFirst : kKindNext));
  std::memcpy(req, header.data(), header.size());
  std::memset(req + kHeaderLength + packet_, 0, kRequestLength - kHeaderLength - packet_);
  body_ = data + offset_;
  bodyLength_ = packet_;
}

void PipelinedWriter::PacketSent() {
  // A packet framed again after an exception is counted once.
  const uint64_t end = static_cast<uint64_t>(offset_) + packet_;
  if (sent_ != nullptr && end > counted_) sent_->Add(data_ + counted_, end - counted_);
  if (end > counted_) counted_ = end;
}

void PipelinedWriter::Progress(uint64_t amount) {
  if (reporter_ == nullptr) return;
  reporter_->StepProgress(TYPE_WPARAM_PROGRESS_POS,
                          static_cast<int>(std::min<uint64_t>(amount, 0x7FFFFFFF)));
}

PipelinedWriter::Examined PipelinedWriter::ExamineBatch() {
  frames_ = link_.FramesReceived();
  const int length = link_.ResponseLength();
  // Every acknowledgement takes 17 bytes of the buffer (15 of answer, 2 of FCS); a batch of any
  // other length cannot be split into acknowledgements.
  if (frames_ <= 0 || length != frames_ * kAckStride) {
    Log("[COM%d] Dl_AsyncOptimizeWrite() - Bad acknowledgement batch : %d frames, %d bytes", Port(),
        frames_, length);
    return Examined::Failed;
  }
  const uint8_t* rsp = link_.PacketBuffers().response;
  bool packetLost = false;
  uint32_t endedAt = 0;
  for (int i = 0; i < frames_; ++i) {
    // The length check above gives every acknowledgement all of its 15 bytes.
    const auto ack = ParseAsyncAck({rsp + static_cast<size_t>(i) * kAckStride, kAckLength});
    if (!ack) return Examined::Failed;
    // The first acknowledgement's interval counts for the whole batch; in a lost-packet
    // acknowledgement the same field names the lost packet.
    if (i == 0) ackInterval_ = ack->interval;
    endedAt = ack->sequence;
    if (ack->errorNumber == kLostPacket) {
      Log("Dl_AsyncOptimizeWrite - Packet is lost! : Sent packet(%d), Lost packet(%d)",
          static_cast<int>(ack->sequence), static_cast<int>(ack->interval));
      packetLost = true;
      break;
    }
    if (ack->errorNumber != 0) {
      Log("[COM%d] Dl_AsyncOptimizeWrite - ErrNo(%d), Addr(0x%08X), NandErrNo(0x%02X)", Port(),
          static_cast<int>(ack->errorNumber), offset_, ack->nandError);
      return Examined::Failed;
    }
    const uint32_t expected = lastAck_ + ackInterval_;
    if (ack->sequence == expected || ack->sequence == 1) {
      lastAck_ = ack->sequence;
      if (i == frames_ - 1) lastBatchAck_ = ack->sequence;
      continue;
    }
    if (lastPhase_ && ack->sequence == lastSeq_) break;  // the final packet is acknowledged
    Log("[COM%d] Dl_AsyncOptimizeWrite() - Lost packet seq : %d, Recieved packet seq : %d", Port(),
        static_cast<int>(expected), static_cast<int>(ack->sequence));
    return Examined::Failed;
  }
  if (packetLost) {
    Log("if(bPktLost == TRUE)");
    return Examined::Failed;
  }
  if (lastPhase_ && endedAt == lastSeq_) {
    remaining_ -= packet_;
  } else if (ackInterval_ == 0 && !lastPhase_) {
    // No interval gives no credit: the write could only wait for acknowledgements that
    // never come.
    Log("[COM%d] Dl_AsyncOptimizeWrite() - Acknowledgement interval 0", Port());
    return Examined::Failed;
  }
  acked_ += static_cast<uint64_t>(frames_) * ackInterval_;
  return Examined::Good;
}

bool PipelinedWriter::Write(const uint8_t* data, uint32_t size, uint32_t packetSize,
                            const char* name, SentTally* sent) {
  // A packet must fit the request's 16384-byte data area.
  if (data == nullptr || size == 0 || packetSize == 0 || packetSize > kPacket) return false;
  Log("[COM%d] %s FLASHING ...", Port(), name);
  if (reporter_ != nullptr) {
    reporter_->WebDLFunction(3, "%s WRITING", name);
    reporter_->InitProgress(TYPE_WPARAM_PROGRESS_POS,
                            static_cast<int>((size + packetSize - 1) / packetSize));
  }
  data_ = data;
  sent_ = sent;
  counted_ = 0;
  remaining_ = size;
  offset_ = 0;
  packet_ = packetSize;
  seq_ = 0;
  credit_ = kWindow;
  waitSeq_ = 0;
  lastAck_ = 0xFFFFFFFFu;
  lastBatchAck_ = 0;
  acked_ = 0;
  ackInterval_ = 0;
  waiting_ = false;
  lastPhase_ = false;
  lastSeq_ = 0;
  // An image of at most one packet goes as a single last packet of its real size.
  ScheduleLastIfDue();

  uint8_t* req = link_.PacketBuffers().request;
  body_ = nullptr;
  bodyLength_ = 0;
  while (remaining_ > 0 && !link_.IsAborted()) {
    if (credit_ == 1) waitSeq_ = seq_;
    const bool building = credit_ != 0;
    if (building) BuildPacket(data);
    TxRxResult result = TxRxResult::Failed;
    {
      // With credit for more than one packet the packet only goes out; without credit the
      // write only waits for acknowledgements. The link is back in its normal mode after.
      const PipelineModeGuard mode = link_.UsePipelineMode(
          {.sequence = seq_, .sendOnly = credit_ > 1, .receiveOnly = credit_ == 0, .noWake = true});
      // A wait without sending frames the last packet again, as the engine always frames
      // its request; nothing of it is written.
      result = link_.AsyncTxRxSpliced(req, kRequestLength, body_, kHeaderLength, bodyLength_,
                                      kTimeoutMs);
    }
    frames_ = 0;
    if (building && (result == TxRxResult::Accepted || result == TxRxResult::SentOnly))
      PacketSent();
    if (result == TxRxResult::Accepted) {
      if (ExamineBatch() == Examined::Failed) return false;
    } else if (result != TxRxResult::SentOnly) {
      Log("nResult==END_COMM || m_bRxOK == FALSE");
      return false;
    }
    const uint64_t batch = static_cast<uint64_t>(frames_) * ackInterval_;

    if (waiting_) {
      if (acked_ >= kWindow) {
        const int64_t refill = std::max<int64_t>(
            static_cast<int64_t>(lastBatchAck_) - static_cast<int64_t>(waitSeq_) + kWindow,
            static_cast<int64_t>(acked_));
        credit_ = static_cast<uint16_t>(std::clamp<int64_t>(refill, 0, 0xFFFF));
        acked_ = 0;
        waiting_ = false;
      }
      Progress(batch);
      // The last-packet check must not be skipped after a wait.
      if (!waiting_) ScheduleLastIfDue();
    } else if (lastPhase_) {
      credit_ = 0;  // only wait, until the final packet is acknowledged
      Progress(batch);
    } else {
      ++seq_;
      --credit_;
      remaining_ -= packet_;
      offset_ += packet_;
      if (credit_ == 0) {
        Progress(batch);
        if (acked_ > 0 && acked_ < kWindow) {
          waiting_ = true;
          continue;
        }
        acked_ = 0;
        credit_ = static_cast<uint16_t>(batch);
        if (credit_ == 0) {
          Log("[COM%d] Dl_AsyncOptimizeWrite() - No credit from acknowledgement", Port());
          return false;
        }
      }
      ScheduleLastIfDue();
    }
  }
  return !link_.IsAborted();
}

}  // namespace tr52
