// DloadClient: the NAND programmer commands and the classic block write.
#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "base/process_log.h"
#include "base/progress_reporter.h"
#include "commands/dload_client.h"
#include "commands/image_type_table.h"
#include "platform/clock.h"

namespace tr52 {

namespace {

constexpr uint8_t kDloadResetF = 0x0A;
constexpr uint8_t kNandRamWrite = 0x01;
constexpr uint8_t kNandProgram = 0x21;
constexpr uint8_t kNandFinalizeF = 0x22;
constexpr uint8_t kNandEraseF = 0x24;
constexpr uint8_t kNandImageInit = 0x31;
constexpr uint8_t kNandSecMode = 0x48;

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
constexpr int kExceptionWaitMs = 100;
// The write resumes after an exception; this many in a row without progress end it.
constexpr int kMaxExceptionsInARow = 10;

// Layout of the NandFlashInitWithFile request per command byte.
struct WithFileForm {
  uint8_t command;
  int dataOffset;
  uint32_t maxImage;
  int length;
  int timeoutMs;
};

constexpr WithFileForm kWithFileForms[] = {
    {0x40, 4, 512, 516, kOpenTimeoutMs},
    {0x44, 3, 512, 515, kOpenTimeoutMs},
    {0x45, 3, 512, 515, kShortTimeoutMs},
    {0x49, 9, 256, 265, kShortTimeoutMs},
};

}  // namespace

bool DloadClient::SetTrustedMode(int secMode) {
  Log("[COM%d] >>Set Trusted Mode [DLOAD_NAND_SEC_MODE] sec_mode = %d (1=trusted 0=NonTrusted)",
      Port(), secMode);
  if (secMode != 0 && secMode != 1) return false;
  if (reporter_ != nullptr)
    reporter_->WebDLFunction(3, "%sTRUSTED MODE", secMode == 0 ? "NON-" : "");
  if (Attached()) {
    ClearRequest(2);
    Request()[0] = kNandSecMode;
    Request()[1] = static_cast<uint8_t>(secMode);
    if (Transact(2, kShortTimeoutMs) == TXRX_ACCEPTED) return true;
  }
  Log("[COM%d]   FAIL", Port());
  return false;
}

bool DloadClient::NandFlashInitWithFile(ImageType type, int flag) {
  const ImageTypeRow& row = ImageTypeTable::Row(type);
  Log("[COM%d] >>NandFlashInitWithFile(%s)", Port(), row.name);
  sent_.Reset();
  const ImageView image = Image(type);
  if (!image.loaded || !Attached()) return false;
  const WithFileForm* form = nullptr;
  for (const auto& f : kWithFileForms) {
    if (row.withFileCommand != 0 && f.command == row.withFileCommand) form = &f;
  }
  if (form == nullptr) return false;
  if (image.size > form->maxImage) {
    Log("[COM%d] NandFlashInitWithFile(%s) - image of %u bytes, more than %u", Port(), row.name,
        image.size, form->maxImage);
    return false;
  }
  ClearRequest(static_cast<size_t>(form->length));
  Request()[0] = form->command;
  if (form->command != 0x49) {
    Request()[1] = 0x02;
    Request()[2] = 0x00;
  }
  if (form->command == 0x40) Request()[3] = flag != 0 ? 1 : 0;
  if (image.size > 0) std::memcpy(Request() + form->dataOffset, image.data, image.size);
  if (Transact(form->length, form->timeoutMs) != TXRX_ACCEPTED) {
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
  ClearRequest(sizeof(row.withoutFile));
  std::memcpy(Request(), row.withoutFile, row.withoutFileLength);
  if (Transact(row.withoutFileLength, kOpenTimeoutMs) != TXRX_ACCEPTED) {
    Log("[COM%d]   FAIL", Port());
    return false;
  }
  return true;
}

bool DloadClient::NandFlashImageInit(ImageType type) {
  const ImageTypeRow& row = ImageTypeTable::Row(type);
  Log("[COM%d] >>NandFlashImageInit(%s)", Port(), row.name);
  if (row.imageInitCode < 0 || !Attached()) return false;
  ClearRequest(5);
  Request()[0] = kNandImageInit;
  StoreU32le(Request() + 1, static_cast<uint32_t>(row.imageInitCode));
  return Transact(5, kImageInitTimeoutMs) == TXRX_ACCEPTED;
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

  int exceptionsInARow = 0;
  // A block still in RAM after the last packet (its program request cut by an exception) keeps
  // the loop going until it is programmed.
  while ((remaining > 0 || inBlock > 0) && !link_->IsAborted()) {
    try {
      if (inBlock == block || (remaining == 0 && inBlock > 0)) {
        // An exception cut the program request of a block that is complete in RAM.
        Log("  [COM%d] Exception and flashing recovery", Port());
      } else {
        int failures = 0;
        for (;;) {
          uint8_t* req = Request();
          ClearRequest(6 + packet);
          req[0] = kNandRamWrite;
          req[1] = static_cast<uint8_t>(target >> 16);
          req[2] = static_cast<uint8_t>(target >> 8);
          req[3] = static_cast<uint8_t>(target);
          StoreU16be(req + 4, static_cast<uint16_t>(packet));
          std::memcpy(req + 6, image.data + source, piece);
          if (Transact(static_cast<int>(6 + packet), kBlockTimeoutMs) == TXRX_ACCEPTED) break;
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
      }
      if (reporter_ != nullptr) reporter_->StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
      if (link_->IsAborted()) {
        Log("[COM%d] After Updating Progress - Abort Break", Port());
        break;
      }
      if (inBlock == block || remaining == 0) {
        uint8_t* req = Request();
        ClearRequest(9);
        req[0] = kNandProgram;
        StoreU32be(req + 1, nandAddress);
        StoreU32be(req + 5, inBlock);
        if (Transact(9, kBlockTimeoutMs) != TXRX_ACCEPTED) {
          debugBlock("Flash Programming", false);
          return false;
        }
        nandAddress += inBlock;
        inBlock = 0;
        target = 0;
      }
      exceptionsInARow = 0;
    } catch (...) {
      Log("[COM%d] NandFlashWrite() - Exception has occured", Port());
      if (++exceptionsInARow >= kMaxExceptionsInARow) return false;
      SleepMs(kExceptionWaitMs);
    }
  }
  return !link_->IsAborted();
}

bool DloadClient::NandFlashFinalize() {
  Log("[COM%d] >>Nand FLASH FINALIZE [DLOAD_NAND_FINALIZE_F]", Port());
  if (Attached()) {
    Request()[0] = kNandFinalizeF;
    if (Transact(1, kFinalizeTimeoutMs) == TXRX_ACCEPTED) {
      SleepMs(30);
      return true;
    }
  }
  Log("[COM%d]   FAIL", Port());
  return false;
}

bool DloadClient::EraseEfs() {
  Log("[COM%d] >>Erase EFS [DLOAD_NAND_ERASE_F]", Port());
  if (reporter_ != nullptr) reporter_->WebDLFunction(3, "ERASE EFS ...");
  if (Attached()) {
    Request()[0] = kNandEraseF;
    if (Transact(1, kEraseTimeoutMs) == TXRX_ACCEPTED) return true;
  }
  Log("[COM%d]   FAIL", Port());
  return false;
}

bool DloadClient::DloadReset() {
  Log("[COM%d] Reset [DLOAD]", Port());
  SleepMs(300);
  if (Attached()) {
    Request()[0] = kDloadResetF;
    Transact(1, kShortTimeoutMs);
  }
  SleepMs(300);
  return true;
}

}  // namespace tr52
