// The two download flows and the flash block they share. Each reads like its numbered list:
// steps in order, a failed step ending the flow with that code unless a comment says
// otherwise.
#pragma once

#include <cstdint>

#include "session/download_steps.h"
#include "session/result_codes.h"
#include "session/step_context.h"

namespace tr52 {

// Flow 1: a phone answering in normal mode is backed up, switched into download mode, flashed,
// brought back and its calibration restored.
[[nodiscard]] ResultCode RunNormalFlow(StepContext& ctx);
// Flow 0: a phone found in download mode is flashed and, when it comes back in normal mode,
// its calibration restored.
[[nodiscard]] ResultCode RunEmergencyFlow(StepContext& ctx);
// The flash writes of both flows, from the partition table to the reset and its wait.
[[nodiscard]] ResultCode RunFlashBlock(StepContext& ctx);
// After the switch into download mode the phone reboots and its port comes back under the same
// number: up to ten tries to open it, one pause apart, then the phone is detected in download
// mode. OpenPort when the port never came back.
[[nodiscard]] BootDetection ReacquireInDownloadMode(StepContext& ctx);

// The flow that the job's flow type selects; NoSuchFlow for any other value.
[[nodiscard]] ResultCode RunDownloadFlow(StepContext& ctx);

}  // namespace tr52
