// Download mode: the pipelined flash write (maker command 0x50, sub-command 0x10). The handset
// burns each packet into the image opened before, and acknowledges runs of `ackInterval`
// packets by the sequence number of the run's last packet; the final packet (kind 2) is
// acknowledged by its own sequence number. A gap in the sequence is reported as a lost packet
// (error 0x30 with the missing sequence number) and the rest of the image is ignored.
#pragma once

#include <cstdint>
#include <string>

#include "vphone/download_context.h"
#include "vphone/responder.h"

namespace vphone {

// One acknowledgement: 0x50 0x10, ackSeq, ackInterval (or the lost sequence), error number,
// NAND error byte (15 bytes).
Bytes PipeAck(uint32_t ackSeq, uint32_t interval, uint32_t error, uint8_t nandError);
constexpr uint32_t kPipeErrLost = 0x30;

class PipelinedWriter : public Responder {
 public:
  explicit PipelinedWriter(DownloadContext& ctx) : ctx_(ctx) {}

  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  void ApplyScenario(const Scenario& s) override;
  void OnBoot(Mode mode) override;
  void DumpState(std::ostream& out) const override;

 private:
  DownloadContext& ctx_;

  uint32_t ackInterval_ = 5;
  int64_t lostAt_ = -1;
  int64_t writeErrorAt_ = -1;
  uint32_t writeError_ = 0x11;
  uint8_t nandError_ = 0x0A;

  std::string image_;  // image being written (empty before packet 0)
  uint32_t start_ = 0;
  uint32_t expected_ = 0;
  bool failed_ = false;  // a loss or error was reported: ignore the rest of the image
  int64_t packets_ = 0;
  int64_t acks_ = 0;
  int completed_ = 0;
};

}  // namespace vphone
