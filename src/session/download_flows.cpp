#include "session/download_flows.h"

#include <cstdio>
#include <string>

#include "base/process_log.h"
#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "package/image_store.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

// Ends the flow with the step's code when it is not 0.
#define RETURN_IF_FAILED(step)                        \
  do {                                                \
    if (const int rc_ = (step); rc_ != 0) return rc_; \
  } while (0)

constexpr int kReacquireTries = 10;
constexpr uint64_t kReacquirePauseMs = 1000;

bool HasEfsGangImage() {
  return ImageData(IMAGE_EFS_GANG) != nullptr && ImageSize(IMAGE_EFS_GANG) > 0;
}

int CheckEfsGangImage() {
  if (HasEfsGangImage()) return 0;
  Log("Check, DZ file is EFS Gang Image Not Found.");
  return kResultLoadImages;
}

int InvalidBootingMode(StepContext& ctx, uint8_t mode) {
  Log("[COM%d] Error Invalid Booting Mode = %d", ctx.port, mode);
  ctx.link->Close();
  return kResultWrongBootMode;
}

// Opens the port again and detects the phone from scratch; it must be back in normal mode.
int RedetectNormalMode(StepContext& ctx, uint8_t& mode) {
  if (!ctx.link->Open(ctx.port)) return kResultOpenPort;
  mode = BOOT_UNKNOWN;
  RETURN_IF_FAILED(GetBootingMode(ctx, mode));
  if (!IsDiagMode(mode)) return InvalidBootingMode(ctx, mode);
  return 0;
}

// After the switch into download mode the phone reboots and its port comes back under the same
// number: up to ten tries one pause apart, then the phone is detected in download mode.
int ReacquireInDownloadMode(StepContext& ctx, uint8_t& mode) {
  for (int attempt = 1; attempt <= kReacquireTries; ++attempt) {
    if (ctx.link->Open(ctx.port)) {
      mode = BOOT_DLOAD;
      return GetBootingMode(ctx, mode);
    }
    if (attempt == kReacquireTries) break;
    RetryPause(ctx, kReacquirePauseMs);
  }
  Log("[COM%d] Port _DloadMode Open Fail[%d]", ctx.port, ctx.port);
  return kResultOpenPort;
}

// EFS GANG and EFS GANG APPS go the pipelined way when the phone takes it.
int WriteEfsImage(StepContext& ctx, int imageType) {
  return ctx.dload->CommMode() == kCommModePipelined ? AsyncWrite(ctx, imageType)
                                                     : NandDownload(ctx, imageType);
}

int WriteAmss(StepContext& ctx) {
  if (ctx.dload->CommMode() == kCommModePipelined) return AsyncWrite(ctx, IMAGE_AMSS);
  const DloadParams& params = ctx.dload->Params();
  if ((params.valid && params.flag1) || params.flag6) return DownloadAmssRam(ctx);
  return NandDownload(ctx, IMAGE_AMSS);
}

// Calibration restore at the end of a download, then the final reset and its wait.
int RestoreCalibrationAndReset(StepContext& ctx, uint8_t mode) {
  RETURN_IF_FAILED(CnvRestoreAndReset(ctx, mode));
  ctx.link->Close();
  Wait(ctx, kWaitReset);
  return 0;
}

}  // namespace

int RunFlashBlock(StepContext& ctx) {
  RETURN_IF_FAILED(PreNandDownload(ctx));
  const bool bootCodeLocked = BootCodeStillLocked(ctx);
  if (!ctx.dload->GetCommMode(ctx.dload->CommMode())) return kResultCommMode;
  if (!bootCodeLocked) {
    if (ctx.Selects(IMAGE_DBL)) RETURN_IF_FAILED(NandDownload(ctx, IMAGE_DBL));
    if (ctx.Selects(IMAGE_FSBL)) RETURN_IF_FAILED(NandDownload(ctx, IMAGE_FSBL));
    if (ctx.Selects(IMAGE_OSBL)) RETURN_IF_FAILED(NandDownload(ctx, IMAGE_OSBL));
  }
  if (ctx.Selects(IMAGE_FLEXIBLE_LOGO)) RETURN_IF_FAILED(NandDownload(ctx, IMAGE_FLEXIBLE_LOGO));
  ctx.dload->GetParameters();  // kept for the write method below; a failed read offers nothing
  if (ctx.Selects(IMAGE_AMSS)) RETURN_IF_FAILED(WriteAmss(ctx));
  RETURN_IF_FAILED(EfsEraseStep(ctx));
  if (ctx.Selects(IMAGE_EFS_GANG)) RETURN_IF_FAILED(WriteEfsImage(ctx, IMAGE_EFS_GANG));
  if (ctx.Selects(IMAGE_EFS_GANG_APPS)) RETURN_IF_FAILED(WriteEfsImage(ctx, IMAGE_EFS_GANG_APPS));
  RETURN_IF_FAILED(Reset_N_Close(ctx, true));
  const bool efsWritten = ctx.Selects(IMAGE_EFS_GANG) || ctx.Selects(IMAGE_EFS_GANG_APPS);
  Wait(ctx, efsWritten ? kWaitDbCreation : kWaitReset);
  return 0;
}

