#include "vphone/pipelined_writer.h"

#include "base/byte_reader.h"
#include "vphone/scenario.h"

namespace vphone {

namespace {
constexpr uint8_t kMaker = 0x50;
constexpr uint8_t kSubWrite = 0x10;
constexpr uint32_t kMaxPacket = 16384;
constexpr uint32_t kKindLast = 2;
constexpr uint32_t kErrPastEnd = 8;
}  // namespace

Bytes PipeAck(uint32_t ackSeq, uint32_t interval, uint32_t error, uint8_t nandError) {
  Bytes out(15, 0);
  out[0] = kMaker;
  out[1] = kSubWrite;
  tr52::StoreU32le(out.data() + 2, ackSeq);
  tr52::StoreU32le(out.data() + 6, interval);
  tr52::StoreU32le(out.data() + 10, error);
  out[14] = nandError;
  return out;
}

void PipelinedWriter::ApplyScenario(const Scenario& s) {
  ackInterval_ = static_cast<uint32_t>(ScenarioInt(s, "pipe.ack_interval", ackInterval_));
  lostAt_ = ScenarioInt(s, "pipe.lost_at", lostAt_);
  writeErrorAt_ = ScenarioInt(s, "pipe.write_error_at", writeErrorAt_);
  writeError_ = static_cast<uint32_t>(ScenarioInt(s, "pipe.write_error", writeError_));
  nandError_ = static_cast<uint8_t>(ScenarioInt(s, "pipe.nand_error", nandError_));
}

void PipelinedWriter::OnBoot(Mode) {
  image_.clear();
  expected_ = 0;
  failed_ = false;
}

bool PipelinedWriter::Handle(Mode mode, std::span<const uint8_t> req, Reply& reply) {
  if (mode != Mode::Download || req.size() < 2 || req[0] != kMaker || req[1] != kSubWrite)
    return false;
  tr52::ByteReader r(req);
  (void)r.Skip(2);  // a shorter request fails the reads below and is refused there
  auto offset = r.U32le();
  auto size = r.U16le();
  auto seq = r.U32le();
  auto kind = r.U32le();
  if (!kind || *size > kMaxPacket || r.Remaining() < *size) {
    reply.frames.push_back(DloadNak(0, kNakInvalidLen));
    return true;
  }
  ++packets_;
  if (*seq == 0) {
    // Packet 0 starts the image afresh.
    image_ = ctx_.openImage.empty() ? "PIPELINED" : ctx_.openImage;
    start_ = ctx_.openImage.empty() ? 0 : ctx_.openStart;
    expected_ = 0;
    failed_ = false;
    ctx_.flash.Begin(image_, start_, FlashMethod::Pipelined);
  }
  if (failed_ || image_.empty()) {
    reply.silent = true;  // nothing more is taken until a new packet 0
    return true;
  }
  auto fail = [&](Bytes ack) {
    failed_ = true;
    ++acks_;
    reply.frames.push_back(std::move(ack));
    return true;
  };
  uint32_t lastGood = expected_ - 1;  // all ones before packet 0 was taken
  if (*seq != expected_) return fail(PipeAck(lastGood, expected_, kPipeErrLost, 0));
  if (lostAt_ >= 0 && *seq == static_cast<uint64_t>(lostAt_))
    return fail(PipeAck(lastGood, *seq, kPipeErrLost, 0));
  if (writeErrorAt_ >= 0 && *seq == static_cast<uint64_t>(writeErrorAt_))
    return fail(PipeAck(*seq, ackInterval_, writeError_, nandError_));
  if (!ctx_.flash.Write(image_, start_ + *offset, req.subspan(16, *size)))
    return fail(PipeAck(*seq, ackInterval_, kErrPastEnd, kErrPastNandEnd));
  ++expected_;
  bool last = *kind == kKindLast;
  if (last || (ackInterval_ != 0 && (*seq + 1) % ackInterval_ == 0)) {
    ++acks_;
    reply.frames.push_back(PipeAck(*seq, ackInterval_, 0, 0));
  } else {
    reply.silent = true;
  }
  if (last) {
    ++completed_;
    image_.clear();
  }
  return true;
}

void PipelinedWriter::DumpState(std::ostream& out) const {
  out << "pipe ack_interval " << ackInterval_ << "\n"
      << "pipe packets " << packets_ << "\n"
      << "pipe acks " << acks_ << "\n"
      << "pipe images " << completed_ << "\n";
}

}  // namespace vphone
