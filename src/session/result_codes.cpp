#include "session/result_codes.h"

namespace tr52 {

const char* ResultCodeName(int code) {
  switch (code) {
    case kResultOk:
      return "success";
    case kResultOpenPort:
      return "ZU3G_ERROR_OPEN_PORT";
    case kResultWrongBootMode:
      return "phone not in the booting mode the flow needs";
    case kResultException:
      return "download thread failed or download-mode time-out";
    case kResultLoadImages:
      return "images not loaded, package model wrong or EFS GANG image missing";
    case kResultNoPhone:
      return "no phone answered (No Phone)";
    case kResultModelMismatch:
      return "phone model is not TR52";
    case kResultDiagControl:
      return "off-line or reset request refused";
    case kResultSecurityCodeRefused:
      return "security code refused";
    case kResultTrustedMode:
      return "trusted mode not set";
    case kResultPartitionTable:
      return "partition table not accepted";
    case kResultLogoInit:
      return "FLEXIBLE LOGO not accepted for writing";
    case kResultNandWrite:
      return "NandFlashWrite failed";
    case kResultNandFinalize:
      return "NandFlashFinalize failed";
    case kResultReset:
      return "phone reset failed";
    case kResultEfsErase:
      return "EFS erase failed";
    case kResultDloadUnlockRefused:
      return "download-mode unlock refused";
    case kResultNoImage:
      return "ZU3G_ERROR_NO_IMAGE";
    case kResultDblInit:
      return "DBL not accepted for writing";
    case kResultFsblInit:
      return "FSBL not accepted for writing";
    case kResultOsblInit:
      return "OSBL not accepted for writing";
    case kResultRemoveModule:
      return "ZU3G_ERROR_REMOVE_MODULE";
    case kResultDownloadModule:
      return "G3G_ERROR_DOWNLOAD_MODULE";
    case kResultRemoveMedia:
      return "media folders not removed";
    case kResultDownloadMedia:
      return "media merge file not written";
    case kResultNvBackupFile:
      return "NV backup to file failed";
    case kResultNvRestore:
      return "NV restore failed";
    case kResultReadBackupFile:
      return "ZU3G_ERROR_READ_BACKUP_FILE";
    case kResultSpcRefused:
      return "service programming code refused";
    case kResultCnvBackup:
      return "calibration (CNV) backup failed";
    case kResultCnvRestore:
      return "calibration (CNV) restore or check failed";
    case kResultRamInit:
      return "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM (RAM download not prepared)";
    case kResultRamWrite:
      return "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM (RAM write failed)";
    case kResultRamProgram:
      return "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM (program from RAM failed)";
    case kResultAsyncWrite:
      return "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH";
    case kResultCommMode:
      return "communication mode not read";
    case kResultAmssInit:
      return "AMSS not accepted for writing";
    case kResultNoSuchFlow:
      return "no such download flow";
    default:
      return "unknown result";
  }
}

}  // namespace tr52
