// Flash steps on a phone in download mode: trusted mode and partition table, the boot-code
// lock, the three ways of writing an image (NAND programmer, RAM download, pipelined write),
// the EFS erase and the reset at the end.
#include <string_view>

#include "base/messages.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "commands/dload_client.h"
#include "commands/image_type_table.h"
#include "link/phone_link.h"
#include "package/image_catalogue.h"
#include "platform/clock.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

// A download-mode step that failed because the phone stopped answering reports Exception, whatever
// its own failure code.
ResultCode TimeoutOr(const StepContext& ctx, ResultCode code) {
  return ctx.link->RxStatus() == RxStatusCode::Timeout ? ResultCode::Exception : code;
}

// The result code of a refused image initialisation, per image type.
ResultCode ImageInitFailure(int imageType) {
  switch (imageType) {
    case IMAGE_FLEXIBLE_LOGO:
      return ResultCode::LogoInit;
    case IMAGE_DBL:
      return ResultCode::DblInit;
    case IMAGE_FSBL:
      return ResultCode::FsblInit;
    case IMAGE_OSBL:
      return ResultCode::OsblInit;
    case IMAGE_AMSS:
      return ResultCode::AmssInit;
    default:
      return ResultCode::Ok;  // no image initialisation for other types
  }
}

// Notes the image write that just ended in the download's facts, with the bytes it sent.
void NoteImageWrite(StepContext& ctx, int imageType, const char* method, bool written) {
  const SentBytes sent = ctx.dload->TakeSent();
  ImageWrite image;
  image.type = ImageTypeName(imageType);
  if (ctx.run.facts.package) {
    for (const LoadedImage& loaded : ctx.run.facts.package->images)
      if (loaded.type == image.type) image.name = loaded.name;
  }
  // Addresses 0 and 1 of the table mean "where the phone puts it", not a NAND address.
  const uint32_t start = ImageTypeTable::Row(imageType).nandStart;
  if (std::string_view(method) == kMethodNand && start > 1) image.address = start;
  image.method = method;
  image.size = sent.count;
  image.md5 = Md5Hex(sent.md5);
  image.written = written;
  ctx.run.facts.images.push_back(std::move(image));
}

}  // namespace

ResultCode PreNandDownload(StepContext& ctx) {
  Log("[COM%d] Pre Nand Download", ctx.job.port);
  if (!ctx.LinkOpen()) return ResultCode::OpenPort;
  if (!ctx.dload->SetTrustedMode(1)) return ResultCode::TrustedMode;
  const bool sent = ctx.dload->NandFlashInitWithFile(IMAGE_PARTITION_TBL, 0) ||
                    ctx.dload->NandFlashInitWithFile(IMAGE_PARTITION_TBL, 1);
  NoteImageWrite(ctx, IMAGE_PARTITION_TBL, kMethodPartitionTable, sent);
  return sent ? ResultCode::Ok : ResultCode::PartitionTable;
}

bool BootCodeStillLocked(StepContext& ctx) {
  if (!ctx.dload->CheckBcplStatus()) return false;
  // The phone proves the release with the first bytes of OEMSBL; a download without OEMSBL
  // cannot release the lock, and the log says why.
  if (!ctx.images.HasImageData(IMAGE_OEMSBL))
    Log("[COM%d] OEMSBL is not part of this download: the boot-code lock cannot be released",
        ctx.job.port);
  bool stillOn = true;
  if (ctx.dload->UnlockBcpl()) {
    stillOn = ctx.dload->CheckBcplStatus();
    if (stillOn) Log("[COM%d] BCPE Operation Failed", ctx.job.port);
  }
  if (stillOn)
    Log("[COM%d] Boot-code lock still on: DBL, FSBL and OSBL are not written", ctx.job.port);
  return stillOn;
}

ResultCode NandDownload(StepContext& ctx, int imageType) {
  const char* name = ImageTypeName(imageType);
  Log("[COM%d] _NandDownload(%s)", ctx.job.port, name);
  if (!ctx.LinkOpen()) return ResultCode::OpenPort;
  if (ctx.Selects(imageType) && !ctx.images.IsImageLoaded(imageType)) {
    Log("[COM%d] ERROR :  _NandDownload(%s) ... ZU3G_ERROR_NO_IMAGE", ctx.job.port, name);
    return ResultCode::NoImage;
  }
  if (const ResultCode initFailure = ImageInitFailure(imageType); Failed(initFailure)) {
    if (!ctx.dload->NandFlashImageInit(static_cast<ImageType>(imageType))) return initFailure;
  }
  ctx.PointProgressAt(TYPE_WPARAM_WRITE_TO_FLASH);
  const bool sent = ctx.dload->NandFlashWrite(static_cast<ImageType>(imageType));
  const bool finalized = sent && ctx.dload->NandFlashFinalize();
  NoteImageWrite(ctx, imageType, kMethodNand, finalized);
  if (!sent) {
    Log("[COM%d] ERROR :  NandFlashWrite(%s)", ctx.job.port, name);
    return ResultCode::NandWrite;
  }
  if (!finalized) {
    Log("[COM%d] ERROR :  NandFlashFinalize(%s)", ctx.job.port, name);
    return ResultCode::NandFinalize;
  }
  return ResultCode::Ok;
}

