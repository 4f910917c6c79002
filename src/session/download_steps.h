// The steps of a download: small functions over the port's StepContext, each announcing itself
// to the pane, writing its log lines and turning the outcome into one ResultCode
// (result_codes.h). The flows (download_flows.h) string them together.
//
// Steps whose log name starts with an underscore (_OfflineMode, _NandDownload, ...) drop it
// here: such identifiers are reserved in C++. Their log lines keep the names.
#pragma once

#include <cstdint>
#include <string>

#include "session/result_codes.h"
#include "session/step_context.h"

namespace tr52 {

// --- detection and unlock (steps_detect.cpp) ----------------------------------------------
// What a detection found: its result and, when it succeeded, the phone's booting mode.
struct BootDetection {
  ResultCode result = ResultCode::Ok;
  BootMode mode = BootMode::Unknown;
};
// Detects how the phone answers, starting from what the caller expects (`from`: Unknown tries
// both modes, a normal mode asks DIAG first, a download mode asks download mode only), and
// checks its model name: Ok, NoPhone or ModelMismatch. Stores the mode in the run's state;
// notes the mode, and the first model name and banner the phone sent, in the run's facts.
[[nodiscard]] BootDetection GetBootingMode(StepContext& ctx, BootMode from);
// Security code (normal modes: SecurityCodeRefused) or download-mode unlock (download modes:
// DloadUnlockRefused).
[[nodiscard]] ResultCode Unlock(StepContext& ctx, BootMode mode);

// --- normal-mode (DIAG) steps (steps_diag.cpp) ----------------------------------------------
[[nodiscard]] ResultCode OfflineMode(StepContext& ctx);  // DIAG_CONTROL_F mode 1
[[nodiscard]] ResultCode DiagReset(StepContext& ctx);    // DIAG_CONTROL_F mode 2
// Reads and reports the battery level (-1 when unread); never fails.
void CheckBatteryLevel(StepContext& ctx);
// Announces CHANGE_DLOAD (unless quiet), takes the phone off line and into download mode.
[[nodiscard]] ResultCode DloadMode(StepContext& ctx, bool quiet);

// --- NV steps (steps_nv.cpp) --------------------------------------------------------------
// Full NV backup to `fileName` (option 0x0100) or the phone's own calibration backup (0x0800).
[[nodiscard]] ResultCode NvBackup(StepContext& ctx, const std::string& fileName);
// NV restore (options 0x0200 / 0x0400); `fileName` may be null.
[[nodiscard]] ResultCode NV_Restore(StepContext& ctx, const char* fileName);
// The end of a download that backed up its calibration: unlock, the phone's own restore, the
// check of the calibration items and the DIAG reset (1012 when refused).
[[nodiscard]] ResultCode CnvRestoreAndReset(StepContext& ctx, BootMode mode);

// --- flash steps (steps_flash.cpp) --------------------------------------------------------
// Each image write is noted in ctx.run.facts: what was sent, how, and whether it was written.
[[nodiscard]] ResultCode PreNandDownload(StepContext& ctx);  // trusted mode and partition table
// Checks the boot-code lock and tries to release it; true when it is still on (the boot
// loaders must then not be written). Never fails the download by itself.
[[nodiscard]] bool BootCodeStillLocked(StepContext& ctx);
[[nodiscard]] ResultCode NandDownload(StepContext& ctx, int imageType);
[[nodiscard]] ResultCode DownloadAmssRam(StepContext& ctx);
[[nodiscard]] ResultCode AsyncWrite(StepContext& ctx, int imageType);
[[nodiscard]] ResultCode EfsEraseStep(StepContext& ctx);
[[nodiscard]] ResultCode Reset_N_Close(StepContext& ctx, bool first);

// --- EFS2 steps (steps_efs.cpp) -----------------------------------------------------------
[[nodiscard]] ResultCode MediaStep(StepContext& ctx,
                                   bool flash);  // erase the media folders / write media
[[nodiscard]] ResultCode ModuleStep(StepContext& ctx,
                                    bool flash);  // remove the module folders / write modules

// --- waits (steps_wait.cpp) ---------------------------------------------------------------
struct NamedWait {
  const char* name;
  int seconds;
};
inline constexpr NamedWait kWaitReset{"Reset", 60};
inline constexpr NamedWait kWaitDbCreation{"DB Creation", 60};
inline constexpr NamedWait kWaitEmergencyReset{"Emergency Reset", 40};

// Sleeps `seconds` (compressed by ctx.job.waitScale); does not look at the port, but ends early
// when the link was aborted.
void WaitSeconds(const StepContext& ctx, uint8_t port, int seconds);
void Wait(const StepContext& ctx, const NamedWait& wait);
// The factor TR52_TIME_SCALE asks the named waits to run faster by (a station or demo compresses
// them), or 0 when it is unset, not a number or not above 1.
double WaitScaleFromEnvironment();
// That factor for a download on COM `port` when the port is declared in the port table (a
// virtual phone or a test peer); 0 for any other port, whose phone may be real: its reboot
// waits are never shortened. The first port of the process refused a set factor is said in the
// log, once.
double WaitScaleForPort(int port);
// The pause between two tries to open a port that is coming back (compressed like the waits).
void RetryPause(const StepContext& ctx, uint64_t ms);

}  // namespace tr52
