// DloadClient: the NAND programmer commands and the classic block write.
#include <algorithm>

#include "base/messages.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "commands/dload_client.h"
#include "commands/image_type_table.h"
#include "commands/nand_requests.h"
#include "platform/clock.h"

namespace tr52 {

namespace {

constexpr int kShortTimeoutMs = 3000;
constexpr int kOpenTimeoutMs = 70000;
constexpr int kImageInitTimeoutMs = 60000;
constexpr int kBlockTimeoutMs = 10000;
constexpr int kFinalizeTimeoutMs = 20000;
constexpr int kEraseTimeoutMs = 30000;

constexpr uint32_t kPacket = 4096;
constexpr uint32_t kBlock = 16384;
constexpr uint32_t kMasterRomPacket = 4224;
constexpr uint32_t kMasterRomBlock = 16896;
constexpr int kRamWriteAttempts = 3;
constexpr int kRetryWaitMs = 500;

}  // namespace

bool DloadClient::SetTrustedMode(int secMode) {
  Log("[COM%d] >>Set Trusted Mode [DLOAD_NAND_SEC_MODE] sec_mode = %d (1=trusted 0=NonTrusted)",
      Port(), secMode);
  if (secMode != 0 && secMode != 1) return false;
  if (reporter_ != nullptr)
    reporter_->WebDLFunction(3, "%sTRUSTED MODE", secMode == 0 ? "NON-" : "");
  if (Attached() && Transact(BuildNandSecMode(static_cast<uint8_t>(secMode)), kShortTimeoutMs) ==
                        TxRxResult::Accepted)
    return true;
  Log("[COM%d]   FAIL", Port());
  return false;
}

bool DloadClient::NandFlashInitWithFile(ImageType type, int flag) {
  const ImageTypeRow& row = ImageTypeTable::Row(type);
  Log("[COM%d] >>NandFlashInitWithFile(%s)", Port(), row.name);
  sent_.Reset();
  const ImageView image = Image(type);
  if (!image.loaded || !Attached()) return false;
  const NandOpenForm* form = NandOpenFormOf(row.withFileCommand);
  if (form == nullptr) return false;
  if (image.size > form->maxImage) {
    Log("[COM%d] NandFlashInitWithFile(%s) - image of %u bytes, more than %u", Port(), row.name,
        image.size, form->maxImage);
    return false;
  }
  const std::span<const uint8_t> bytes = image.size > 0
                                             ? std::span<const uint8_t>(image.data, image.size)
                                             : std::span<const uint8_t>();
  if (Transact(BuildNandOpenWithFile(form->command, flag != 0, bytes), form->timeoutMs) !=
      TxRxResult::Accepted) {
    Log("[COM%d]   FAIL", Port());
    return false;
  }
  if (image.size > 0) sent_.Add(image.data, image.size);
  return true;
}

bool DloadClient::NandFlashInitWithoutFile(ImageType type) {
  const ImageTypeRow& row = ImageTypeTable::Row(type);
  Log("[COM%d] >>NandFlashInitWithoutFile(%s)", Port(), row.name);
  if (row.withoutFileLength == 0 || !Attached()) return false;
  const std::span<const uint8_t> request(row.withoutFile, row.withoutFileLength);
  if (Transact(request, kOpenTimeoutMs) != TxRxResult::Accepted) {
    Log("[COM%d]   FAIL", Port());
    return false;
  }
  return true;
}

bool DloadClient::NandFlashImageInit(ImageType type) {
  const ImageTypeRow& row = ImageTypeTable::Row(type);
  Log("[COM%d] >>NandFlashImageInit(%s)", Port(), row.name);
  if (row.imageInitCode < 0 || !Attached()) return false;
  return Transact(BuildNandImageInit(static_cast<uint32_t>(row.imageInitCode)),
                  kImageInitTimeoutMs) == TxRxResult::Accepted;
}

bool DloadClient::NandFlashWrite(ImageType type) {
  const ImageTypeRow& row = ImageTypeTable::Row(type);
  const char* name = row.name;
  Log("[COM%d] >>NandFlashWrite %s", Port(), name);
  const ImageView image = Image(type);
  sent_.Reset();
  if (!image.loaded || image.data == nullptr || !row.nandWrite || !Attached()) return false;

  const bool masterRom = row.type == IMAGE_MASTER_ROM;
  const uint32_t packet = masterRom ? kMasterRomPacket : kPacket;
  const uint32_t block = masterRom ? kMasterRomBlock : kBlock;
  uint32_t remaining = image.size;
  uint32_t source = 0;
  uint32_t target = 0;
  uint32_t inBlock = 0;
  uint32_t nandAddress = row.nandStart;
  uint32_t piece = std::min(packet, remaining);

  if (reporter_ != nullptr) {
    reporter_->WebDLFunction(3, "FLASHING %s", name);
    reporter_->InitProgress(TYPE_WPARAM_PROGRESS_POS,
                            static_cast<int>((image.size + packet - 1) / packet));
  }

  auto debugBlock = [&](const char* what, bool withTarget) {
    Log("  [COM%d]FAIL", Port());
    Log("  Debug Log Start ======================================");
    Log("  %s", what);
    Log("  NandAddr   : 0x%08x, Size : %d", nandAddress, static_cast<int>(inBlock));
    if (withTarget) Log("  TargetAddr : 0x%08x", target);
    Log("  Debug Log End ========================================");
  };

  while (remaining > 0 && !link_->IsAborted()) {
    const auto request =
        BuildNandRamWrite(target, static_cast<uint16_t>(packet), {image.data + source, piece});
    int failures = 0;
    while (Transact(request, kBlockTimeoutMs) != TxRxResult::Accepted) {
      ++failures;
      debugBlock("Ram Writing", true);
      if (failures >= kRamWriteAttempts) return false;
      Log(">> RETRY(%d)", failures);
      SleepMs(kRetryWaitMs);
    }
    if (failures > 0) Log("[COM%d] >> %s BURNING ...", Port(), name);
    sent_.Add(image.data + source, piece);
    source += piece;
    target += piece;
    remaining -= piece;
    inBlock += piece;
    if (piece > remaining) piece = remaining;
    if (reporter_ != nullptr) reporter_->StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
    if (link_->IsAborted()) {
      Log("[COM%d] After Updating Progress - Abort Break", Port());
      break;
    }
    if (inBlock == block || remaining == 0) {
      if (Transact(BuildNandProgram(nandAddress, inBlock), kBlockTimeoutMs) !=
          TxRxResult::Accepted) {
        debugBlock("Flash Programming", false);
        return false;
      }
      nandAddress += inBlock;
      inBlock = 0;
      target = 0;
    }
  }
  return !link_->IsAborted();
}

bool DloadClient::NandFlashFinalize() {
  Log("[COM%d] >>Nand FLASH FINALIZE [DLOAD_NAND_FINALIZE_F]", Port());
  if (Attached() && Transact(BuildNandFinalize(), kFinalizeTimeoutMs) == TxRxResult::Accepted) {
    SleepMs(30);
    return true;
  }
  Log("[COM%d]   FAIL", Port());
  return false;
}

bool DloadClient::EraseEfs() {
  Log("[COM%d] >>Erase EFS [DLOAD_NAND_ERASE_F]", Port());
  if (reporter_ != nullptr) reporter_->WebDLFunction(3, "ERASE EFS ...");
  if (Attached() && Transact(BuildNandEraseEfs(), kEraseTimeoutMs) == TxRxResult::Accepted)
    return true;
  Log("[COM%d]   FAIL", Port());
  return false;
}

void DloadClient::DloadReset() {
  Log("[COM%d] Reset [DLOAD]", Port());
  SleepMs(300);
  // The phone restarts at once; an answer may or may not come before it goes.
  if (Attached()) static_cast<void>(Transact(BuildDloadReset(), kShortTimeoutMs));
  SleepMs(300);
}

}  // namespace tr52
