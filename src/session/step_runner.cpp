#include "session/step_runner.h"

#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "commands/image_source.h"
#include "link/phone_link.h"
#include "phonedata/efs2_client.h"
#include "phonedata/nv_client.h"

namespace tr52 {

StepRunner::StepRunner(const DownloadJob& job, ImageCatalogue& images)
    : job_(job), ctx_{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, job_, run_, images} {
  link_ = std::make_unique<PhoneLink>();
  dload_ = std::make_unique<DloadClient>();
  dload_->SetImageSource(ImagesOf(images));
  diag_ = std::make_unique<DiagClient>();
  nv_ = std::make_unique<NvClient>();
  efs_ = std::make_unique<Efs2Client>();
  ctx_.link = link_.get();
  ctx_.diag = diag_.get();
  ctx_.dload = dload_.get();
  ctx_.nv = nv_.get();
  ctx_.efs = efs_.get();
  BindAll();
}

StepRunner::~StepRunner() {
  if (link_ && link_->IsOpen()) link_->Close();
  link_.reset();
  diag_.reset();
  dload_.reset();
  nv_.reset();
  efs_.reset();
}

void StepRunner::BindAll() {
  ctx_.reporter = progress_;
  dload_->AttachLink(link_.get(), progress_);
  diag_->AttachLink(link_.get(), progress_);
  nv_->AttachLink(link_.get(), progress_);
  efs_->AttachLink(link_.get(), progress_);
}

void StepRunner::UseProgress(ProgressSink* progress) {
  progress_ = progress;
  BindAll();
}

void StepRunner::Configure(const DownloadJob& job) {
  job_ = job;
  run_.bootMode = BootMode::Diag;
}

}  // namespace tr52
