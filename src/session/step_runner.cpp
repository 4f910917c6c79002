#include "session/step_runner.h"

#include "base/progress_reporter.h"
#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "phonedata/efs2_client.h"
#include "phonedata/nv_client.h"

namespace tr52 {

StepRunner::StepRunner(int flowType, win::HWND dialog, unsigned notifyMsg, uint32_t imageMask,
                       uint32_t options)
    : flowType_(flowType),
      options_(options),
      imageMask_(imageMask),
      bootMode_(BOOT_DIAG),
      notifyMsg_(notifyMsg),
      dialog_(dialog) {
  link_ = std::make_unique<PhoneLink>();
  dload_ = std::make_unique<DloadClient>();
  reporter_ = std::make_unique<ProgressReporter>();
  reporter_->SetTextTarget(dialog_);
  link_->SetProgressReporter(reporter_.get());
  diag_ = std::make_unique<DiagClient>();
  nv_ = std::make_unique<NvClient>();
  efs_ = std::make_unique<Efs2Client>();
  BindAll();
}

StepRunner::~StepRunner() {
  if (link_ && link_->IsOpen()) link_->Close();
  link_.reset();
  diag_.reset();
  dload_.reset();
  nv_.reset();
  efs_.reset();
  reporter_.reset();
}

void StepRunner::BindAll() {
  dload_->AttachLink(link_.get(), reporter_.get(), dialog_);
  diag_->AttachLink(link_.get(), reporter_.get(), dialog_);
  nv_->Bind(link_.get(), reporter_.get(), dialog_);
  efs_->Bind(link_.get(), reporter_.get(), dialog_);
}

void StepRunner::Configure(int flowType, win::HWND dialog, unsigned notifyMsg, uint32_t imageMask,
                           uint32_t options, uint8_t port) {
  flowType_ = flowType;
  dialog_ = dialog;
  notifyMsg_ = notifyMsg;
  imageMask_ = imageMask;
  options_ = options;
  port_ = port;
  bootMode_ = BOOT_DIAG;
  reporter_->SetTextTarget(dialog_);
  reporter_->SetPort(port_);
  link_->SetProgressReporter(reporter_.get());
  BindAll();
}

bool StepRunner::PostStep(unsigned wParam, win::LPARAM lParam) {
  if (dialog_ == nullptr) return false;
  return win::PostMessage(dialog_, notifyMsg_, wParam, lParam);
}

}  // namespace tr52