namespace {

// Both RAM preparations send the AMSS MODEM HEADER; without it they send zeros in its place.
void NoteMissingModemHeader(const StepContext& ctx) {
  if (!ctx.images.HasImageData(IMAGE_AMSS_MODEM_HEADER))
    Log("[COM%d] AMSS MODEM HEADER is not part of this download: the RAM download is prepared "
        "with an empty header",
        ctx.job.port);
}

// Prepares the phone's RAM for AMSS; Ok or RamInit.
ResultCode PrepareRamDownload(StepContext& ctx) {
  const DloadParams& params = ctx.dload->Params();
  if (params.flag6) {
    NoteMissingModemHeader(ctx);
    if (ctx.dload->Dl_Init_2nd(IMAGE_AMSS)) return ResultCode::Ok;
    SleepMs(1000);
    Log("[COM%d] ERROR Dl_Init_2nd() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.job.port);
    return ResultCode::RamInit;
  }
  if (params.flag1) {
    Log("[COM%d] >>Dl_Init()", ctx.job.port);
    NoteMissingModemHeader(ctx);
    if (ctx.dload->Dl_Init()) return ResultCode::Ok;
    SleepMs(1000);
    Log("[COM%d] ERROR Dl_Init() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.job.port);
    return ResultCode::RamInit;
  }
  return ResultCode::RamInit;
}

ResultCode RamDownloadAmss(StepContext& ctx) {
  Log("[COM%d] >>DOWNLOAD AMSS (RAM)", ctx.job.port);
  // A failed read offers no RAM initialisation, which PrepareRamDownload reports.
  static_cast<void>(ctx.dload->GetParameters());
  if (const ResultCode rc = PrepareRamDownload(ctx); Failed(rc)) return rc;

  ctx.Announce(TYPE_WPARAM_WRITE_AMSS_TO_RAM, 0, "TYPE_WPARAM_WRITE_TO_SDRAM = %d",
               TYPE_WPARAM_WRITE_AMSS_TO_RAM);
  ctx.PointProgressAt(TYPE_WPARAM_WRITE_AMSS_TO_RAM);
  Log("[COM%d] >>Dl_Write(IMAGE_AMSS)", ctx.job.port);
  const DlWriteResult written = ctx.dload->Dl_Write(IMAGE_AMSS);
  if (written == DlWriteResult::Failed) {
    NoteImageWrite(ctx, IMAGE_AMSS, kMethodRam, false);
    Log("[COM%d] ERROR Dl_Write() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.job.port);
    return ResultCode::RamWrite;
  }
  // A port that closed under the write cannot be programmed from RAM.
  if (written == DlWriteResult::NotOpen) {
    NoteImageWrite(ctx, IMAGE_AMSS, kMethodRam, false);
    return ResultCode::OpenPort;
  }

  ctx.Announce(TYPE_WPARAM_WRITE_TO_FLASH, 0, "TYPE_WPARAM_WRITE_TO_FLASH %d",
               TYPE_WPARAM_WRITE_TO_FLASH);
  Log("[COM%d] >>Dl_Program()", ctx.job.port);
  const bool programmed = ctx.dload->Dl_Program();
  NoteImageWrite(ctx, IMAGE_AMSS, kMethodRam, programmed);
  if (!programmed) {
    Log("[COM%d] ERROR Dl_Program() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM", ctx.job.port);
    return ResultCode::RamProgram;
  }
  return ResultCode::Ok;
}

}  // namespace

ResultCode DownloadAmssRam(StepContext& ctx) {
  if (!ctx.Selects(IMAGE_AMSS)) return ResultCode::Ok;
  const ResultCode rc = RamDownloadAmss(ctx);
  return rc == ResultCode::Ok || rc == ResultCode::OpenPort ? rc : TimeoutOr(ctx, rc);
}

ResultCode AsyncWrite(StepContext& ctx, int imageType) {
  if (!ctx.Selects(IMAGE_AMSS) && !ctx.Selects(IMAGE_WINCE)) return ResultCode::Ok;
  const auto type = static_cast<ImageType>(imageType);
  switch (imageType) {
    case IMAGE_AMSS:
      if (ctx.job.dialog != nullptr) {
        Log("[COM%d] 메시지 보냄 TYPE_WPARAM_WRITE_AMSS %d", ctx.job.port, 15);
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
  if (written) return ResultCode::Ok;
  Log("[COM%d] ERROR Dl_AsyncOptimizeWrite() TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH",
      ctx.job.port);
  return TimeoutOr(ctx, ResultCode::AsyncWrite);
}

ResultCode EfsEraseStep(StepContext& ctx) {
  if (!ctx.Has(OPT_ERASE_EFS)) return ResultCode::Ok;
  if (ctx.dload->EraseEfs()) return ResultCode::Ok;
  Log("[COM%d] ERROR EFS_ERASE", ctx.job.port);
  return TimeoutOr(ctx, ResultCode::EfsErase);
}

ResultCode Reset_N_Close(StepContext& ctx, bool first) {
  if (!ctx.LinkOpen()) return ResultCode::OpenPort;
  Log("[COM%d] _Reset_N_Close bFirst = %d", ctx.job.port, first ? 1 : 0);
  if (first)
    ctx.Announce(TYPE_WPARAM_RESET_THE_PHONE_1ST, 0, "TYPE_WPARAM_RESET_THE_PHONE_1ST %d",
                 TYPE_WPARAM_RESET_THE_PHONE_1ST);
  else
    ctx.Announce(TYPE_WPARAM_RESET_THE_PHONE_2ND, 0, "TYPE_WPARAM_RESET_THE_PHONE_2ND %d",
                 TYPE_WPARAM_RESET_THE_PHONE_2ND);
  ctx.dload->DloadReset();
  ctx.link->Close();
  return ResultCode::Ok;
}

}  // namespace tr52
