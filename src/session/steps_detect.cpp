// Detection and unlock: GetBootingMode (with the banner read) and Unlock.
#include <algorithm>
#include <cctype>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "package/image_type.h"
#include "phonedata/nv_client.h"
#include "session/download_steps.h"
#include "session/phone_model.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

bool IsOneOf(BootMode mode, std::initializer_list<BootMode> modes) {
  return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

}  // namespace

BootDetection GetBootingMode(StepContext& ctx, BootMode from) {
  BootMode mode = from;
  std::string name;
  DownloadFacts& facts = ctx.run.facts;
  if (ctx.diag && IsOneOf(mode, {BootMode::Unknown, BootMode::Diag, BootMode::DiagCsw})) {
    if (ctx.diag->GetModelName(name)) {
      if (!facts.model) facts.model = name;
      mode = BootMode::Diag;
      std::string banner;
      if (ctx.nv && ctx.nv->GetBanner(&banner)) {
        if (!facts.banner) facts.banner = banner;
        Log("Banner : %s", PrintableText(banner).c_str());
        if (banner.find("CSW") != std::string::npos) mode = BootMode::DiagCsw;
      }
    } else {
      mode = BootMode::Dload;
    }
  }

  if (ctx.dload && IsOneOf(mode, {BootMode::Unknown, BootMode::Dload, BootMode::DloadC})) {
    Log("[COM%d] EMERGENCY Booting Mode", ctx.job.port);
    if (!ctx.dload->GetEmergencyModelName(name)) {
      ctx.reporter->WebDLFunction(0, "No Phone");
      Log("[COM%d] GetEmergencyModelName - FAIL (No Phone)", ctx.job.port);
      return {ResultCode::NoPhone, mode};
    }
    if (!facts.model) facts.model = name;
    if (!name.empty() && name.back() == 'C') mode = BootMode::DloadC;
    if (IsEmergencyModelName(name)) {
      name = ModelFromEmergencyName(name);
      Log("DLOAD_VERRSP_F : %s", PrintableText(name).c_str());
    }
  }
  facts.bootModes.push_back(ToInt(mode));

  if (ctx.diag && IsOneOf(mode, {BootMode::Unknown, BootMode::Diag, BootMode::Dload,
                                 BootMode::DiagCsw, BootMode::DloadC})) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (name != kModelCode) {
      Log("[COM%d] Compare Model Name FAIL...Phone %s vs Dll %s", ctx.job.port,
          PrintableText(name).c_str(), kModelCode);
      return {ResultCode::ModelMismatch, mode};
    }
  }

  ctx.reporter->WebDLFunction(0, "%s", PrintableText(name).c_str());
  ctx.run.bootMode = mode;
  return {ResultCode::Ok, mode};
}

ResultCode Unlock(StepContext& ctx, BootMode mode) {
  if (IsDiagMode(mode))
    return ctx.diag->SetSecurityCode(kPhoneSecurityCode) ? ResultCode::Ok
                                                         : ResultCode::SecurityCodeRefused;
  if (IsDloadMode(mode))
    return ctx.dload->DloadUnlock(kPhoneSecurityCode) ? ResultCode::Ok
                                                      : ResultCode::DloadUnlockRefused;
  return ResultCode::Ok;
}

}  // namespace tr52
