// The per-port holder of every protocol object of a download.
//
// The runner owns the PhoneLink, the four command clients, the job of the download and the state
// of its run, and the StepContext through which the steps (download_steps.h) and flows
// (download_flows.h) reach them. Progress goes to the sink the running download was handed.
#pragma once

#include <memory>

#include "session/download_job.h"
#include "session/step_context.h"

namespace tr52 {

class StepRunner {
 public:
  // Takes the job, sets the boot mode to Diag and creates the protocol objects in their order.
  // The download reads its images from `images`, which outlives the runner.
  StepRunner(const DownloadJob& job, ImageCatalogue& images);
  // Closes the port if it is still open, then deletes link, DiagClient, DloadClient, NvClient
  // and Efs2Client, in that order.
  ~StepRunner();

  StepRunner(const StepRunner&) = delete;
  StepRunner& operator=(const StepRunner&) = delete;

  // Takes a new job and sets the boot mode back to Diag.
  void Configure(const DownloadJob& job);
  // Where the steps and clients report progress from now on (null: nowhere; the steps need one
  // while they run). The sink outlives its use.
  void UseProgress(ProgressSink* progress);

  // What the steps work on.
  StepContext& Context() { return ctx_; }
  const DownloadJob& Job() const { return job_; }
  RunState& State() { return run_; }

  PhoneLink* Link() const { return link_.get(); }
  DiagClient* Diag() const { return diag_.get(); }
  DloadClient* Dload() const { return dload_.get(); }
  NvClient* Nv() const { return nv_.get(); }
  Efs2Client* Efs() const { return efs_.get(); }
  ProgressSink* Progress() const { return progress_; }

 private:
  void BindAll();

  DownloadJob job_;
  RunState run_;
  std::unique_ptr<PhoneLink> link_;
  std::unique_ptr<DiagClient> diag_;
  std::unique_ptr<DloadClient> dload_;
  std::unique_ptr<NvClient> nv_;
  std::unique_ptr<Efs2Client> efs_;
  ProgressSink* progress_ = nullptr;
  StepContext ctx_;
};

}  // namespace tr52
