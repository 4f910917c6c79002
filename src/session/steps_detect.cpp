// Detection and unlock: GetBootingMode (with the banner read) and Unlock.
#include <algorithm>
#include <cctype>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_reporter.h"
#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "package/image_store.h"
#include "phonedata/nv_client.h"
#include "session/download_steps.h"
#include "session/phone_model.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

bool IsOneOf(uint8_t mode, std::initializer_list<uint8_t> modes) {
  return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

}  // namespace

int GetBootingMode(StepContext& ctx, uint8_t& mode) {
  std::string name;
  DownloadFacts& facts = ctx.facts;
  if (ctx.diag && IsOneOf(mode, {BOOT_UNKNOWN, BOOT_DIAG, BOOT_DIAG_CSW})) {
    if (ctx.diag->GetModelName(name)) {
      if (!facts.model) facts.model = name;
      mode = BOOT_DIAG;
      std::string banner;
      if (ctx.nv && ctx.nv->GetBanner(&banner)) {
        if (!facts.banner) facts.banner = banner;
        Log("Banner : %s", PrintableText(banner).c_str());
        if (banner.find("CSW") != std::string::npos) mode = BOOT_DIAG_CSW;
      }
    } else {
      mode = BOOT_DLOAD;
    }
  }

  if (ctx.dload && IsOneOf(mode, {BOOT_UNKNOWN, BOOT_DLOAD, BOOT_DLOAD_C})) {
    Log("[COM%d] EMERGENCY Booting Mode", ctx.port);
    if (!ctx.dload->GetEmergencyModelName(name)) {
      ctx.reporter->WebDLFunction(0, "No Phone");
      Log("[COM%d] GetEmergencyModelName - FAIL (No Phone)", ctx.port);
      return kResultNoPhone;
    }
    if (!facts.model) facts.model = name;
    if (!name.empty() && name.back() == 'C') mode = BOOT_DLOAD_C;
    if (IsEmergencyModelName(name)) {
      name = ModelFromEmergencyName(name);
      Log("DLOAD_VERRSP_F : %s", PrintableText(name).c_str());
    }
  }
  facts.bootModes.push_back(mode);

  if (ctx.diag &&
      IsOneOf(mode, {BOOT_UNKNOWN, BOOT_DIAG, BOOT_DLOAD, BOOT_DIAG_CSW, BOOT_DLOAD_C})) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (name != kModelCode) {
      Log("[COM%d] Compare Model Name FAIL...Phone %s vs Dll %s", ctx.port,
          PrintableText(name).c_str(), kModelCode);
      return kResultModelMismatch;
    }
  }

  ctx.reporter->WebDLFunction(0, "%s", PrintableText(name).c_str());
  ctx.bootMode = mode;
  return 0;
}

int Unlock(StepContext& ctx, uint8_t mode) {
  if (mode == BOOT_DIAG || mode == BOOT_DIAG_CSW)
    return ctx.diag->SetSecurityCode(kPhoneSecurityCode) ? 0 : kResultSecurityCodeRefused;
  if (mode == BOOT_DLOAD || mode == BOOT_DLOAD_C)
    return ctx.dload->DloadUnlock(kPhoneSecurityCode) ? 0 : kResultDloadUnlockRefused;
  return 0;
}

}  // namespace tr52
