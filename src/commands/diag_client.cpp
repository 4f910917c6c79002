#include "commands/diag_client.h"

#include <cstring>

#include "base/byte_reader.h"
#include "base/printable_text.h"
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
constexpr size_t kBatteryStatusOffset = 4;
constexpr size_t kBatteryLevelOffset = 8;

}  // namespace

bool DiagClient::GetModelName(std::string& text) {
  Log("[COM%d] >>Get Model Name [DIAG_VERNO_F]", Port());
  if (!Attached()) {
    text = "No Phone";
    return false;
  }
  link_->SetProtocolMode(MODE_DIAG);
  if (!RequestModelText(text)) {
    text = "No Phone";
    if (!RequestModelText(text)) {
      Log("[COM%d] Get Model Name in Normal Booting  FAIL", Port());
      return false;
    }
  }
  Log("[COM%d]  strModel = %s", Port(), PrintableText(text).c_str());
  return true;
}

bool DiagClient::RequestModelText(std::string& text) {
  Request()[0] = kDiagVernoF;
  if (Transact(1, kDiagTimeoutMs) != TXRX_ACCEPTED) return false;
  AnswerReader answer = Answer();
  const auto model = answer.Text(kModelTextOffset);
  if (!model) {
    LogShortAnswer(Port(), "GetModelName", answer);
    return false;
  }
  text = *model;
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
  // An answer too short to carry what is read tells nothing: it counts as no answer.
  AnswerReader answer = Answer();
  const auto status = answer.U32(kBatteryStatusOffset);
  if (status && *status != 0) return false;
  const auto value = answer.U8(kBatteryLevelOffset);
  if (!status || !value) {
    LogShortAnswer(Port(), "GetBatteryLevel", answer);
    level = -1;
    return false;
  }
  level = static_cast<int8_t>(*value);
  return true;
}

bool DiagClient::GetNvItemRanges(NvRanges* ranges) {
  if (ranges == nullptr || !Attached()) return false;
  ClearRequest(4);
  Request()[0] = kDiagSubsysCmdF;
  Request()[1] = kSubsysMaker;
  StoreU16le(Request() + 2, kSubsysNvRanges);
  if (Transact(4, kNvRangesTimeoutMs) != TXRX_ACCEPTED) return false;
  AnswerReader answer = Answer();
  const auto qctMin = answer.U16(4);
  const auto qctMax = answer.U16(6);
  const auto zumMin = answer.U16(8);
  const auto zumMax = answer.U16(10);
  if (!qctMin || !qctMax || !zumMin || !zumMax) {
    LogShortAnswer(Port(), "GetNvItemRanges", answer);
    return false;
  }
  ranges->qctMin = *qctMin;
  ranges->qctMax = *qctMax;
  ranges->zumMin = *zumMin;
  ranges->zumMax = *zumMax;
  return true;
}

}  // namespace tr52
