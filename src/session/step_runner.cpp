#include "session/step_runner.h"

#include "base/progress_reporter.h"
#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "phonedata/efs2_client.h"
#include "phonedata/nv_client.h"

namespace tr52 {

StepRunner::StepRunner(const DownloadJob& job) : job_(job) {
  link_ = std::make_unique<PhoneLink>();
  dload_ = std::make_unique<DloadClient>();
  reporter_ = std::make_unique<ProgressReporter>();
  reporter_->SetTextTarget(job_.dialog);
  diag_ = std::make_unique<DiagClient>();
  nv_ = std::make_unique<NvClient>();
  efs_ = std::make_unique<Efs2Client>();
  ctx_.link = link_.get();
  ctx_.diag = diag_.get();
  ctx_.dload = dload_.get();
  ctx_.nv = nv_.get();
  ctx_.efs = efs_.get();
  ctx_.reporter = reporter_.get();
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
  dload_->AttachLink(link_.get(), reporter_.get());
  diag_->AttachLink(link_.get(), reporter_.get());
  nv_->AttachLink(link_.get(), reporter_.get());
  efs_->AttachLink(link_.get(), reporter_.get());
}

void StepRunner::Configure(const DownloadJob& job) {
  job_ = job;
  run_.bootMode = BootMode::Diag;
  reporter_->SetTextTarget(job_.dialog);
  reporter_->SetPort(job_.port);
  BindAll();
}

}  // namespace tr52
