// Steps on a phone in normal mode (DIAG): off line, reset, battery, and the switch into
// download mode.
#include "base/messages.h"
#include "base/process_log.h"
#include "base/progress_reporter.h"
#include "commands/diag_client.h"
#include "link/phone_link.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

int OfflineMode(StepContext& ctx) {
  return ctx.diag->ChangeOfflineMode(kDiagModeOffline) ? 0 : kResultDiagControl;
}

int DiagReset(StepContext& ctx) {
  return ctx.diag->ChangeOfflineMode(kDiagModeReset) ? 0 : kResultDiagControl;
}

int CheckBatteryLevel(StepContext& ctx) {
  Log("[COM%d] >>Check Battery Level", ctx.port);
  int level = -1;
  if (!ctx.diag->GetBatteryLevel(level)) level = -1;
  ctx.Announce(TYPE_WPARAM_BATTERY_LEVEL_CHECK, level, "TYPE_WPARAM_BATTERY_LEVEL_CHECK %d",
               TYPE_WPARAM_BATTERY_LEVEL_CHECK);
  Log("[COM%d] Battery Level : %d", ctx.port, level);
  return 0;
}

int DloadMode(StepContext& ctx, bool quiet) {
  if (!ctx.LinkOpen()) return kResultOpenPort;
  Log("[COM%d] _DloadMode()", ctx.port);
  if (!quiet && ctx.dialog != nullptr) {
    ctx.reporter->SetTextTarget(ctx.dialog);
    ctx.Announce(TYPE_WPARAM_CHANGE_DLOAD, 0, "TYPE_WPARAM_CHANGE_DLOAD %d",
                 TYPE_WPARAM_CHANGE_DLOAD);
  }
  if (OfflineMode(ctx) != 0) {
    Log("[COM%d] ERROR _OfflineMode() ... _OfflineMode", ctx.port);
    return kResultDiagControl;
  }
  ctx.diag->ChangeDloadMode();
  ctx.link->SetProtocolMode(Protocol::Dload);
  return 0;
}

}  // namespace tr52
