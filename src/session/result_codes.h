// The result codes of a download (0 = success) and their names, shared by the steps, the flows
// and every front end that shows a result.
#pragma once

namespace tr52 {

constexpr int kResultOk = 0;
constexpr int kResultOpenPort = 6;         // ZU3G_ERROR_OPEN_PORT
constexpr int kResultWrongBootMode = 8;    // the phone is not in the mode the flow needs
constexpr int kResultException = 500;      // worker thread failed, or a download-mode time-out
constexpr int kResultLoadImages = 501;     // images not loaded, model check, no EFS GANG
constexpr int kResultNoPhone = 502;        // nobody answered the emergency model-name request
constexpr int kResultModelMismatch = 503;  // model name is not "TR52"
constexpr int kResultDiagControl = 506;    // DIAG_CONTROL_F (off line or reset) refused
constexpr int kResultSecurityCodeRefused = 508;
constexpr int kResultTrustedMode = 1001;
constexpr int kResultPartitionTable = 1002;
constexpr int kResultLogoInit = 1009;
constexpr int kResultNandWrite = 1010;
constexpr int kResultNandFinalize = 1011;
constexpr int kResultReset = 1012;
constexpr int kResultEfsErase = 1013;
constexpr int kResultDloadUnlockRefused = 1014;
constexpr int kResultNoImage = 1015;  // ZU3G_ERROR_NO_IMAGE
constexpr int kResultDblInit = 1018;
constexpr int kResultFsblInit = 1019;
constexpr int kResultOsblInit = 1020;
constexpr int kResultRemoveModule = 2001;    // ZU3G_ERROR_REMOVE_MODULE
constexpr int kResultDownloadModule = 2002;  // G3G_ERROR_DOWNLOAD_MODULE
constexpr int kResultRemoveMedia = 2003;
constexpr int kResultDownloadMedia = 2004;
constexpr int kResultNvBackupFile = 3001;
constexpr int kResultNvRestore = 3002;
constexpr int kResultReadBackupFile = 3003;  // ZU3G_ERROR_READ_BACKUP_FILE
constexpr int kResultSpcRefused = 3004;
constexpr int kResultCnvBackup = 3005;
constexpr int kResultCnvRestore = 3006;
constexpr int kResultRamInit = 4006;     // TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM
constexpr int kResultRamWrite = 4007;    // TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM
constexpr int kResultRamProgram = 4008;  // TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_SDRAM
constexpr int kResultAsyncWrite = 4010;  // TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH
constexpr int kResultCommMode = 5001;
constexpr int kResultAmssInit = 5004;
constexpr int kResultNoSuchFlow = 9001;  // the session's flow type selects no flow

// A short text for a result code: the name the logs give it where there is one, else what went
// wrong ("success" for 0, "unknown result" for a code outside the table).
const char* ResultCodeName(int code);

}  // namespace tr52
