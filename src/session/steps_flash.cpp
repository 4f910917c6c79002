// Flash steps on a phone in download mode: trusted mode and partition table, the boot-code
// lock, the three ways of writing an image (NAND programmer, RAM download, pipelined write),
// the EFS erase and the reset at the end.
#include <string_view>

#include "base/messages.h"
#include "base/process_log.h"
#include "base/progress_reporter.h"
#include "commands/dload_client.h"
#include "commands/image_type_table.h"
#include "link/phone_link.h"
#include "package/image_store.h"
#include "platform/clock.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

// A download-mode step that failed because the phone stopped answering reports 500, whatever
// its own failure code.
int TimeoutOr(const StepContext& ctx, int code) {
  return ctx.link->RxStatus() == RxStatusCode::Timeout ? kResultException : code;
}

// The result code of a refused image initialisation, per image type.
int ImageInitFailure(int imageType) {
  switch (imageType) {
    case IMAGE_FLEXIBLE_LOGO:
      return kResultLogoInit;
    case IMAGE_DBL:
      return kResultDblInit;
    case IMAGE_FSBL:
      return kResultFsblInit;
    case IMAGE_OSBL:
      return kResultOsblInit;
    case IMAGE_AMSS:
      return kResultAmssInit;
    default:
      return 0;  // no image initialisation for other types
  }
}

bool HasImageData(int imageType) {
  return IsImageLoaded(imageType) && ImageData(imageType) != nullptr && ImageSize(imageType) > 0;
}

// Notes the image write that just ended in the download's facts, with the bytes it sent.
void NoteImageWrite(StepContext& ctx, int imageType, const char* method, bool written) {
  const SentBytes sent = ctx.dload->TakeSent();
  ImageWrite image;
  image.type = ImageTypeName(imageType);
  if (ctx.facts.package) {
    for (const LoadedImage& loaded : ctx.facts.package->images)
      if (loaded.type == image.type) image.name = loaded.name;
  }
  // Addresses 0 and 1 of the table mean "where the phone puts it", not a NAND address.
  const uint32_t start = ImageTypeTable::Row(imageType).nandStart;
  if (std::string_view(method) == kMethodNand && start > 1) image.address = start;
  image.method = method;
  image.size = sent.count;
  image.md5 = Md5Hex(sent.md5);
  image.written = written;
  ctx.facts.images.push_back(std::move(image));
}

}  // namespace

int PreNandDownload(StepContext& ctx) {
  Log("[COM%d] Pre Nand Download", ctx.port);
  if (!ctx.LinkOpen()) return kResultOpenPort;
  if (!ctx.dload->SetTrustedMode(1)) return kResultTrustedMode;
  const bool sent = ctx.dload->NandFlashInitWithFile(IMAGE_PARTITION_TBL, 0) ||
                    ctx.dload->NandFlashInitWithFile(IMAGE_PARTITION_TBL, 1);
  NoteImageWrite(ctx, IMAGE_PARTITION_TBL, kMethodPartitionTable, sent);
  return sent ? 0 : kResultPartitionTable;
}

bool BootCodeStillLocked(StepContext& ctx) {
  if (!ctx.dload->CheckBcplStatus()) return false;
  // The phone proves the release with the first bytes of OEMSBL; a download without OEMSBL
  // cannot release the lock, and the log says why.
  if (!HasImageData(IMAGE_OEMSBL))
    Log("[COM%d] OEMSBL is not part of this download: the boot-code lock cannot be released",
        ctx.port);
  bool stillOn = true;
  if (ctx.dload->UnlockBcpl()) {
    stillOn = ctx.dload->CheckBcplStatus();
    if (stillOn) Log("[COM%d] BCPE Operation Failed", ctx.port);
  }
  if (stillOn) Log("[COM%d] Boot-code lock still on: DBL, FSBL and OSBL are not written", ctx.port);
  return stillOn;
}

