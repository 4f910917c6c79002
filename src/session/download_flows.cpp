#include "session/download_flows.h"

#include <cstdio>
#include <string>

#include "base/process_log.h"
#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "package/image_catalogue.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

// Runs a step of the flow as the step running; ends the flow with the step's code when it is not
// 0, naming the step in the download's facts (the step that ended the download, for its record).
#define RETURN_IF_FAILED(name, call)                                                        \
  do {                                                                                      \
    ctx.run.step = (name);                                                                  \
    if (const ResultCode rc_ = (call); Failed(rc_)) return ctx.run.facts.EndsAt(name, rc_); \
  } while (0)

// Runs a detection as a step of the flow: its mode in `mode` when it succeeded.
#define DETECT_OR_RETURN(name, mode, detection)                                  \
  do {                                                                           \
    ctx.run.step = (name);                                                       \
    const BootDetection found_ = (detection);                                    \
    if (Failed(found_.result)) return ctx.run.facts.EndsAt(name, found_.result); \
    (mode) = found_.mode;                                                        \
  } while (0)

// The names the download's record gives the steps.
constexpr const char kStepOpenPort[] = "open port";
constexpr const char kStepEfsGangImage[] = "check EFS GANG image";
constexpr const char kStepSecurityCode[] = "security code";
constexpr const char kStepOffline[] = "off line";
constexpr const char kStepNvBackup[] = "NV backup";
constexpr const char kStepToDownloadMode[] = "switch to download mode";
constexpr const char kStepDetectDownload[] = "detect in download mode";
constexpr const char kStepDloadUnlock[] = "download-mode unlock";
constexpr const char kStepDetectNormal[] = "detect in normal mode";
constexpr const char kStepNvRestore[] = "NV restore";
constexpr const char kStepEraseMedia[] = "erase media";
constexpr const char kStepWriteMedia[] = "write media";
constexpr const char kStepWriteModules[] = "write modules";
constexpr const char kStepReset[] = "reset";
constexpr const char kStepCalibration[] = "calibration restore and reset";
constexpr const char kStepPartitionTable[] = "trusted mode and partition table";
constexpr const char kStepCommMode[] = "communication mode";
constexpr const char kStepEraseEfs[] = "erase EFS";
constexpr const char kStepResetAfterFlash[] = "reset after the flash";

std::string WriteStep(int imageType) {
  return std::string("write ") + ImageTypeName(imageType);
}

constexpr int kReacquireTries = 10;
constexpr uint64_t kReacquirePauseMs = 1000;

ResultCode CheckEfsGangImage(const ImageCatalogue& images) {
  if (images.HasImageData(IMAGE_EFS_GANG)) return ResultCode::Ok;
  Log("Check, DZ file is EFS Gang Image Not Found.");
  return ResultCode::LoadImages;
}

ResultCode InvalidBootingMode(StepContext& ctx, BootMode mode) {
  Log("[COM%d] Error Invalid Booting Mode = %d", ctx.job.port, ToInt(mode));
  ctx.link->Close();
  return ResultCode::WrongBootMode;
}

// Opens the port again and detects the phone from scratch; it must be back in normal mode.
BootDetection RedetectNormalMode(StepContext& ctx) {
  if (!ctx.link->Open(ctx.job.port)) return {ResultCode::OpenPort, BootMode::Unknown};
  const BootDetection found = GetBootingMode(ctx, BootMode::Unknown);
  if (Failed(found.result)) return found;
  if (!IsDiagMode(found.mode)) return {InvalidBootingMode(ctx, found.mode), found.mode};
  return found;
}

// EFS GANG and EFS GANG APPS go the pipelined way when the phone takes it.
ResultCode WriteEfsImage(StepContext& ctx, int imageType) {
  return ctx.dload->CommMode() == kCommModePipelined ? AsyncWrite(ctx, imageType)
                                                     : NandDownload(ctx, imageType);
}

