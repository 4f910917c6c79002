// The two download flows and the flash block they share. Each reads like its numbered list:
// steps in order, a non-zero step result ending the flow with that code unless a comment says
// otherwise.
#pragma once

#include <cstdint>

#include "session/step_context.h"

namespace tr52 {

// Flow 1: a phone answering in normal mode is backed up, switched into download mode, flashed,
// brought back and its calibration restored.
int RunNormalFlow(StepContext& ctx);
// Flow 0: a phone found in download mode is flashed and, when it comes back in normal mode,
// its calibration restored.
int RunEmergencyFlow(StepContext& ctx);
// The flash writes of both flows, from the partition table to the reset and its wait.
int RunFlashBlock(StepContext& ctx);
// After the switch into download mode the phone reboots and its port comes back under the same
// number: up to ten tries to open it, one pause apart, then the phone is detected in download
// mode (`mode` is set). kResultOpenPort when the port never came back.
int ReacquireInDownloadMode(StepContext& ctx, uint8_t& mode);

// The flow that ctx.flowType selects; kResultNoSuchFlow for any other value.
int RunDownloadFlow(StepContext& ctx);

}  // namespace tr52
