// NV steps: the backup before the flash (a full backup to a file, or the phone's own
// calibration backup), the restore after it, and the calibration restore at the end.
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "commands/diag_client.h"
#include "phonedata/nv_client.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

// The calibration backup is made only when the phone holds these calibration items (item 571
// is read and logged, but a phone without a calibration date may still be backed up).
bool CalibrationPresent(const int (&flags)[5]) {
  return flags[1] == 1 && flags[2] == 1 && flags[3] == 1 && flags[4] == 1;
}

ResultCode FullBackup(StepContext& ctx, const std::string& fileName) {
  if (!ctx.LinkOpen()) return ResultCode::OpenPort;
  ctx.reporter->WebDLFunction(3, "BACKUP NV");
  NvRanges ranges;
  if (!ctx.diag->GetNvItemRanges(&ranges)) ranges = kDefaultNvRanges;
  if (!ctx.nv->SendSpc()) return ResultCode::SpcRefused;
  return ctx.nv->BackupNvToFile(fileName, ranges) != NV_RESULT_OK ? ResultCode::NvBackupFile
                                                                  : ResultCode::Ok;
}

ResultCode CalibrationBackup(StepContext& ctx) {
  if (!ctx.LinkOpen()) return ResultCode::OpenPort;
  int flags[5] = {};
  NvRecord record;
  for (int i = 0; i < 5; ++i) {
    record.Clear();
    // A read without answer leaves the record invalid: the item counts as missing.
    static_cast<void>(ctx.nv->NvRead(kCnvCheckItems[i].item, record));
    flags[i] = record.IsValid() ? 1 : 0;
  }
  if (CalibrationPresent(flags)) {
    ctx.reporter->WebDLFunction(3, "BACKUP CNV");
    if (ctx.nv->CnvBackup() != NV_RESULT_OK) {
      Log("[COM%d]  CNV_Backup FAILED", ctx.job.port);
      return ResultCode::CnvBackup;
    }
    return ResultCode::Ok;
  }
  if (record.status == NV_BADPARM_S) {
    Log("[COM%d]  NV_BADPARM_S Invalid NV Item inserted on the Phone", ctx.job.port);
  } else {
    Log("[COM%d]  Invalid NV Item inserted on the Phone", ctx.job.port);
    for (int i = 0; i < 5; ++i)
      Log("[COM%d]  %s=%d", ctx.job.port, kCnvCheckItems[i].name, flags[i]);
  }
  // Without its calibration items the phone has nothing worth a calibration backup.
  return ResultCode::Ok;
}

}  // namespace

ResultCode NvBackup(StepContext& ctx, const std::string& fileName) {
  if (ctx.Has(OPT_NV_BACKUP_FILE)) return FullBackup(ctx, fileName);
  if (ctx.Has(OPT_CNV_BACKUP)) return CalibrationBackup(ctx);
  return ResultCode::Ok;
}

ResultCode NV_Restore(StepContext& ctx, const char* fileName) {
  if (ctx.Has(OPT_NV_READ_FILE)) {
    if (!ctx.LinkOpen()) return ResultCode::OpenPort;
    ctx.reporter->WebDLFunction(3, "RESTORE NV");
    if (fileName != nullptr) {
      Log("[COM%d] _NV_Restore", ctx.job.port);
      if (ctx.nv->LoadNvBackupFile(fileName) != NV_RESULT_OK) {
        Log("[COM%d] ERROR _NV_Restore ... ZU3G_ERROR_READ_BACKUP_FILE", ctx.job.port);
        return ResultCode::ReadBackupFile;
      }
    }
  }
  if (ctx.Has(OPT_NV_RESTORE) || ctx.Has(OPT_NV_READ_FILE)) {
    if (!ctx.nv->SendSpc()) return ResultCode::SpcRefused;
    Log("[COM%d] _NV_Restore", ctx.job.port);
    if (ctx.nv->RestoreNvFromFile() != NV_RESULT_OK) return ResultCode::NvRestore;
  }
  return ResultCode::Ok;
}

ResultCode CnvRestoreAndReset(StepContext& ctx, BootMode mode) {
  Log("[COM%d] CNV Restore", ctx.job.port);
  if (const ResultCode rc = Unlock(ctx, mode); Failed(rc)) return rc;
  if (ctx.nv->CnvRestore() != NV_RESULT_OK) return ResultCode::CnvRestore;
  if (ctx.nv->CheckCnvItems() != NV_RESULT_OK) return ResultCode::CnvRestore;
  if (!ctx.diag->ChangeOfflineMode(kDiagModeReset)) return ResultCode::Reset;
  return ResultCode::Ok;
}

}  // namespace tr52
