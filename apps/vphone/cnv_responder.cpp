#include "vphone/cnv_responder.h"

#include "base/byte_reader.h"
#include "vphone/scenario.h"

namespace vphone {

namespace {

constexpr uint8_t kSubsysV2 = 0x80;
constexpr uint8_t kCnvSubsystem = 0x37;
constexpr uint16_t kBackup = 0;
constexpr uint16_t kRestore = 1;

Bytes Answer(uint16_t command, uint32_t status, uint16_t count) {
  Bytes out(12, 0);
  out[0] = kSubsysV2;
  out[1] = kCnvSubsystem;
  tr52::StoreU16le(out.data() + 2, command);
  tr52::StoreU32le(out.data() + 4, status);
  tr52::StoreU16le(out.data() + 8, 1);  // delayed answer id
  tr52::StoreU16le(out.data() + 10, count);
  return out;
}

}  // namespace

Bytes CnvResponder::FirstAnswer(uint16_t command) {
  return Answer(command, 0, 0);
}

Bytes CnvResponder::FinalAnswer(uint16_t command, uint32_t status) {
  return Answer(command, status, 1);
}

void CnvResponder::ApplyScenario(const Scenario& s) {
  workMs_ = static_cast<uint32_t>(ScenarioInt(s, "cnv.work_ms", workMs_));
}

bool CnvResponder::Handle(Mode mode, std::span<const uint8_t> req, Reply& reply) {
  if (mode != Mode::Normal || req.size() < 4 || req[0] != kSubsysV2 || req[1] != kCnvSubsystem)
    return false;
  const uint16_t command = tr52::LoadU16le(req.data() + 2);
  if (command != kBackup && command != kRestore) {
    reply.frames.push_back({0x13, req[0], req[1], req[2], req[3]});
    return true;
  }
  const auto outcome = command == kBackup ? store_.CnvBackupOutcome() : store_.CnvRestoreOutcome();
  if (outcome == NvStore::Outcome::Silent) {
    reply.silent = true;
    return true;
  }
  bool ok = false;
  if (command == kBackup) {
    ++backups_;
    ok = (efs_ == nullptr || efs_->HasRoomFor(kCopyBytes)) && store_.CnvBackup();
  } else {
    ++restores_;
    ok = store_.CnvRestore();
  }
  reply.frames.push_back(FirstAnswer(command));
  Bytes final = FinalAnswer(command, ok ? 0 : 1);
  if (sink_) {
    sink_(std::move(final), workMs_);
  } else {
    reply.frames.push_back(std::move(final));
  }
  return true;
}

}  // namespace vphone
