#include "session/download_session.h"

#include "base/messages.h"
#include "base/process_log.h"
#include "link/phone_link.h"
#include "package/image_store.h"
#include "session/download_flows.h"
#include "session/download_steps.h"
#include "session/step_runner.h"

namespace tr52 {

DownloadSession::DownloadSession(const SessionParams& params) {
  CopyParams(params);
  runner_ = std::make_unique<StepRunner>(flowType_, dialog_, notifyMsg_, imageMask_, options_);
}

DownloadSession::~DownloadSession() = default;

void DownloadSession::CopyParams(const SessionParams& params) {
  dialog_ = params.dialog;
  flowType_ = params.flowType;
  packagePath_ = params.packagePath;
  port_ = params.port;
  imageMask_ = params.imageMask;
  options_ = params.options;
  notifyMsg_ = params.notifyMsg;
  waitScale_ = params.waitScale;
}

void DownloadSession::ConfigureRunner() {
  runner_->Configure(flowType_, dialog_, notifyMsg_, imageMask_, options_, port_);
  runner_->SetWaitScale(waitScale_);
}

void DownloadSession::Start(const SessionParams& params) {
  CopyParams(params);
  ConfigureRunner();
}

bool DownloadSession::OpenPort() {
  return runner_->Link()->Open(port_);
}

void DownloadSession::ReportError(int code) {
  if (dialog_ == nullptr) return;
  win::PostMessage(dialog_, notifyMsg_, TYPE_WPARAM_UPGRADE_ERROR, code);
  Log("[COM%d] 메시지 보냄 - TYPE_WPARAM_UPGRADE_ERROR", port_);
}

int DownloadSession::Run() {
  PhoneLink& link = *runner_->Link();
  if (!link.Open(port_)) {
    Log("[COM%d] __DownloadThread :: Port[%d] Open Fail", port_, port_);
    ReportError(kResultOpenPort);
    return kResultOpenPort;
  }

  uint8_t mode = BOOT_UNKNOWN;
  if (const int rc = GetBootingMode(runner_->Context(), mode); rc != 0) {
    // The port stays open until the session is deleted.
    ReportError(rc);
    return rc;
  }
  if (IsDloadMode(mode)) flowType_ = kFlowEmergency;
  ConfigureRunner();

  if (dialog_ != nullptr) win::PostMessage(dialog_, notifyMsg_, TYPE_WPARAM_LOAD_BIN, 0);

  int result;
  if (!LoadImages(packagePath_, imageMask_))
    result = kResultLoadImages;
  else
    result = RunDownloadFlow(runner_->Context());

  link.Close();

  if ((flowType_ == kFlowEmergency || flowType_ == kFlowDownload) && dialog_ != nullptr) {
    if (result != 0) {
      ReportError(result);
    } else {
      win::PostMessage(dialog_, notifyMsg_, TYPE_WPARAM_UPGRADE_OK, 0);
      Log("[COM%d] 메시지 보냄 - TYPE_WPARAM_UPGRADE_OK", port_);
    }
  }
  return result;
}

}  // namespace tr52