ResultCode WriteAmss(StepContext& ctx) {
  if (ctx.dload->CommMode() == kCommModePipelined) return AsyncWrite(ctx, IMAGE_AMSS);
  const DloadParams& params = ctx.dload->Params();
  if ((params.valid && params.flag1) || params.flag6) return DownloadAmssRam(ctx);
  return NandDownload(ctx, IMAGE_AMSS);
}

// Calibration restore at the end of a download, then the final reset and its wait.
ResultCode RestoreCalibrationAndReset(StepContext& ctx, BootMode mode) {
  RETURN_IF_FAILED(kStepCalibration, CnvRestoreAndReset(ctx, mode));
  ctx.link->Close();
  Wait(ctx, kWaitReset);
  return ResultCode::Ok;
}

}  // namespace

BootDetection ReacquireInDownloadMode(StepContext& ctx) {
  for (int attempt = 1; attempt <= kReacquireTries; ++attempt) {
    if (ctx.link->Open(ctx.job.port)) return GetBootingMode(ctx, BootMode::Dload);
    if (attempt == kReacquireTries) break;
    RetryPause(ctx, kReacquirePauseMs);
  }
  Log("[COM%d] Port _DloadMode Open Fail[%d]", ctx.job.port, ctx.job.port);
  return {ResultCode::OpenPort, BootMode::Unknown};
}

ResultCode RunFlashBlock(StepContext& ctx) {
  RETURN_IF_FAILED(kStepPartitionTable, PreNandDownload(ctx));
  const bool bootCodeLocked = BootCodeStillLocked(ctx);
  if (!ctx.dload->GetCommMode()) return ctx.run.facts.EndsAt(kStepCommMode, ResultCode::CommMode);
  if (!bootCodeLocked) {
    for (int type : {IMAGE_DBL, IMAGE_FSBL, IMAGE_OSBL})
      if (ctx.Selects(type)) RETURN_IF_FAILED(WriteStep(type), NandDownload(ctx, type));
  }
  if (ctx.Selects(IMAGE_FLEXIBLE_LOGO))
    RETURN_IF_FAILED(WriteStep(IMAGE_FLEXIBLE_LOGO), NandDownload(ctx, IMAGE_FLEXIBLE_LOGO));
  // Kept for the write method below; a failed read offers nothing.
  static_cast<void>(ctx.dload->GetParameters());
  if (ctx.Selects(IMAGE_AMSS)) RETURN_IF_FAILED(WriteStep(IMAGE_AMSS), WriteAmss(ctx));
  RETURN_IF_FAILED(kStepEraseEfs, EfsEraseStep(ctx));
  for (int type : {IMAGE_EFS_GANG, IMAGE_EFS_GANG_APPS})
    if (ctx.Selects(type)) RETURN_IF_FAILED(WriteStep(type), WriteEfsImage(ctx, type));
  RETURN_IF_FAILED(kStepResetAfterFlash, Reset_N_Close(ctx, true));
  const bool efsWritten = ctx.Selects(IMAGE_EFS_GANG) || ctx.Selects(IMAGE_EFS_GANG_APPS);
  Wait(ctx, efsWritten ? kWaitDbCreation : kWaitReset);
  return ResultCode::Ok;
}