int NandDownload(StepContext& ctx, int imageType) {
  const char* name = ImageTypeName(imageType);
  Log("[COM%d] _NandDownload(%s)", ctx.port, name);
  if (!ctx.LinkOpen()) return kResultOpenPort;
  if (ctx.Selects(imageType) && !IsImageLoaded(imageType)) {
    Log("[COM%d] ERROR :  _NandDownload(%s) ... ZU3G_ERROR_NO_IMAGE", ctx.port, name);
    return kResultNoImage;
  }
  if (const int initFailure = ImageInitFailure(imageType); initFailure != 0) {
    if (!ctx.dload->NandFlashImageInit(static_cast<ImageType>(imageType))) return initFailure;
  }
  ctx.PointProgressAt(TYPE_WPARAM_WRITE_TO_FLASH);
  const bool sent = ctx.dload->NandFlashWrite(static_cast<ImageType>(imageType));
  const bool finalized = sent && ctx.dload->NandFlashFinalize();
  NoteImageWrite(ctx, imageType, kMethodNand, finalized);
  if (!sent) {
    Log("[COM%d] ERROR :  NandFlashWrite(%s)", ctx.port, name);
    return kResultNandWrite;
  }
  if (!finalized) {
    Log("[COM%d] ERROR :  NandFlashFinalize(%s)", ctx.port, name);
    return kResultNandFinalize;
  }
  return 0;
}

