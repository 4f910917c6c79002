#include "commands/diag_client.h"

#include <cstring>

#include "base/byte_reader.h"
#include "base/process_log.h"

namespace tr52 {

namespace {

constexpr int kDiagTimeoutMs = 3000;
constexpr int kNvRangesTimeoutMs = 30000;
constexpr uint8_t kDiagVernoF = 0x00;
constexpr uint8_t kDiagControlF = 0x29;
constexpr uint8_t kDiagDloadF = 0x3A;
constexpr uint8_t kDiagPasswordF = 0x46;
constexpr uint8_t kDiagSubsysCmdF = 0x4B;
constexpr uint8_t kSubsysMaker = 0xFC;
constexpr uint16_t kSubsysBattery = 0x0004;
constexpr uint16_t kSubsysNvRanges = 0x0009;
constexpr size_t kModelTextOffset = 39;
constexpr size_t kBatteryAnswerLength = 9;
constexpr size_t kNvRangesAnswerLength = 12;

}  // namespace

bool DiagClient::GetModelName(std::string& text) {
  Log("[COM%d] >>Get Model Name [DIAG_VERNO_F]", Port());
  if (!Attached()) {
    text = "No Phone";
    return false;
  }
  link_->SetProtocolMode(MODE_DIAG);
  Request()[0] = kDiagVernoF;
  if (Transact(1, kDiagTimeoutMs) != TXRX_ACCEPTED) {
    text = "No Phone";
    Request()[0] = kDiagVernoF;
    if (Transact(1, kDiagTimeoutMs) != TXRX_ACCEPTED) {
      Log("[COM%d] Get Model Name in Normal Booting  FAIL", Port());
      return false;
    }
  }
  text = AnswerText(kModelTextOffset);
  Log("[COM%d]  strModel = %s", Port(), text.c_str());
  return true;
}

bool DiagClient::SetSecurityCode(const uint8_t code[8]) {
  Log("[COM%d] >>Set Security Code [DIAG_PASSWORD_F]", Port());
  if (!Attached() || code == nullptr) return false;
  ClearRequest(9);
  Request()[0] = kDiagPasswordF;
  std::memcpy(Request() + 1, code, 8);
  if (Transact(9, kDiagTimeoutMs) != TXRX_ACCEPTED) {
    Log("[COM%d]   DIAG_PASSWORD_F FAILED", Port());
    return false;
  }
  return true;
}

bool DiagClient::ChangeDloadMode() {
  Log("[COM%d] >>Change Dload Mode [DIAG_DLOAD_F]", Port());
  if (Attached()) {
    Request()[0] = kDiagDloadF;
    Transact(1, kDiagTimeoutMs);
  }
  return true;
}

bool DiagClient::ChangeOfflineMode(int mode) {
  Log("[COM%d] Change Offline Mode [DIAG_CONTROL_F/Mode = %d]", Port(), mode);
  if (!Attached()) return false;
  ClearRequest(3);
  Request()[0] = kDiagControlF;
  StoreU16le(Request() + 1, static_cast<uint16_t>(mode));
  if (Transact(3, kDiagTimeoutMs) != TXRX_ACCEPTED) {
    Log("[COM%d]  Fail(Mode:%d)", Port(), mode);
    return false;
  }
  return true;
}

bool DiagClient::GetBatteryLevel(int& level) {
  if (!Attached()) {
    level = -1;
    return false;
  }
  ClearRequest(4);
  Request()[0] = kDiagSubsysCmdF;
  Request()[1] = kSubsysMaker;
  StoreU16le(Request() + 2, kSubsysBattery);
  if (Transact(4, kDiagTimeoutMs) != TXRX_ACCEPTED) {
    level = -1;
    return false;
  }
  // An answer too short to carry the level tells nothing: treat it as no answer.
  if (AnswerLength() < kBatteryAnswerLength) {
    level = -1;
    return false;
  }
  if (AnswerU32(4) != 0) return false;
  level = static_cast<int8_t>(AnswerU8(8));
  return true;
}

bool DiagClient::GetNvItemRanges(NvRanges* ranges) {
  if (ranges == nullptr || !Attached()) return false;
  ClearRequest(4);
  Request()[0] = kDiagSubsysCmdF;
  Request()[1] = kSubsysMaker;
  StoreU16le(Request() + 2, kSubsysNvRanges);
  if (Transact(4, kNvRangesTimeoutMs) != TXRX_ACCEPTED) return false;
  if (AnswerLength() < kNvRangesAnswerLength) return false;
  ranges->qctMin = AnswerU16(4);
  ranges->qctMax = AnswerU16(6);
  ranges->zumMin = AnswerU16(8);
  ranges->zumMax = AnswerU16(10);
  return true;
}

}  // namespace tr52
