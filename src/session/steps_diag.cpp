// Steps on a phone in normal mode (DIAG): off line, reset, battery, and the switch into
// download mode.
#include "base/messages.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "commands/diag_client.h"
#include "link/phone_link.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

ResultCode OfflineMode(StepContext& ctx) {
  return ctx.diag->ChangeOfflineMode(kDiagModeOffline) ? ResultCode::Ok : ResultCode::DiagControl;
}

ResultCode DiagReset(StepContext& ctx) {
  return ctx.diag->ChangeOfflineMode(kDiagModeReset) ? ResultCode::Ok : ResultCode::DiagControl;
}

void CheckBatteryLevel(StepContext& ctx) {
  Log("[COM%d] >>Check Battery Level", ctx.job.port);
  int level = -1;
  if (!ctx.diag->GetBatteryLevel(level)) level = -1;
  ctx.Announce(TYPE_WPARAM_BATTERY_LEVEL_CHECK, level, "TYPE_WPARAM_BATTERY_LEVEL_CHECK %d",
               TYPE_WPARAM_BATTERY_LEVEL_CHECK);
  Log("[COM%d] Battery Level : %d", ctx.job.port, level);
}

ResultCode DloadMode(StepContext& ctx, bool quiet) {
  if (!ctx.LinkOpen()) return ResultCode::OpenPort;
  Log("[COM%d] _DloadMode()", ctx.job.port);
  if (!quiet && ctx.job.dialog != nullptr) {
    ctx.Announce(TYPE_WPARAM_CHANGE_DLOAD, 0, "TYPE_WPARAM_CHANGE_DLOAD %d",
                 TYPE_WPARAM_CHANGE_DLOAD);
  }
  if (Failed(OfflineMode(ctx))) {
    Log("[COM%d] ERROR _OfflineMode() ... _OfflineMode", ctx.job.port);
    return ResultCode::DiagControl;
  }
  ctx.diag->ChangeDloadMode();
  ctx.link->SetProtocolMode(Protocol::Dload);
  return ResultCode::Ok;
}

}  // namespace tr52
