// The result codes of a download (0 = success), with one table of their names and meanings
// shared by the steps, the flows, every front end that shows a result and the tests. Header
// only: a host that shows results needs no library for it.
#pragma once

namespace tr52 {

// The numbers are what the host receives and what download records keep: never renumber.
enum class ResultCode : int {
  Ok = 0,
  OpenPort = 6,
  WrongBootMode = 8,
  Exception = 500,
  LoadImages = 501,
  NoPhone = 502,
  ModelMismatch = 503,
  DiagControl = 506,
  SecurityCodeRefused = 508,
  TrustedMode = 1001,
  PartitionTable = 1002,
  LogoInit = 1009,
  NandWrite = 1010,
  NandFinalize = 1011,
  Reset = 1012,
  EfsErase = 1013,
  DloadUnlockRefused = 1014,
  NoImage = 1015,
  DblInit = 1018,
  FsblInit = 1019,
  OsblInit = 1020,
  RemoveModule = 2001,
  DownloadModule = 2002,
  RemoveMedia = 2003,
  DownloadMedia = 2004,
  NvBackupFile = 3001,
  NvRestore = 3002,
  ReadBackupFile = 3003,
  SpcRefused = 3004,
  CnvBackup = 3005,
  CnvRestore = 3006,
  RamInit = 4006,
  RamWrite = 4007,
  RamProgram = 4008,
  AsyncWrite = 4010,
  CommMode = 5001,
  AmssInit = 5004,
  NoSuchFlow = 9001,
};

struct ResultCodeRow {
  ResultCode code;
  // The short text shown and recorded for the code: the name the logs give it where there is
  // one, else what went wrong.
  const char* name;
  // When a download ends with it.
  const char* meaning;
};

inline constexpr ResultCodeRow kResultCodeTable[] = {
    {ResultCode::Ok, "success", "the download finished"},
    {ResultCode::OpenPort, "ZU3G_ERROR_OPEN_PORT", "the phone's port could not be opened"},
    {ResultCode::WrongBootMode, "phone not in the booting mode the flow needs",
     "the phone answered in another mode than the flow needs"},
    {ResultCode::Exception, "download thread failed or download-mode time-out",
     "the download failed unexpectedly, or a download-mode request timed out"},
    {ResultCode::LoadImages, "images not loaded, package model wrong or EFS GANG image missing",
     "the package could not be read, is for another model or lacks the EFS GANG image"},
    {ResultCode::NoPhone, "no phone answered (No Phone)",
     "nobody answered the download-mode model-name request"},
    {ResultCode::ModelMismatch, "phone model is not TR52", "the phone names another model"},
    {ResultCode::DiagControl, "off-line or reset request refused",
     "the phone refused to go off line or to reset"},
    {ResultCode::SecurityCodeRefused, "security code refused",
     "the phone in normal mode refused the security code"},
    {ResultCode::TrustedMode, "trusted mode not set", "the programmer refused trusted mode"},
    {ResultCode::PartitionTable, "partition table not accepted",
     "the programmer refused the partition table"},
    {ResultCode::LogoInit, "FLEXIBLE LOGO not accepted for writing",
     "the programmer refused to open the logo image"},
    {ResultCode::NandWrite, "NandFlashWrite failed", "a block of a NAND image was not written"},
    {ResultCode::NandFinalize, "NandFlashFinalize failed", "a NAND image was not closed"},
    {ResultCode::Reset, "phone reset failed", "the phone refused the reset"},
    {ResultCode::EfsErase, "EFS erase failed", "the programmer did not erase the EFS"},
    {ResultCode::DloadUnlockRefused, "download-mode unlock refused",
     "the phone in download mode refused the unlock"},
    {ResultCode::NoImage, "ZU3G_ERROR_NO_IMAGE", "a selected image is not in the package"},
    {ResultCode::DblInit, "DBL not accepted for writing",
     "the programmer refused to open the DBL image"},
    {ResultCode::FsblInit, "FSBL not accepted for writing",
     "the programmer refused to open the FSBL image"},
    {ResultCode::OsblInit, "OSBL not accepted for writing",
     "the programmer refused to open the OSBL image"},
    {ResultCode::RemoveModule, "ZU3G_ERROR_REMOVE_MODULE",
     "the module folders could not be cleared"},
    {ResultCode::DownloadModule, "G3G_ERROR_DOWNLOAD_MODULE",
     "the module merge file was not written"},
    {ResultCode::RemoveMedia, "media folders not removed",
     "the media folders could not be cleared"},
    {ResultCode::DownloadMedia, "media merge file not written",
     "the media merge file was not written"},
    {ResultCode::NvBackupFile, "NV backup to file failed", "the full NV backup was not written"},
    {ResultCode::NvRestore, "NV restore failed", "the NV items were not written back"},
    {ResultCode::ReadBackupFile, "ZU3G_ERROR_READ_BACKUP_FILE",
     "the NV backup file could not be read"},
    {ResultCode::SpcRefused, "service programming code refused",
     "the phone refused the service programming code"},
    {ResultCode::CnvBackup, "calibration (CNV) backup failed",
     "the phone did not back up its calibration"},
    {ResultCode::CnvRestore, "calibration (CNV) restore or check failed",
     "the calibration was not restored, or its items do not check"},
    {ResultCode::RamInit, "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM (RAM download not prepared)",
     "the phone did not prepare the download through RAM"},
    {ResultCode::RamWrite, "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM (RAM write failed)",
     "a block for RAM was not written"},
    {ResultCode::RamProgram, "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM (program from RAM failed)",
     "the phone did not program the flash from RAM"},
    {ResultCode::AsyncWrite, "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH",
     "the pipelined write did not complete"},
    {ResultCode::CommMode, "communication mode not read",
     "the programmer did not say how it takes writes"},
    {ResultCode::AmssInit, "AMSS not accepted for writing",
     "the programmer refused to open the AMSS image"},
    {ResultCode::NoSuchFlow, "no such download flow", "the session's flow type selects no flow"},
};

// The number the host and the records see.
constexpr int ToInt(ResultCode code) {
  return static_cast<int>(code);
}

constexpr bool Failed(ResultCode code) {
  return code != ResultCode::Ok;
}

// The table's row for a number, or null for a number outside it.
constexpr const ResultCodeRow* FindResultCode(int code) {
  for (const ResultCodeRow& row : kResultCodeTable)
    if (ToInt(row.code) == code) return &row;
  return nullptr;
}

// The shown name of a result number ("unknown result" for a number outside the table).
constexpr const char* ResultCodeName(int code) {
  const ResultCodeRow* row = FindResultCode(code);
  return row != nullptr ? row->name : "unknown result";
}

constexpr const char* ResultCodeName(ResultCode code) {
  return ResultCodeName(ToInt(code));
}

}  // namespace tr52