int RunNormalFlow(StepContext& ctx) {
  uint8_t mode = BOOT_DIAG_CSW;
  ctx.bootMode = mode;
  RETURN_IF_FAILED(CheckEfsGangImage());
  if (!ctx.LinkOpen()) return kResultOpenPort;
  RETURN_IF_FAILED(Unlock(ctx, mode));
  RETURN_IF_FAILED(OfflineMode(ctx));
  CheckBatteryLevel(ctx);
  char backupFile[32];
  std::snprintf(backupFile, sizeof(backupFile), "nv_backup_%d.nv2", ctx.port);
  RETURN_IF_FAILED(NvBackup(ctx, backupFile));
  RETURN_IF_FAILED(DloadMode(ctx, false));
  ctx.link->Close();
  Wait(ctx, kWaitEmergencyReset);
  RETURN_IF_FAILED(ReacquireInDownloadMode(ctx, mode));
  RETURN_IF_FAILED(Unlock(ctx, mode));
  RETURN_IF_FAILED(RunFlashBlock(ctx));

  RETURN_IF_FAILED(RedetectNormalMode(ctx, mode));
  if (!ctx.link->Open(ctx.port)) {
    Log("[COM%d] Final ZU3G_ERROR_OPEN_PORT::Port[%d]", ctx.port, ctx.port);
    return kResultOpenPort;
  }
  RETURN_IF_FAILED(Unlock(ctx, mode));
  RETURN_IF_FAILED(NV_Restore(ctx, nullptr));
  if (ctx.Selects(IMAGE_MEDIA)) {
    RETURN_IF_FAILED(MediaStep(ctx, false));
    RETURN_IF_FAILED(MediaStep(ctx, true));
  }
  if (ctx.Selects(IMAGE_MODULE)) RETURN_IF_FAILED(ModuleStep(ctx, true));
  if (ctx.Selects(IMAGE_MEDIA) || ctx.Selects(IMAGE_MODULE)) {
    RETURN_IF_FAILED(DiagReset(ctx));
    Wait(ctx, kWaitDbCreation);
    ctx.link->Close();
    RETURN_IF_FAILED(RedetectNormalMode(ctx, mode));
  }
  if (!ctx.LinkOpen() || !ctx.Has(OPT_CNV_RESTORE)) return 0;
  return RestoreCalibrationAndReset(ctx, mode);
}

int RunEmergencyFlow(StepContext& ctx) {
  if (!ctx.link->Open(ctx.port)) {
    Log("[COM%d] Port Open Fail", ctx.port);
    return kResultOpenPort;
  }
  uint8_t mode = BOOT_DLOAD;
  RETURN_IF_FAILED(GetBootingMode(ctx, mode));
  if (!IsDloadMode(mode)) return kResultWrongBootMode;
  RETURN_IF_FAILED(CheckEfsGangImage());
  if (!ctx.LinkOpen()) return kResultOpenPort;
  RETURN_IF_FAILED(Unlock(ctx, mode));
  RETURN_IF_FAILED(RunFlashBlock(ctx));
  if (!ctx.Has(OPT_CNV_RESTORE)) return 0;

  if (!ctx.link->Open(ctx.port)) return kResultOpenPort;
  mode = BOOT_UNKNOWN;
  RETURN_IF_FAILED(GetBootingMode(ctx, mode));
  if (!IsDiagMode(mode)) return InvalidBootingMode(ctx, mode);
  return RestoreCalibrationAndReset(ctx, mode);
}

int RunDownloadFlow(StepContext& ctx) {
  switch (ctx.flowType) {
    case 1:
      return RunNormalFlow(ctx);
    case 0:
      return RunEmergencyFlow(ctx);
    default:
      Log("[COM%d] __DownloadThread :: no download flow %d", ctx.port, ctx.flowType);
      return kResultNoSuchFlow;
  }
}

}  // namespace tr52
