#include "commands/diag_client.h"

#include "base/printable_text.h"
#include "base/process_log.h"
#include "commands/diag_requests.h"

namespace tr52 {

namespace {

constexpr int kDiagTimeoutMs = 3000;
constexpr int kNvRangesTimeoutMs = 30000;

}  // namespace

bool DiagClient::GetModelName(std::string& text) {
  Log("[COM%d] >>Get Model Name [DIAG_VERNO_F]", Port());
  if (!Attached()) {
    text = "No Phone";
    return false;
  }
  link_->SetProtocolMode(Protocol::Diag);
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
  if (Transact(BuildVersionRequest(), kDiagTimeoutMs) != TxRxResult::Accepted) return false;
  const auto model = ParseModelText(AnswerBytes());
  if (!model) {
    LogShort("GetModelName", kModelTextAnswerSize);
    return false;
  }
  text = *model;
  return true;
}

bool DiagClient::SetSecurityCode(const uint8_t code[8]) {
  Log("[COM%d] >>Set Security Code [DIAG_PASSWORD_F]", Port());
  if (!Attached() || code == nullptr) return false;
  if (Transact(BuildPasswordRequest(std::span<const uint8_t, 8>(code, 8)), kDiagTimeoutMs) !=
      TxRxResult::Accepted) {
    Log("[COM%d]   DIAG_PASSWORD_F FAILED", Port());
    return false;
  }
  return true;
}

void DiagClient::ChangeDloadMode() {
  Log("[COM%d] >>Change Dload Mode [DIAG_DLOAD_F]", Port());
  // The phone restarts into download mode instead of answering: whether an answer came tells
  // nothing, the booting-mode detection that follows finds out.
  if (Attached()) static_cast<void>(Transact(BuildDloadSwitchRequest(), kDiagTimeoutMs));
}

bool DiagClient::ChangeOfflineMode(int mode) {
  Log("[COM%d] Change Offline Mode [DIAG_CONTROL_F/Mode = %d]", Port(), mode);
  if (!Attached()) return false;
  if (Transact(BuildControlRequest(static_cast<uint16_t>(mode)), kDiagTimeoutMs) !=
      TxRxResult::Accepted) {
    Log("[COM%d]  Fail(Mode:%d)", Port(), mode);
    return false;
  }
  return true;
}

bool DiagClient::GetBatteryLevel(int& level) {
  if (!Attached() || Transact(BuildBatteryRequest(), kDiagTimeoutMs) != TxRxResult::Accepted) {
    level = -1;
    return false;
  }
  // An answer too short to carry what is read tells nothing: it counts as no answer.
  const auto answer = ParseBatteryAnswer(AnswerBytes());
  if (!answer) {
    LogShort("GetBatteryLevel", kBatteryAnswerSize);
    level = -1;
    return false;
  }
  if (answer->status != 0) return false;
  level = answer->level;
  return true;
}

bool DiagClient::GetNvItemRanges(NvRanges* ranges) {
  if (ranges == nullptr || !Attached()) return false;
  if (Transact(BuildNvRangesRequest(), kNvRangesTimeoutMs) != TxRxResult::Accepted) return false;
  const auto answer = ParseNvRanges(AnswerBytes());
  if (!answer) {
    LogShort("GetNvItemRanges", kNvRangesAnswerSize);
    return false;
  }
  *ranges = *answer;
  return true;
}

}  // namespace tr52
