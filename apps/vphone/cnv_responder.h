// Normal mode: the handset's own NV backup and restore (DIAG subsystem dispatch 0x80,
// subsystem 0x37, command 0 backup / 1 restore).
//
// The phone answers at once with status 0 and response count 0 ("more to come") and sends the
// final answer (status 0 = done, 1 = failed; response count 1) when the work is finished. The
// final answer must reach the host as a frame of its own, after the first: it goes through the
// late-answer sink that the phone installs. Without a sink both frames go in the reply.
//
// The phone keeps its calibration copy as a file in its EFS2: when the file system (given to
// the constructor) has no room for it (efs.capacity), the backup fails.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>

#include "vphone/efs_tree.h"
#include "vphone/nv_store.h"
#include "vphone/responder.h"

namespace vphone {

class CnvResponder : public Responder {
 public:
  // Sends `frame` as its own answer `delayMs` milliseconds (process clock) from now.
  using LateAnswerSink = std::function<void(Bytes frame, uint32_t delayMs)>;
  static constexpr uint32_t kDefaultWorkMs = 200;

  // The calibration copy's size in the phone's EFS2.
  static constexpr uint64_t kCopyBytes = std::size(NvStore::kCalibrationItems) * 128;

  explicit CnvResponder(NvStore& store, const EfsTree* efs = nullptr) : store_(store), efs_(efs) {}

  void SetLateAnswerSink(LateAnswerSink sink) { sink_ = std::move(sink); }
  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  // cnv.work_ms: how long the phone takes before its final answer [200].
  void ApplyScenario(const Scenario& s) override;

  int Backups() const { return backups_; }
  int Restores() const { return restores_; }

  // The two answers for a command with its final status (0 done, 1 failed).
  static Bytes FirstAnswer(uint16_t command);
  static Bytes FinalAnswer(uint16_t command, uint32_t status);

 private:
  NvStore& store_;
  const EfsTree* efs_;
  LateAnswerSink sink_;
  uint32_t workMs_ = kDefaultWorkMs;
  int backups_ = 0;
  int restores_ = 0;
};

}  // namespace vphone
