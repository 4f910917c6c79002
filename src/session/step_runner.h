// The per-port holder of every protocol object of a download.
//
// The runner owns the PhoneLink, the four command clients and the ProgressReporter, and the
// StepContext through which the steps (download_steps.h) and flows (download_flows.h) reach
// them together with the copies of the session's flow type, image mask and options.
#pragma once

#include <cstdint>
#include <memory>

#include "session/result_codes.h"
#include "session/step_context.h"
#include "win/window.h"

namespace tr52 {

class StepRunner {
 public:
  // Stores the values, sets bootMode to 1 and creates the protocol objects in their order.
  StepRunner(int flowType, win::HWND dialog, unsigned notifyMsg, uint32_t imageMask,
             uint32_t options);
  // Closes the port if it is still open, then deletes link, DiagClient, DloadClient, NvClient,
  // Efs2Client and reporter, in that order.
  ~StepRunner();

  StepRunner(const StepRunner&) = delete;
  StepRunner& operator=(const StepRunner&) = delete;

  // Takes the session's values, sets bootMode to 1 and binds every protocol object again.
  void Configure(int flowType, win::HWND dialog, unsigned notifyMsg, uint32_t imageMask,
                 uint32_t options, uint8_t port);
  // How much faster than real time the named waits run (see StepContext::waitScale).
  void SetWaitScale(double scale) { ctx_.waitScale = scale >= 1.0 ? scale : 1.0; }

  // What the steps work on.
  StepContext& Context() { return ctx_; }

  PhoneLink* Link() const { return link_.get(); }
  DiagClient* Diag() const { return diag_.get(); }
  DloadClient* Dload() const { return dload_.get(); }
  NvClient* Nv() const { return nv_.get(); }
  Efs2Client* Efs() const { return efs_.get(); }
  ProgressReporter* Reporter() const { return reporter_.get(); }

  int FlowType() const { return ctx_.flowType; }
  uint32_t Options() const { return ctx_.options; }
  uint32_t ImageMask() const { return ctx_.imageMask; }
  uint8_t Port() const { return ctx_.port; }
  uint8_t BootMode() const { return ctx_.bootMode; }
  void SetBootMode(uint8_t mode) { ctx_.bootMode = mode; }
  unsigned NotifyMsg() const { return ctx_.notifyMsg; }
  win::HWND Dialog() const { return ctx_.dialog; }

 private:
  // The session's values, and bootMode back to 1.
  void StoreValues(int flowType, win::HWND dialog, unsigned notifyMsg, uint32_t imageMask,
                   uint32_t options);
  void BindAll();

  std::unique_ptr<PhoneLink> link_;
  std::unique_ptr<DiagClient> diag_;
  std::unique_ptr<DloadClient> dload_;
  std::unique_ptr<NvClient> nv_;
  std::unique_ptr<Efs2Client> efs_;
  std::unique_ptr<ProgressReporter> reporter_;
  StepContext ctx_;
};

}  // namespace tr52
