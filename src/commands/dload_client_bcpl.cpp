// DloadClient: the boot-code protection lock (BCPL).
#include "base/process_log.h"
#include "commands/bcpl_requests.h"
#include "commands/dload_client.h"

namespace tr52 {

namespace {

constexpr int kTimeoutMs = 3000;

}  // namespace

bool DloadClient::CheckBcplStatus() {
  Log("[COM%d] Check BCPL Status ...", Port());
  if (Attached() && Transact(BuildBcplStatus(), kTimeoutMs) == TxRxResult::Accepted) {
    if (const auto on = ParseBcplAnswer(AnswerBytes())) {
      Log(*on ? "[COM%d] >> BCPL On ..." : "[COM%d] >> BCPL Off ...", Port());
      return *on;
    }
    LogShort("CheckBcplStatus", kBcplAnswerSize);
  }
  Log("[COM%d]  Fail", Port());
  return false;
}

bool DloadClient::UnlockBcpl() {
  Log("[COM%d] BCPE ...", Port());
  const ImageView oemsbl = Image(IMAGE_OEMSBL);
  if (oemsbl.data == nullptr || oemsbl.size == 0) {
    Log("[COM%d] BCPE OEMSBL Version = NULL ...", Port());
    return false;
  }
  if (Attached() &&
      Transact(BuildBcplUnlock({oemsbl.data, oemsbl.size}), kTimeoutMs) == TxRxResult::Accepted) {
    if (const auto unlocked = ParseBcplAnswer(AnswerBytes())) {
      Log(*unlocked ? "[COM%d] >> Unlocked BCPL ..." : "[COM%d] >> Unlock BCPL Failed ...", Port());
      return *unlocked;
    }
    LogShort("UnlockBcpl", kBcplAnswerSize);
  }
  Log("[COM%d]  Fail", Port());
  return false;
}

}  // namespace tr52