ResultCode RunNormalFlow(StepContext& ctx) {
  BootMode mode = BootMode::DiagCsw;
  ctx.run.bootMode = mode;
  RETURN_IF_FAILED(kStepEfsGangImage, CheckEfsGangImage(ctx.images));
  if (!ctx.LinkOpen()) return ctx.run.facts.EndsAt(kStepOpenPort, ResultCode::OpenPort);
  RETURN_IF_FAILED(kStepSecurityCode, Unlock(ctx, mode));
  RETURN_IF_FAILED(kStepOffline, OfflineMode(ctx));
  CheckBatteryLevel(ctx);
  char backupFile[32];
  std::snprintf(backupFile, sizeof(backupFile), "nv_backup_%d.nv2", ctx.job.port);
  RETURN_IF_FAILED(kStepNvBackup, NvBackup(ctx, backupFile));
  RETURN_IF_FAILED(kStepToDownloadMode, DloadMode(ctx, false));
  ctx.link->Close();
  Wait(ctx, kWaitEmergencyReset);
  DETECT_OR_RETURN(kStepDetectDownload, mode, ReacquireInDownloadMode(ctx));
  RETURN_IF_FAILED(kStepDloadUnlock, Unlock(ctx, mode));
  RETURN_IF_FAILED("flash", RunFlashBlock(ctx));

  DETECT_OR_RETURN(kStepDetectNormal, mode, RedetectNormalMode(ctx));
  if (!ctx.link->Open(ctx.job.port)) {
    Log("[COM%d] Final ZU3G_ERROR_OPEN_PORT::Port[%d]", ctx.job.port, ctx.job.port);
    return ctx.run.facts.EndsAt(kStepOpenPort, ResultCode::OpenPort);
  }
  RETURN_IF_FAILED(kStepSecurityCode, Unlock(ctx, mode));
  RETURN_IF_FAILED(kStepNvRestore, NV_Restore(ctx, nullptr));
  if (ctx.Selects(IMAGE_MEDIA)) {
    RETURN_IF_FAILED(kStepEraseMedia, MediaStep(ctx, false));
    RETURN_IF_FAILED(kStepWriteMedia, MediaStep(ctx, true));
  }
  if (ctx.Selects(IMAGE_MODULE)) RETURN_IF_FAILED(kStepWriteModules, ModuleStep(ctx, true));
  if (ctx.Selects(IMAGE_MEDIA) || ctx.Selects(IMAGE_MODULE)) {
    RETURN_IF_FAILED(kStepReset, DiagReset(ctx));
    Wait(ctx, kWaitDbCreation);
    ctx.link->Close();
    DETECT_OR_RETURN(kStepDetectNormal, mode, RedetectNormalMode(ctx));
  }
  if (!ctx.LinkOpen() || !ctx.Has(OPT_CNV_RESTORE)) return ResultCode::Ok;
  return RestoreCalibrationAndReset(ctx, mode);
}

ResultCode RunEmergencyFlow(StepContext& ctx) {
  if (!ctx.link->Open(ctx.job.port)) {
    Log("[COM%d] Port Open Fail", ctx.job.port);
    return ctx.run.facts.EndsAt(kStepOpenPort, ResultCode::OpenPort);
  }
  BootMode mode = BootMode::Dload;
  DETECT_OR_RETURN(kStepDetectDownload, mode, GetBootingMode(ctx, mode));
  if (!IsDloadMode(mode))
    return ctx.run.facts.EndsAt(kStepDetectDownload, ResultCode::WrongBootMode);
  RETURN_IF_FAILED(kStepEfsGangImage, CheckEfsGangImage(ctx.images));
  if (!ctx.LinkOpen()) return ctx.run.facts.EndsAt(kStepOpenPort, ResultCode::OpenPort);
  RETURN_IF_FAILED(kStepDloadUnlock, Unlock(ctx, mode));
  RETURN_IF_FAILED("flash", RunFlashBlock(ctx));
  if (!ctx.Has(OPT_CNV_RESTORE)) return ResultCode::Ok;

  DETECT_OR_RETURN(kStepDetectNormal, mode, RedetectNormalMode(ctx));
  return RestoreCalibrationAndReset(ctx, mode);
}

ResultCode RunDownloadFlow(StepContext& ctx) {
  switch (ctx.job.flowType) {
    case 1:
      return RunNormalFlow(ctx);
    case 0:
      return RunEmergencyFlow(ctx);
    default:
      Log("[COM%d] __DownloadThread :: no download flow %d", ctx.job.port, ctx.job.flowType);
      return ctx.run.facts.EndsAt("download flow", ResultCode::NoSuchFlow);
  }
}

}  // namespace tr52
