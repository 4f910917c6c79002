// The per-port holder of every protocol object of a download.
//
// The runner owns the PhoneLink, the four command clients and the ProgressReporter, the job of
// the download and the state of its run, and the StepContext through which the steps
// (download_steps.h) and flows (download_flows.h) reach them.
#pragma once

#include <memory>

#include "session/download_job.h"
#include "session/step_context.h"

namespace tr52 {

class StepRunner {
 public:
  // Takes the job, sets the boot mode to Diag and creates the protocol objects in their order.
  explicit StepRunner(const DownloadJob& job);
  // Closes the port if it is still open, then deletes link, DiagClient, DloadClient, NvClient,
  // Efs2Client and reporter, in that order.
  ~StepRunner();

  StepRunner(const StepRunner&) = delete;
  StepRunner& operator=(const StepRunner&) = delete;

  // Takes a new job, sets the boot mode back to Diag and binds every protocol object again.
  void Configure(const DownloadJob& job);

  // What the steps work on.
  StepContext& Context() { return ctx_; }
  const DownloadJob& Job() const { return job_; }
  RunState& State() { return run_; }

  PhoneLink* Link() const { return link_.get(); }
  DiagClient* Diag() const { return diag_.get(); }
  DloadClient* Dload() const { return dload_.get(); }
  NvClient* Nv() const { return nv_.get(); }
  Efs2Client* Efs() const { return efs_.get(); }
  ProgressReporter* Reporter() const { return reporter_.get(); }

 private:
  void BindAll();

  DownloadJob job_;
  RunState run_;
  std::unique_ptr<PhoneLink> link_;
  std::unique_ptr<DiagClient> diag_;
  std::unique_ptr<DloadClient> dload_;
  std::unique_ptr<NvClient> nv_;
  std::unique_ptr<Efs2Client> efs_;
  std::unique_ptr<ProgressReporter> reporter_;
  StepContext ctx_{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, job_, run_};
};

}  // namespace tr52
