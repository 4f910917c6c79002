// DloadClient: the boot-code protection lock (BCPL).
#include <algorithm>
#include <cstring>

#include "base/process_log.h"
#include "commands/dload_client.h"
#include "commands/image_type_table.h"

namespace tr52 {

namespace {

constexpr uint8_t kZumCmd = 0x50;
constexpr uint8_t kSubBcplStatus = 0x07;
constexpr uint8_t kSubBcplUnlock = 0x0F;
constexpr int kTimeoutMs = 3000;
constexpr uint32_t kProofLength = 128;
constexpr uint8_t kYes = 1;

}  // namespace

bool DloadClient::CheckBcplStatus() {
  Log("[COM%d] Check BCPL Status ...", Port());
  try {
    if (Attached()) {
      ClearRequest(2);
      Request()[0] = kZumCmd;
      Request()[1] = kSubBcplStatus;
      if (Transact(2, kTimeoutMs) == TXRX_ACCEPTED) {
        AnswerReader answer = Answer();
        if (const auto status = answer.U8(2)) {
          if (*status == kYes) {
            Log("[COM%d] >> BCPL On ...", Port());
            return true;
          }
          Log("[COM%d] >> BCPL Off ...", Port());
          return false;
        }
        LogShortAnswer(Port(), "CheckBcplStatus", answer);
      }
    }
    Log("[COM%d]  Fail", Port());
  } catch (...) {
  }
  return false;
}

bool DloadClient::UnlockBcpl() {
  Log("[COM%d] BCPE ...", Port());
  try {
    const ImageView oemsbl = Image(IMAGE_OEMSBL);
    if (oemsbl.data == nullptr || oemsbl.size == 0) {
      Log("[COM%d] BCPE OEMSBL Version = NULL ...", Port());
      return false;
    }
    if (Attached()) {
      ClearRequest(2 + kProofLength);
      Request()[0] = kZumCmd;
      Request()[1] = kSubBcplUnlock;
      // A shorter image leaves the rest of the 128 bytes zero.
      std::memcpy(Request() + 2, oemsbl.data, std::min(kProofLength, oemsbl.size));
      if (Transact(static_cast<int>(2 + kProofLength), kTimeoutMs) == TXRX_ACCEPTED) {
        AnswerReader answer = Answer();
        if (const auto status = answer.U8(2)) {
          if (*status == kYes) {
            Log("[COM%d] >> Unlocked BCPL ...", Port());
            return true;
          }
          Log("[COM%d] >> Unlock BCPL Failed ...", Port());
          return false;
        }
        LogShortAnswer(Port(), "UnlockBcpl", answer);
      }
    }
    Log("[COM%d]  Fail", Port());
  } catch (...) {
  }
  return false;
}

}  // namespace tr52