namespace {

// Both RAM preparations send the AMSS MODEM HEADER; without it they send zeros in its place.
void NoteMissingModemHeader(const StepContext& ctx) {
  if (!HasImageData(IMAGE_AMSS_MODEM_HEADER))
    Log("[COM%d] AMSS MODEM HEADER is not part of this download: the RAM download is prepared "
        "with an empty header",
        ctx.port);
}

// Prepares the phone's RAM for AMSS; 0 or 4006.
int PrepareRamDownload(StepContext& ctx) {
  const DloadParams& params = ctx.dload->Params();
  if (params.flag6) {
    NoteMissingModemHeader(ctx);
    if (ctx.dload->Dl_Init_2nd(IMAGE_AMSS)) return 0;
    SleepMs(1000);
    Log("[COM%d] ERROR Dl_Init_2nd() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.port);
    return kResultRamInit;
  }
  if (params.flag1) {
    Log("[COM%d] >>Dl_Init()", ctx.port);
    NoteMissingModemHeader(ctx);
    if (ctx.dload->Dl_Init()) return 0;
    SleepMs(1000);
    Log("[COM%d] ERROR Dl_Init() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.port);
    return kResultRamInit;
  }
  return kResultRamInit;
}

int RamDownloadAmss(StepContext& ctx) {
  Log("[COM%d] >>DOWNLOAD AMSS (RAM)", ctx.port);
  // A failed read offers no RAM initialisation, which PrepareRamDownload reports.
  static_cast<void>(ctx.dload->GetParameters());
  if (const int rc = PrepareRamDownload(ctx); rc != 0) return rc;

  ctx.Announce(TYPE_WPARAM_WRITE_AMSS_TO_RAM, 0, "TYPE_WPARAM_WRITE_TO_SDRAM = %d",
               TYPE_WPARAM_WRITE_AMSS_TO_RAM);
  ctx.PointProgressAt(TYPE_WPARAM_WRITE_AMSS_TO_RAM);
  Log("[COM%d] >>Dl_Write(IMAGE_AMSS)", ctx.port);
  const DlWriteResult written = ctx.dload->Dl_Write(IMAGE_AMSS);
  if (written == DlWriteResult::Failed) {
    NoteImageWrite(ctx, IMAGE_AMSS, kMethodRam, false);
    Log("[COM%d] ERROR Dl_Write() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.port);
    return kResultRamWrite;
  }
  // A port that closed under the write cannot be programmed from RAM.
  if (written == DlWriteResult::NotOpen) {
    NoteImageWrite(ctx, IMAGE_AMSS, kMethodRam, false);
    return kResultOpenPort;
  }

  ctx.Announce(TYPE_WPARAM_WRITE_TO_FLASH, 0, "TYPE_WPARAM_WRITE_TO_FLASH %d",
               TYPE_WPARAM_WRITE_TO_FLASH);
  Log("[COM%d] >>Dl_Program()", ctx.port);
  const bool programmed = ctx.dload->Dl_Program();
  NoteImageWrite(ctx, IMAGE_AMSS, kMethodRam, programmed);
  if (!programmed) {
    Log("[COM%d] ERROR Dl_Program() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.port);
    return kResultRamProgram;
  }
  return 0;
}

}  // namespace

int DownloadAmssRam(StepContext& ctx) {
  if (!ctx.Selects(IMAGE_AMSS)) return 0;
  const int rc = RamDownloadAmss(ctx);
  return rc == 0 || rc == kResultOpenPort ? rc : TimeoutOr(ctx, rc);
}

int AsyncWrite(StepContext& ctx, int imageType) {
  if (!ctx.Selects(IMAGE_AMSS) && !ctx.Selects(IMAGE_WINCE)) return 0;
  const auto type = static_cast<ImageType>(imageType);
  switch (imageType) {
    case IMAGE_AMSS:
      if (ctx.dialog != nullptr) {
        Log("[COM%d] 메시지 보냄 TYPE_WPARAM_WRITE_AMSS %d", ctx.port, 15);
        ctx.PointProgressAt(TYPE_WPARAM_WRITE_AMSS_TO_RAM);
      }
      // The preparation's result is not checked: the write that follows tells.
      static_cast<void>(ctx.dload->NandFlashImageInit(type));
      break;
    case IMAGE_EFS_GANG:
    case IMAGE_APPS:
    case IMAGE_EFS_GANG_APPS:
    case IMAGE_ZIMAGE_RAMDISK:
    case IMAGE_SYSTEM:
      static_cast<void>(ctx.dload->NandFlashInitWithoutFile(type));
      break;
    case IMAGE_APPSBL:
      static_cast<void>(ctx.dload->NandFlashInitWithFile(IMAGE_APPSBLHD, 0));
      break;
    default:
      break;
  }
  const bool written = ctx.dload->Dl_AsyncOptimizeWrite(type);
  NoteImageWrite(ctx, imageType, kMethodPipelined, written);
  if (written) return 0;
  Log("[COM%d] ERROR Dl_AsyncOptimizeWrite() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH", ctx.port);
  return TimeoutOr(ctx, kResultAsyncWrite);
}

int EfsEraseStep(StepContext& ctx) {
  if (!ctx.Has(OPT_ERASE_EFS)) return 0;
  if (ctx.dload->EraseEfs()) return 0;
  Log("[COM%d] ERROR EFS_ERASE", ctx.port);
  return TimeoutOr(ctx, kResultEfsErase);
}

int Reset_N_Close(StepContext& ctx, bool first) {
  if (!ctx.LinkOpen()) return kResultOpenPort;
  Log("[COM%d] _Reset_N_Close bFirst = %d", ctx.port, first ? 1 : 0);
  if (first)
    ctx.Announce(TYPE_WPARAM_RESET_THE_PHONE_1ST, 0, "TYPE_WPARAM_RESET_THE_PHONE_1ST %d",
                 TYPE_WPARAM_RESET_THE_PHONE_1ST);
  else
    ctx.Announce(TYPE_WPARAM_RESET_THE_PHONE_2ND, 0, "TYPE_WPARAM_RESET_THE_PHONE_2ND %d",
                 TYPE_WPARAM_RESET_THE_PHONE_2ND);
  ctx.dload->DloadReset();
  ctx.link->Close();
  return 0;
}

}  // namespace tr52
