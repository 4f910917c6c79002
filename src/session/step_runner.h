// The per-port holder of every protocol object of a download, and the steps built on them.
//
// The runner owns the PhoneLink, the four command clients and the ProgressReporter; it keeps
// copies of the session's flow type, image mask and options. The steps run on the worker
// thread and return a result code (0 = success).
#pragma once

#include <cstdint>
#include <memory>

#include "session/result_codes.h"
#include "win/window.h"

namespace tr52 {

class PhoneLink;
class DiagClient;
class DloadClient;
class NvClient;
class Efs2Client;
class ProgressReporter;

// Booting modes found by GetBootingMode.
constexpr uint8_t BOOT_UNKNOWN = 0;
constexpr uint8_t BOOT_DIAG = 1;
constexpr uint8_t BOOT_DLOAD = 2;
constexpr uint8_t BOOT_DIAG_CSW = 5;
constexpr uint8_t BOOT_DLOAD_C = 6;

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

  // Detects how the phone answers (mode in/out: 0 unknown, 1/5 normal, 2/6 download) and checks
  // its model name. 0, 502 (no phone) or 503 (another model).
  int GetBootingMode(uint8_t& mode);
  // Security code (modes 1, 5: 508 on refusal) or download-mode unlock (modes 2, 6: 1014).
  int Unlock(uint8_t mode);

  // Posts a step message to the dialog (when there is one). Returns true when posted.
  bool PostStep(unsigned wParam, win::LPARAM lParam = 0);

  PhoneLink* Link() const { return link_.get(); }
  DiagClient* Diag() const { return diag_.get(); }
  DloadClient* Dload() const { return dload_.get(); }
  NvClient* Nv() const { return nv_.get(); }
  Efs2Client* Efs() const { return efs_.get(); }
  ProgressReporter* Reporter() const { return reporter_.get(); }

  int FlowType() const { return flowType_; }
  uint32_t Options() const { return options_; }
  uint32_t ImageMask() const { return imageMask_; }
  uint8_t Port() const { return port_; }
  uint8_t BootMode() const { return bootMode_; }
  void SetBootMode(uint8_t mode) { bootMode_ = mode; }
  unsigned NotifyMsg() const { return notifyMsg_; }
  win::HWND Dialog() const { return dialog_; }

 private:
  void BindAll();

  std::unique_ptr<PhoneLink> link_;
  std::unique_ptr<DiagClient> diag_;
  std::unique_ptr<DloadClient> dload_;
  std::unique_ptr<NvClient> nv_;
  std::unique_ptr<Efs2Client> efs_;
  std::unique_ptr<ProgressReporter> reporter_;
  int flowType_ = 1;
  uint32_t options_ = 0;
  uint32_t imageMask_ = 0;
  uint8_t port_ = 0;
  uint8_t bootMode_ = BOOT_DIAG;
  unsigned notifyMsg_ = 0;
  win::HWND dialog_ = nullptr;
};

}  // namespace tr52
